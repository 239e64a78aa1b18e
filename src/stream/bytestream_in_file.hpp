#pragma once

#include <cstdio>
#include <memory>

#include "stream/bytestream_in.hpp"

// Reads a C FILE (a file or standard input). The FILE is borrowed: the stream never opens
// or closes it. The stream reads ahead in blocks of its own, so the FILE's position runs
// ahead of `position()`; use only the stream while it is in use. Once a second block has
// been needed (a long sequential read, not a header), a background thread reads the
// following block while the caller works through the current one; a seek beyond the
// current block waits for that read and drops it.
class ByteStreamInFile : public ByteStreamIn {
 public:
  static constexpr std::size_t kDefaultBlockSize = 1 << 18;

  // block_size 0 reads straight from the FILE without a block of its own.
  explicit ByteStreamInFile(std::FILE* file, std::size_t block_size = kDefaultBlockSize);
  ~ByteStreamInFile() override;

  bool can_seek() const override;
  std::int64_t position() const override;
  bool seek_to(std::int64_t pos) override;
  bool seek_from_end(std::int64_t distance) override;

  std::FILE* file() const { return file_; }

 protected:
  bool refill() override;
  bool read_direct(std::uint8_t* dst, std::size_t n) override;

  std::FILE* file_;

 private:
  class ReadAhead;
  // Waits for a background read and forgets its bytes: the FILE then stands at the end of
  // the current block.
  void cancel_read_ahead();

  std::unique_ptr<std::uint8_t[]> block_;
  std::size_t block_size_;
  std::int64_t block_position_ = 0;        // file position of block_[0]
  std::uint32_t refills_ = 0;              // since the last seek, up to 2
  std::unique_ptr<ReadAhead> read_ahead_;  // made at the second refill
  bool read_ahead_unavailable_ = false;
};

class ByteStreamInFileLE : public ByteStreamInFile {
 public:
  explicit ByteStreamInFileLE(std::FILE* file, std::size_t block_size = kDefaultBlockSize)
      : ByteStreamInFile(file, block_size) {}
};

// Big-endian reads copy bytes as they are; little-endian reads reverse them.
class ByteStreamInFileBE : public ByteStreamInFile {
 public:
  explicit ByteStreamInFileBE(std::FILE* file, std::size_t block_size = kDefaultBlockSize)
      : ByteStreamInFile(file, block_size) {
    reverse_le_ = true;
  }
};
