#pragma once

#include <cstdint>
#include <memory>

#include "las/las_reader.hpp"

class LASwriterLAS;

// Passes every point it reads on to standard output as an uncompressed LAS stream, so that
// another program can read along. Presents the inner reader's header and points as its own;
// filter, transform and area belong to the inner reader.
//
// Owns the inner reader and the writer. A failed write to standard output (the reading
// program went away) ends the reading with one "ERROR: " line: the points read so far were
// not all passed on, and the reader says so rather than going on silently.
class LASreaderPipeOn : public LASreader {
 public:
  LASreaderPipeOn();
  ~LASreaderPipeOn() override;

  bool open(std::unique_ptr<LASreader> inner);
  LASreader* inner() const { return inner_.get(); }

  int format_code() const override;
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override;
  void close_reader(bool close_stream = true) override;
  bool read_raw_point() override;

 private:
  void close_writer();

  std::unique_ptr<LASreader> inner_;
  std::unique_ptr<LASwriterLAS> writer_;
};
