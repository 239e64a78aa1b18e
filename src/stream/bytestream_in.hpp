#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Thrown by every read of a ByteStreamIn that runs out of data. Readers catch it around
// each field so that their message can name the field.
struct ByteStreamEndOfData {};

// A source of bytes: a file, standard input or a memory block.
//
// Reads never return an error: a read that cannot be satisfied throws ByteStreamEndOfData.
// Derived classes expose the bytes they hold between `cursor_` and `limit_`; the inline read
// operations copy from there and only call the virtual `refill` when it runs dry, so the
// per-point paths of the readers and decoders cost a compare and a copy.
//
// Byte order: in the "LE" classes the `_le` operations copy the bytes unchanged and the `_be`
// operations reverse them; `ByteStreamInFileBE` swaps the two roles.
class ByteStreamIn {
 public:
  ByteStreamIn() = default;
  ByteStreamIn(const ByteStreamIn&) = delete;
  ByteStreamIn& operator=(const ByteStreamIn&) = delete;
  virtual ~ByteStreamIn() = default;

  std::uint8_t read_byte() {
    if (cursor_ != limit_) return *cursor_++;
    return read_byte_slow();
  }
  void read_bytes(void* buffer, std::size_t n) {
    if (static_cast<std::size_t>(limit_ - cursor_) >= n) {
      if (n) std::memcpy(buffer, cursor_, n);
      cursor_ += n;
      return;
    }
    read_bytes_slow(static_cast<std::uint8_t*>(buffer), n);
  }
  // Zero-copy fast path for record readers: when `n` bytes are buffered, consumes them and
  // returns their address (valid until the next read or seek); otherwise consumes nothing
  // and returns null, and the caller falls back to `read_bytes`.
  const std::uint8_t* take_bytes(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - cursor_) < n) return nullptr;
    const std::uint8_t* bytes = cursor_;
    cursor_ += n;
    return bytes;
  }
  // For decoders that consume a number of bytes known only after looking at them: the
  // address of the next `n` buffered bytes without consuming them, or null when fewer are
  // buffered (the caller then reads them one by one). `skip_buffered(m)` consumes m <= n of
  // them; both are valid until the next read or seek.
  const std::uint8_t* peek_bytes(std::size_t n) const {
    return static_cast<std::size_t>(limit_ - cursor_) >= n ? cursor_ : nullptr;
  }
  void skip_buffered(std::size_t m) { cursor_ += m; }
  // How many bytes are buffered: what take_bytes and peek_bytes can hand out now.
  std::size_t buffered() const { return static_cast<std::size_t>(limit_ - cursor_); }
  void read16_le(void* dst) { read_ordered(dst, 2, !reverse_le_); }
  void read32_le(void* dst) { read_ordered(dst, 4, !reverse_le_); }
  void read64_le(void* dst) { read_ordered(dst, 8, !reverse_le_); }
  void read16_be(void* dst) { read_ordered(dst, 2, reverse_le_); }
  void read32_be(void* dst) { read_ordered(dst, 4, reverse_le_); }
  void read64_be(void* dst) { read_ordered(dst, 8, reverse_le_); }

  // Convenience: the next little-endian value of type T.
  template <typename T>
  T read_le() {
    T value;
    read_ordered(&value, sizeof(T), !reverse_le_);
    return value;
  }

  virtual bool can_seek() const = 0;
  virtual std::int64_t position() const = 0;
  virtual bool seek_to(std::int64_t pos) = 0;
  // position = end - distance
  virtual bool seek_from_end(std::int64_t distance) = 0;
  virtual bool skip(std::int64_t n) { return seek_to(position() + n); }

  // Bit-level reading of n <= 32 bits, least significant first, from 32-bit
  // little-endian words.
  std::uint32_t read_bits(std::uint32_t n);

 protected:
  // Makes at least one more byte available between cursor_ and limit_; false at the end of
  // the data. The base implementation has nothing more to offer.
  virtual bool refill() { return false; }
  // For sources without a buffer: copy n bytes straight to dst; false when fewer remain.
  // Only called when refill() leaves the buffer empty.
  virtual bool read_direct(std::uint8_t* dst, std::size_t n) {
    (void)dst;
    return n == 0;
  }

  const std::uint8_t* cursor_ = nullptr;
  const std::uint8_t* limit_ = nullptr;
  bool reverse_le_ = false;  // true in the BE class: the `_le` reads reverse

  std::uint64_t bit_buffer = 0;
  std::uint32_t bit_count = 0;

 private:
  std::uint8_t read_byte_slow();
  void read_bytes_slow(std::uint8_t* buffer, std::size_t n);
  void read_ordered(void* dst, std::size_t n, bool plain) {
    if (plain) {
      read_bytes(dst, n);
    } else {
      std::uint8_t scratch[8];
      read_bytes(scratch, n);
      auto* out = static_cast<std::uint8_t*>(dst);
      for (std::size_t i = 0; i < n; i++)
        out[i] = scratch[n - 1 - i];
    }
  }
};
