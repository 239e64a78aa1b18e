#pragma once

#include "stream/bytestream_in.hpp"

// Reads a memory block that it borrows; the block must outlive the stream (or the next
// `init`).
class ByteStreamInArray : public ByteStreamIn {
 public:
  ByteStreamInArray() = default;
  ByteStreamInArray(const std::uint8_t* data, std::int64_t size) { init(data, size); }

  void init(const std::uint8_t* data, std::int64_t size) {
    data_ = data;
    size_ = data ? size : 0;
    cursor_ = data_;
    limit_ = data_ + size_;
  }

  bool can_seek() const override { return true; }
  std::int64_t position() const override { return cursor_ - data_; }
  bool seek_to(std::int64_t pos) override {
    if (pos < 0 || pos > size_) return false;
    cursor_ = data_ + pos;
    return true;
  }
  bool seek_from_end(std::int64_t distance) override {
    if (distance < 0 || distance > size_) return false;
    cursor_ = data_ + (size_ - distance);
    return true;
  }
  std::int64_t size() const { return size_; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::int64_t size_ = 0;
};

class ByteStreamInArrayLE : public ByteStreamInArray {
 public:
  using ByteStreamInArray::ByteStreamInArray;
};
