#include "stream/bytestream_in.hpp"

#include <algorithm>

std::uint8_t ByteStreamIn::read_byte_slow() {
  if (refill() && cursor_ != limit_) return *cursor_++;
  std::uint8_t byte;
  if (read_direct(&byte, 1)) return byte;
  throw ByteStreamEndOfData{};
}

void ByteStreamIn::read_bytes_slow(std::uint8_t* buffer, std::size_t n) {
  std::size_t available = static_cast<std::size_t>(limit_ - cursor_);
  if (available) std::memcpy(buffer, cursor_, available);
  cursor_ += available;
  buffer += available;
  n -= available;
  while (n > 0) {
    if (!refill() || cursor_ == limit_) {
      if (read_direct(buffer, n)) return;
      throw ByteStreamEndOfData{};
    }
    available = std::min(n, static_cast<std::size_t>(limit_ - cursor_));
    std::memcpy(buffer, cursor_, available);
    cursor_ += available;
    buffer += available;
    n -= available;
  }
}

std::uint32_t ByteStreamIn::read_bits(std::uint32_t n) {
  if (n == 0) return 0;
  if (bit_count < n) {
    std::uint32_t word;
    read32_le(&word);
    bit_buffer |= static_cast<std::uint64_t>(word) << bit_count;
    bit_count += 32;
  }
  const std::uint32_t value =
      static_cast<std::uint32_t>(bit_buffer & ((static_cast<std::uint64_t>(1) << n) - 1));
  bit_buffer >>= n;
  bit_count -= n;
  return value;
}
