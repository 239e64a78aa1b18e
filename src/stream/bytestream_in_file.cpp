#include "stream/bytestream_in_file.hpp"

#include <sys/types.h>

ByteStreamInFile::ByteStreamInFile(std::FILE* file, std::size_t block_size)
    : file_(file), block_size_(block_size) {
  if (block_size_ > 0) block_ = std::make_unique<std::uint8_t[]>(block_size_);
  const off_t start = file_ ? ftello(file_) : -1;
  block_position_ = start >= 0 ? start : 0;
  cursor_ = limit_ = block_.get();
}

bool ByteStreamInFile::can_seek() const {
  return file_ != stdin;
}

std::int64_t ByteStreamInFile::position() const {
  if (!block_) {
    const off_t pos = ftello(file_);
    return pos >= 0 ? pos : 0;
  }
  return block_position_ + (cursor_ - block_.get());
}

bool ByteStreamInFile::seek_to(std::int64_t pos) {
  if (pos < 0) return false;
  if (block_) {
    const std::int64_t held = limit_ - block_.get();
    if (pos >= block_position_ && pos <= block_position_ + held) {
      cursor_ = block_.get() + (pos - block_position_);
      return true;
    }
  } else if (pos == position()) {
    return true;
  }
  if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0) return false;
  block_position_ = pos;
  cursor_ = limit_ = block_.get();
  return true;
}

bool ByteStreamInFile::seek_from_end(std::int64_t distance) {
  if (distance < 0) return false;
  if (fseeko(file_, -static_cast<off_t>(distance), SEEK_END) != 0) return false;
  const off_t pos = ftello(file_);
  if (pos < 0) return false;
  block_position_ = pos;
  cursor_ = limit_ = block_.get();
  return true;
}

bool ByteStreamInFile::refill() {
  if (!block_) return false;
  block_position_ += limit_ - block_.get();
  const std::size_t got = std::fread(block_.get(), 1, block_size_, file_);
  cursor_ = block_.get();
  limit_ = block_.get() + got;
  return got > 0;
}

bool ByteStreamInFile::read_direct(std::uint8_t* dst, std::size_t n) {
  if (block_) return false;
  return std::fread(dst, 1, n, file_) == n;
}

void ByteStreamInFile::drop_read_ahead() {
  if (!block_) return;
  const std::int64_t pos = position();
  if (cursor_ != limit_ && can_seek()) fseeko(file_, static_cast<off_t>(pos), SEEK_SET);
  block_position_ = pos;
  cursor_ = limit_ = block_.get();
}
