#include "stream/bytestream_piped.hpp"

#include <algorithm>
#include <new>

namespace {
constexpr std::size_t kBlock = ByteBlocks::kBlockSize;
}

bool read_into_blocks(ByteBlocks& blocks, std::FILE* file, std::int64_t limit,
                      bool* out_of_memory) {
  if (out_of_memory != nullptr) *out_of_memory = false;
  while (blocks.size < limit) {
    const std::size_t used = static_cast<std::size_t>(blocks.size) % kBlock;
    if (used == 0 && static_cast<std::size_t>(blocks.size) == blocks.allocated()) {
      std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[kBlock]);
      if (!block) {
        if (out_of_memory != nullptr) *out_of_memory = true;
        return false;
      }
      blocks.blocks.push_back(std::move(block));
    }
    std::uint8_t* at = blocks.blocks.back().get() + used;
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(kBlock - used), limit - blocks.size));
    const std::size_t got = std::fread(at, 1, wanted, file);
    blocks.size += static_cast<std::int64_t>(got);
    if (got < wanted) return true;
  }
  return false;
}

ByteStreamInBlocksThenFile::ByteStreamInBlocksThenFile(ByteBlocks head, std::FILE* file,
                                                       bool owns_file)
    : head_(std::move(head)), file_(file), owns_file_(owns_file) {
  if (!head_.blocks.empty()) {
    start_ = cursor_ = head_.blocks[0].get();
    limit_ = start_ + std::min<std::int64_t>(head_.size, kBlock);
  }
}

ByteStreamInBlocksThenFile::~ByteStreamInBlocksThenFile() {
  if (owns_file_ && file_ != nullptr) std::fclose(file_);
}

std::int64_t ByteStreamInBlocksThenFile::position() const {
  return base_ + (cursor_ - start_);
}

bool ByteStreamInBlocksThenFile::refill() {
  if (cursor_ != limit_) return true;
  base_ += limit_ - start_;
  if (!in_tail_) {
    // The block just read through goes at once.
    if (head_index_ < head_.blocks.size()) head_.blocks[head_index_].reset();
    head_index_++;
    const std::int64_t begin = static_cast<std::int64_t>(head_index_ * kBlock);
    if (head_index_ < head_.blocks.size() && begin < head_.size) {
      start_ = cursor_ = head_.blocks[head_index_].get();
      limit_ = start_ + std::min<std::int64_t>(head_.size - begin, kBlock);
      return true;
    }
    head_ = ByteBlocks{};
    in_tail_ = true;
    tail_.reset(new (std::nothrow) std::uint8_t[kTailBlock]);
  }
  if (!tail_ || file_ == nullptr) {
    start_ = cursor_ = limit_ = nullptr;
    return false;
  }
  const std::size_t got = std::fread(tail_.get(), 1, kTailBlock, file_);
  start_ = cursor_ = tail_.get();
  limit_ = start_ + got;
  return got > 0;
}

bool ByteStreamInBlocksThenFile::seek_to(std::int64_t pos) {
  if (pos < base_) return false;
  while (pos > base_ + (limit_ - start_)) {
    cursor_ = limit_;
    if (!refill()) return false;
  }
  cursor_ = start_ + (pos - base_);
  return true;
}
