#include "stream/bytestream_out.hpp"

bool ByteStreamOut::write_bits(std::uint32_t n, std::uint32_t value) {
  if (n == 0) return true;
  if (n < 32) value &= (static_cast<std::uint32_t>(1) << n) - 1;
  bit_buffer |= static_cast<std::uint64_t>(value) << bit_count;
  bit_count += n;
  if (bit_count >= 32) {
    const auto word = static_cast<std::uint32_t>(bit_buffer);
    if (!write32_le(&word)) return false;
    bit_buffer >>= 32;
    bit_count -= 32;
  }
  return true;
}

bool ByteStreamOut::flush_bits() {
  if (bit_count == 0) return true;
  const auto word = static_cast<std::uint32_t>(bit_buffer);
  bit_buffer = 0;
  bit_count = 0;
  return write32_le(&word);
}
