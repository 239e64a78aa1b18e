#pragma once

#include <memory>

#include "stream/bytestream_out.hpp"

// Writes into a memory block that it owns and grows as needed. `size()` is the highest
// position ever written; seeking back and rewriting does not shrink it.
class ByteStreamOutArray : public ByteStreamOut {
 public:
  static constexpr std::size_t kGrowth = 4096;

  ByteStreamOutArray() : ByteStreamOutArray(kGrowth) {}
  explicit ByteStreamOutArray(std::size_t initial_allocation);

  bool can_seek() const override { return true; }
  std::int64_t position() const override { return cursor_ - data_.get(); }
  bool seek_to(std::int64_t pos) override;
  bool seek_to_end() override;

  const std::uint8_t* data() const { return data_.get(); }
  std::int64_t size() const;
  std::size_t allocated() const { return allocated_; }
  // Forgets the contents (size and position 0) and keeps the allocation.
  void clear();

 protected:
  bool write_slow(const std::uint8_t* buffer, std::size_t n) override;

 private:
  void note_size() {
    const std::int64_t at = position();
    if (at > size_) size_ = at;
  }

  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t allocated_ = 0;
  std::int64_t size_ = 0;
};

class ByteStreamOutArrayLE : public ByteStreamOutArray {
 public:
  using ByteStreamOutArray::ByteStreamOutArray;
};
