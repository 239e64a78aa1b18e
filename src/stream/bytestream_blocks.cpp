#include "stream/bytestream_blocks.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace {
constexpr std::size_t kBlock = ByteBlocks::kBlockSize;
}

// ---------------------------------------------------------------------------------------
// Writing

std::int64_t ByteStreamOutBlocks::position() const {
  if (blocks_.blocks.empty()) return 0;
  return static_cast<std::int64_t>(current_ * kBlock) + (cursor_ - blocks_.blocks[current_].get());
}

std::int64_t ByteStreamOutBlocks::size() const {
  return std::max(blocks_.size, position());
}

void ByteStreamOutBlocks::note_size() {
  blocks_.size = size();
}

bool ByteStreamOutBlocks::enter_block(std::size_t index, std::size_t offset) {
  while (blocks_.blocks.size() <= index) {
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[kBlock]);
    if (!block) return false;
    blocks_.blocks.push_back(std::move(block));
  }
  current_ = index;
  cursor_ = blocks_.blocks[index].get() + offset;
  limit_ = blocks_.blocks[index].get() + kBlock;
  return true;
}

bool ByteStreamOutBlocks::seek_to(std::int64_t pos) {
  note_size();
  if (pos < 0 || pos > blocks_.size) return false;
  const auto at = static_cast<std::size_t>(pos);
  // The end of a full last block stays in that block; the next write adds one.
  if (at == blocks_.allocated() && at > 0) return enter_block(at / kBlock - 1, kBlock);
  return enter_block(at / kBlock, at % kBlock);
}

bool ByteStreamOutBlocks::write_slow(const std::uint8_t* buffer, std::size_t n) {
  while (n > 0) {
    if (cursor_ == limit_) {
      note_size();
      const std::size_t next = blocks_.blocks.empty() ? 0 : current_ + 1;
      if (!enter_block(next, 0)) return false;
    }
    const std::size_t room = std::min(n, static_cast<std::size_t>(limit_ - cursor_));
    std::memcpy(cursor_, buffer, room);
    cursor_ += room;
    buffer += room;
    n -= room;
  }
  note_size();
  return true;
}

ByteBlocks ByteStreamOutBlocks::take_blocks() {
  note_size();
  ByteBlocks taken = std::move(blocks_);
  blocks_ = ByteBlocks{};
  current_ = 0;
  cursor_ = limit_ = nullptr;
  return taken;
}

// ---------------------------------------------------------------------------------------
// Reading

ByteStreamInBlocks::ByteStreamInBlocks(ByteBlocks blocks) : blocks_(std::move(blocks)) {
  enter_block(0, 0);
}

void ByteStreamInBlocks::enter_block(std::size_t index, std::size_t offset) {
  current_ = index;
  if (index >= blocks_.blocks.size()) {
    cursor_ = limit_ = nullptr;
    return;
  }
  const std::int64_t start = static_cast<std::int64_t>(index * kBlock);
  const std::size_t used =
      static_cast<std::size_t>(std::min<std::int64_t>(blocks_.size - start, kBlock));
  cursor_ = blocks_.blocks[index].get() + std::min(offset, used);
  limit_ = blocks_.blocks[index].get() + used;
}

std::int64_t ByteStreamInBlocks::position() const {
  if (current_ >= blocks_.blocks.size()) return blocks_.size;
  return static_cast<std::int64_t>(current_ * kBlock) + (cursor_ - blocks_.blocks[current_].get());
}

bool ByteStreamInBlocks::seek_to(std::int64_t pos) {
  if (pos < 0 || pos > blocks_.size) return false;
  const auto at = static_cast<std::size_t>(pos);
  if (at == static_cast<std::size_t>(blocks_.size) && at > 0 && at % kBlock == 0) {
    enter_block(at / kBlock - 1, kBlock);
  } else {
    enter_block(at / kBlock, at % kBlock);
  }
  return true;
}

bool ByteStreamInBlocks::refill() {
  if (cursor_ != limit_) return true;
  if (current_ + 1 >= blocks_.blocks.size()) return false;
  enter_block(current_ + 1, 0);
  return cursor_ != limit_;
}
