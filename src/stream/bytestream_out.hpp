#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// A sink for bytes: a file, standard output, a growing memory block, or nothing.
//
// Every write returns true on success and false on a short write or a failed allocation.
// Derived classes expose free room between `cursor_` and `limit_`; the inline writes copy
// there and only call the virtual `write_slow` when the room runs out.
//
// Streams that buffer (the file streams) may report a write failure late: the owner must
// call `flush()` and check it before it closes what lies beneath.
//
// Byte order: in the "LE" classes the `_le` operations copy the bytes unchanged and the
// `_be` operations reverse them.
class ByteStreamOut {
 public:
  ByteStreamOut() = default;
  ByteStreamOut(const ByteStreamOut&) = delete;
  ByteStreamOut& operator=(const ByteStreamOut&) = delete;
  virtual ~ByteStreamOut() = default;

  bool write_byte(std::uint8_t byte) {
    if (cursor_ != limit_) {
      *cursor_++ = byte;
      return true;
    }
    return write_slow(&byte, 1);
  }
  bool write_bytes(const void* buffer, std::size_t n) {
    if (static_cast<std::size_t>(limit_ - cursor_) >= n) {
      if (n) std::memcpy(cursor_, buffer, n);
      cursor_ += n;
      return true;
    }
    return write_slow(static_cast<const std::uint8_t*>(buffer), n);
  }
  // Zero-copy fast path for record writers: when `n` bytes of room are free, claims them and
  // returns their address for the caller to fill before the next write or seek; otherwise
  // claims nothing and returns null, and the caller falls back to `write_bytes`.
  std::uint8_t* claim_bytes(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - cursor_) < n) return nullptr;
    std::uint8_t* bytes = cursor_;
    cursor_ += n;
    return bytes;
  }
  bool write16_le(const void* src) { return write_ordered(src, 2, !reverse_le_); }
  bool write32_le(const void* src) { return write_ordered(src, 4, !reverse_le_); }
  bool write64_le(const void* src) { return write_ordered(src, 8, !reverse_le_); }
  bool write16_be(const void* src) { return write_ordered(src, 2, reverse_le_); }
  bool write32_be(const void* src) { return write_ordered(src, 4, reverse_le_); }
  bool write64_be(const void* src) { return write_ordered(src, 8, reverse_le_); }

  // Convenience: write a value of type T little-endian.
  template <typename T>
  bool write_le(T value) {
    return write_ordered(&value, sizeof(T), !reverse_le_);
  }

  virtual bool can_seek() const = 0;
  virtual std::int64_t position() const = 0;
  virtual bool seek_to(std::int64_t pos) = 0;
  virtual bool seek_to_end() = 0;
  // Pushes buffered bytes to what lies beneath; false when that fails (or failed before).
  virtual bool flush() { return true; }

  // Bit-level writing of n <= 32 bits, least significant first, as 32-bit little-endian
  // words. `flush_bits` writes the pending bits as one more word.
  bool write_bits(std::uint32_t n, std::uint32_t value);
  bool flush_bits();

 protected:
  // Writes n bytes that did not fit between cursor_ and limit_.
  virtual bool write_slow(const std::uint8_t* buffer, std::size_t n) = 0;

  std::uint8_t* cursor_ = nullptr;
  std::uint8_t* limit_ = nullptr;
  bool reverse_le_ = false;

  std::uint64_t bit_buffer = 0;
  std::uint32_t bit_count = 0;

 private:
  bool write_ordered(const void* src, std::size_t n, bool plain) {
    if (plain) return write_bytes(src, n);
    std::uint8_t scratch[8];
    const auto* in = static_cast<const std::uint8_t*>(src);
    for (std::size_t i = 0; i < n; i++)
      scratch[i] = in[n - 1 - i];
    return write_bytes(scratch, n);
  }
};
