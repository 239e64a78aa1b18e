#include "stream/bytestream_out_file.hpp"

#include <sys/types.h>

ByteStreamOutFile::ByteStreamOutFile(std::FILE* file, std::size_t block_size)
    : file_(file), block_size_(block_size) {
  if (block_size_ > 0) block_ = std::make_unique<std::uint8_t[]>(block_size_);
  const off_t start = file_ ? ftello(file_) : -1;
  block_position_ = start >= 0 ? start : 0;
  cursor_ = block_.get();
  limit_ = block_.get() + block_size_;
}

ByteStreamOutFile::~ByteStreamOutFile() {
  hand_over();
}

bool ByteStreamOutFile::can_seek() const {
  return file_ != stdout;
}

std::int64_t ByteStreamOutFile::position() const {
  if (!block_) {
    const off_t pos = ftello(file_);
    return pos >= 0 ? pos : block_position_;
  }
  return block_position_ + (cursor_ - block_.get());
}

bool ByteStreamOutFile::flush() {
  if (!hand_over()) return false;
  // The FILE buffers too: a full disk only shows once its buffer reaches the system.
  if (std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}

bool ByteStreamOutFile::hand_over() {
  if (!block_) return !failed_;
  const std::size_t pending = static_cast<std::size_t>(cursor_ - block_.get());
  if (pending > 0) {
    if (failed_ || std::fwrite(block_.get(), 1, pending, file_) != pending) failed_ = true;
    block_position_ += static_cast<std::int64_t>(pending);
    cursor_ = block_.get();
  }
  return !failed_;
}

bool ByteStreamOutFile::write_slow(const std::uint8_t* buffer, std::size_t n) {
  if (!hand_over()) return false;
  if (!block_ || n >= block_size_) {
    if (std::fwrite(buffer, 1, n, file_) != n) {
      failed_ = true;
      return false;
    }
    block_position_ += static_cast<std::int64_t>(n);
    return true;
  }
  std::memcpy(cursor_, buffer, n);
  cursor_ += n;
  return true;
}

bool ByteStreamOutFile::seek_to(std::int64_t pos) {
  if (!hand_over()) return false;
  if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0) return false;
  block_position_ = pos;
  return true;
}

bool ByteStreamOutFile::seek_to_end() {
  if (!hand_over()) return false;
  if (fseeko(file_, 0, SEEK_END) != 0) return false;
  const off_t pos = ftello(file_);
  if (pos < 0) return false;
  block_position_ = pos;
  return true;
}
