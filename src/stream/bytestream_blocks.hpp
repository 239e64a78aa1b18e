#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

// The bytes of a memory stream held as a list of equal blocks. Growing never copies what
// was written and never holds two copies at once, so a stream of n bytes takes at most n
// plus one block: what a reader that keeps a whole input in memory needs.
struct ByteBlocks {
  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

  std::vector<std::unique_ptr<std::uint8_t[]>> blocks;
  std::int64_t size = 0;  // bytes written, counted from the first block

  std::size_t allocated() const { return blocks.size() * kBlockSize; }
};

// Writes into blocks it owns, adding a block whenever the last one is full. Seeking back
// and rewriting (a writer patching its header) is allowed anywhere below `size()`.
class ByteStreamOutBlocks : public ByteStreamOut {
 public:
  ByteStreamOutBlocks() = default;

  bool can_seek() const override { return true; }
  std::int64_t position() const override;
  bool seek_to(std::int64_t pos) override;
  bool seek_to_end() override { return seek_to(size()); }
  std::int64_t size() const;
  // Hands the blocks over (the stream is empty afterwards).
  ByteBlocks take_blocks();
  const ByteBlocks& blocks() const { return blocks_; }

 protected:
  bool write_slow(const std::uint8_t* buffer, std::size_t n) override;

 private:
  void note_size();
  // Points cursor_ and limit_ into block `index` at `offset`, adding blocks up to it.
  bool enter_block(std::size_t index, std::size_t offset);

  ByteBlocks blocks_;
  std::size_t current_ = 0;  // block that cursor_ lies in (valid when blocks exist)
};

// Reads blocks that it owns, as written by ByteStreamOutBlocks.
class ByteStreamInBlocks : public ByteStreamIn {
 public:
  explicit ByteStreamInBlocks(ByteBlocks blocks);

  bool can_seek() const override { return true; }
  std::int64_t position() const override;
  bool seek_to(std::int64_t pos) override;
  bool seek_from_end(std::int64_t distance) override {
    return distance >= 0 && distance <= blocks_.size && seek_to(blocks_.size - distance);
  }
  std::int64_t size() const { return blocks_.size; }
  std::size_t allocated() const { return blocks_.allocated(); }

 protected:
  bool refill() override;

 private:
  void enter_block(std::size_t index, std::size_t offset);

  ByteBlocks blocks_;
  std::size_t current_ = 0;
};
