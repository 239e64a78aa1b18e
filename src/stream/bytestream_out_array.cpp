#include "stream/bytestream_out_array.hpp"

#include <algorithm>
#include <new>

ByteStreamOutArray::ByteStreamOutArray(std::size_t initial_allocation)
    : data_(new (std::nothrow) std::uint8_t[initial_allocation]),
      allocated_(data_ ? initial_allocation : 0) {
  cursor_ = data_.get();
  limit_ = data_.get() + allocated_;
}

std::int64_t ByteStreamOutArray::size() const {
  return std::max<std::int64_t>(size_, cursor_ - data_.get());
}

bool ByteStreamOutArray::seek_to(std::int64_t pos) {
  note_size();
  if (pos < 0 || pos > size_) return false;
  cursor_ = data_.get() + pos;
  return true;
}

bool ByteStreamOutArray::seek_to_end() {
  note_size();
  cursor_ = data_.get() + size_;
  return true;
}

void ByteStreamOutArray::clear() {
  size_ = 0;
  cursor_ = data_.get();
}

bool ByteStreamOutArray::write_slow(const std::uint8_t* buffer, std::size_t n) {
  const std::size_t used = static_cast<std::size_t>(cursor_ - data_.get());
  // Grow by at least one step and at least double, so that long streams of small writes
  // cost amortised constant time.
  std::size_t wanted = allocated_ + std::max(kGrowth, allocated_);
  if (wanted < used + n) wanted = used + n + kGrowth;
  std::unique_ptr<std::uint8_t[]> grown(new (std::nothrow) std::uint8_t[wanted]);
  if (!grown) return false;
  const std::size_t keep = static_cast<std::size_t>(size());
  if (keep) std::memcpy(grown.get(), data_.get(), keep);
  data_ = std::move(grown);
  allocated_ = wanted;
  cursor_ = data_.get() + used;
  limit_ = data_.get() + allocated_;
  std::memcpy(cursor_, buffer, n);
  cursor_ += n;
  note_size();
  return true;
}
