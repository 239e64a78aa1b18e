#pragma once

#include "stream/bytestream_out.hpp"

// Discards every byte and counts them: a writer over it learns how large its output would
// be. Seeking moves the position like in a file, so bytes rewritten after a seek back (a
// patched header) do not count twice; `size()` is the highest position reached.
class ByteStreamOutNil : public ByteStreamOut {
 public:
  bool can_seek() const override { return true; }
  std::int64_t position() const override { return position_; }
  bool seek_to(std::int64_t pos) override {
    if (pos < 0) return false;
    position_ = pos;
    return true;
  }
  bool seek_to_end() override {
    position_ = size_;
    return true;
  }
  std::int64_t size() const { return size_; }

 protected:
  bool write_slow(const std::uint8_t*, std::size_t n) override {
    position_ += static_cast<std::int64_t>(n);
    if (position_ > size_) size_ = position_;
    return true;
  }

 private:
  std::int64_t position_ = 0;
  std::int64_t size_ = 0;
};
