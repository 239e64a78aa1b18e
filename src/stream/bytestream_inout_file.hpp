#pragma once

#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_out_file.hpp"

// Reads and writes one FILE (opened "wb+" by its owner), for side files that are written
// and read back. Neither side buffers on its own, so reads and writes may alternate; the
// FILE is repositioned between a write and a read as the C library requires.
class ByteStreamInOutFileLE : public ByteStreamInFileLE, public ByteStreamOutFileLE {
 public:
  explicit ByteStreamInOutFileLE(std::FILE* file)
      : ByteStreamInFileLE(file, 0), ByteStreamOutFileLE(file, 0) {}

  bool can_seek() const override { return true; }
  std::int64_t position() const override { return ByteStreamInFileLE::position(); }
  bool seek_to(std::int64_t pos) override { return ByteStreamInFileLE::seek_to(pos); }
  bool seek_to_end() override { return ByteStreamOutFileLE::seek_to_end(); }

  ByteStreamIn& in() { return *this; }
  ByteStreamOut& out() { return *this; }

 protected:
  bool read_direct(std::uint8_t* dst, std::size_t n) override {
    reposition();
    return ByteStreamInFileLE::read_direct(dst, n);
  }
  bool write_slow(const std::uint8_t* buffer, std::size_t n) override {
    reposition();
    return ByteStreamOutFileLE::write_slow(buffer, n);
  }

 private:
  // A seek to the current position is what the C library asks for between a read and a
  // write on one FILE.
  void reposition() { fseeko(ByteStreamInFileLE::file_, 0, SEEK_CUR); }
};
