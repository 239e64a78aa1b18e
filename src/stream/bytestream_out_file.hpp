#pragma once

#include <cstdio>
#include <memory>

#include "stream/bytestream_out.hpp"

// Writes to a C FILE (a file or standard output) that it borrows: the stream never opens or
// closes it. Bytes are gathered in a block of the stream's own and handed to the FILE when
// the block is full, on `flush`, on a seek and on destruction; a failed hand-over makes
// that write, and every later one, return false. `flush` also flushes the FILE, so that its
// result tells whether the bytes reached the system.
class ByteStreamOutFile : public ByteStreamOut {
 public:
  static constexpr std::size_t kDefaultBlockSize = 1 << 18;

  // block_size 0 writes straight to the FILE.
  explicit ByteStreamOutFile(std::FILE* file, std::size_t block_size = kDefaultBlockSize);
  ~ByteStreamOutFile() override;

  bool can_seek() const override;
  std::int64_t position() const override;
  bool seek_to(std::int64_t pos) override;
  bool seek_to_end() override;
  bool flush() override;

  std::FILE* file() const { return file_; }
  bool failed() const { return failed_; }

 protected:
  bool write_slow(const std::uint8_t* buffer, std::size_t n) override;
  // Hands the block to the FILE (without flushing the FILE).
  bool hand_over();

  std::FILE* file_;

 private:
  std::unique_ptr<std::uint8_t[]> block_;
  std::size_t block_size_;
  std::int64_t block_position_ = 0;  // file position of block_[0]
  bool failed_ = false;
};

class ByteStreamOutFileLE : public ByteStreamOutFile {
 public:
  explicit ByteStreamOutFileLE(std::FILE* file, std::size_t block_size = kDefaultBlockSize)
      : ByteStreamOutFile(file, block_size) {}
};
