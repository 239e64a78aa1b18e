#pragma once

#include "stream/bytestream_out.hpp"

// Discards every byte and counts them: a writer over it learns how large its output would
// be. Seeking succeeds and changes nothing.
class ByteStreamOutNil : public ByteStreamOut {
 public:
  bool can_seek() const override { return true; }
  std::int64_t position() const override { return count_; }
  bool seek_to(std::int64_t) override { return true; }
  bool seek_to_end() override { return true; }

 protected:
  bool write_slow(const std::uint8_t*, std::size_t n) override {
    count_ += static_cast<std::int64_t>(n);
    return true;
  }

 private:
  std::int64_t count_ = 0;
};
