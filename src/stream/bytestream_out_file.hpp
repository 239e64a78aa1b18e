#pragma once

#include <cstdio>
#include <memory>

#include "stream/bytestream_out.hpp"

// Writes to a C FILE (a file or standard output) that it borrows: the stream never opens or
// closes it. Bytes are gathered in a block of the stream's own. A full block goes to a
// background thread that hands it to the FILE while the caller fills the next one, so the
// system's copying of the bytes overlaps the caller's work; on `flush`, on a seek, on a
// write larger than a block and on destruction the stream first waits for the background
// writes and then hands over what is left itself. The FILE sees the bytes in the order
// they were written either way.
//
// A failed hand-over makes a later write (the one that hands over the next block, or the
// flush), and every write after it, return false: a refusal of the system can thus show
// one block late, but never later than `flush`, whose result tells whether every byte
// reached the system. The FILE must not be touched by anyone else until `flush` returned
// or the stream is destroyed.
class ByteStreamOutFile : public ByteStreamOut {
 public:
  static constexpr std::size_t kDefaultBlockSize = 1 << 18;

  // block_size 0 writes straight to the FILE, in the caller's thread.
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
  // Waits for the background writes and hands the block to the FILE (without flushing the
  // FILE). False when this or an earlier hand-over failed.
  bool hand_over();

  std::FILE* file_;

 private:
  class BackgroundWriter;
  // Gives the full block to the background writer and continues with a free one; falls
  // back to hand_over when no background thread can be had.
  bool hand_over_in_background();
  // Waits until the background writer has written every block given to it.
  bool wait_for_background();
  bool write_beyond_block(const std::uint8_t* buffer, std::size_t n);

  std::unique_ptr<std::uint8_t[]> block_;
  std::size_t block_size_;
  std::int64_t block_position_ = 0;  // file position of block_[0]
  bool failed_ = false;
  std::unique_ptr<BackgroundWriter> background_;  // made at the first full block
  bool background_unavailable_ = false;
};

class ByteStreamOutFileLE : public ByteStreamOutFile {
 public:
  explicit ByteStreamOutFileLE(std::FILE* file, std::size_t block_size = kDefaultBlockSize)
      : ByteStreamOutFile(file, block_size) {}
};
