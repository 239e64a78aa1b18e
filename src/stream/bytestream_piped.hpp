#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "stream/bytestream_blocks.hpp"
#include "stream/bytestream_in.hpp"

// Reading an input that arrives once (standard input, a FIFO) into memory.

// Appends what `file` delivers to `blocks` until it ends or `blocks` holds at least `limit`
// bytes. Memory follows what arrives, in whole blocks, never what a header announces.
// True when the input has ended (or failed to read, which the reader of the bytes then
// finds as a cut input); false when `limit` was reached first or a block could not be had
// (`out_of_memory` then set).
bool read_into_blocks(ByteBlocks& blocks, std::FILE* file, std::int64_t limit,
                      bool* out_of_memory = nullptr);

// Reads the bytes already taken from an input, then the rest of it, once, front to back.
// Each block is released as soon as the reading has passed it, so the head costs memory
// only until it has been read. Seeks go forward only (by skipping), or back within the
// bytes at hand.
class ByteStreamInBlocksThenFile : public ByteStreamIn {
 public:
  // `owns_file`: the FILE is closed with the stream (a FIFO opened by name); standard input
  // is only borrowed.
  ByteStreamInBlocksThenFile(ByteBlocks head, std::FILE* file, bool owns_file);
  ~ByteStreamInBlocksThenFile() override;

  bool can_seek() const override { return false; }
  std::int64_t position() const override;
  bool seek_to(std::int64_t pos) override;
  bool seek_from_end(std::int64_t) override { return false; }

 protected:
  bool refill() override;

 private:
  static constexpr std::size_t kTailBlock = std::size_t{1} << 18;

  ByteBlocks head_;
  std::size_t head_index_ = 0;  // block of head_ that the cursor lies in
  std::FILE* file_;
  bool owns_file_;
  std::unique_ptr<std::uint8_t[]> tail_;  // read from the FILE once the head is through
  bool in_tail_ = false;
  std::int64_t base_ = 0;                // stream position of the first byte at hand
  const std::uint8_t* start_ = nullptr;  // first byte at hand
};
