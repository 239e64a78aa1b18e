#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "las/las_reader.hpp"

class ByteStreamInBlocks;
class LASreaderLAS;

// Reads one main file together with the points of other files (its neighbouring tiles) that
// lie within `buffer_size` of the main file's bounding box, so that a tool judging each
// point by its surroundings sees across the tile's edges.
//
// What it reads: at `open`, the main file's header; then, for each buffer source whose
// rectangle (from a list file, else from its header) meets the main box grown by the
// buffer on every side, the source's points inside that grown box, through the source's
// spatial index when the opener attached one (the area query then reads only the runs that
// can lie inside), else by testing every point. Files beyond the buffer are never read.
//
// What it holds: the buffer points only, converted to the main file's scale factors and
// offsets and laid out like its points, compressed in memory (a few bytes a point). Memory
// grows with the number of buffer points, not with the neighbours' sizes.
//
// What it hands out: in the first pass after `open`, every main point in file order, then
// every buffer point; after `reopen`, the main points only, so that a tool writing what it
// reads never writes a buffer point. The buffer is dropped at that reopen unless it is told
// to remain (`remain_buffered`), in which case a later `reopen(true)` delivers the buffer
// points again after the main points. The header is the main file's: its counts describe
// the main points (`points_total` counts the buffer points too while they are delivered).
// Filter, transform and area set on this reader apply to main and buffer points alike; the
// main points come first in every pass, so stateful criteria see them in the same state.
//
// Owns the main reader, the memory and its names. Failures print one "ERROR: " line.
class LASreaderBuffered : public LASreader {
 public:
  // As for the merged reader: the reader of `file_name`, optionally converting coordinates.
  using Opener = std::function<std::unique_ptr<LASreader>(
      const std::string& file_name, bool header_only, const std::array<double, 3>* scale,
      const std::array<double, 3>* offset)>;

  struct Rectangle {
    double min_x, min_y, max_x, max_y;
  };

  LASreaderBuffered(Opener opener, double buffer_size);
  ~LASreaderBuffered() override;

  void set_main_file(std::string file_name) { main_name_ = std::move(file_name); }
  // A neighbour or another input; `bounds` from a list file spare opening it when it lies
  // beyond the buffer.
  void add_buffer_source(std::string file_name, std::optional<Rectangle> bounds = std::nullopt);

  // Opens the main file and gathers the buffer points. False after a message.
  bool open();
  bool reopen(bool remain_buffered);

  std::int64_t buffer_point_count() const { return buffer_points_; }
  std::int64_t buffer_bytes() const;
  // Whether the point just read came from a neighbour rather than from the main file.
  bool reading_buffer() const { return reading_buffer_; }

  int format_code() const override;
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override;
  void close_reader(bool close_stream = true) override;
  bool read_raw_point() override;

 private:
  struct Source {
    std::string name;
    std::optional<Rectangle> bounds;
  };

  bool gather_buffer();
  bool start_buffer_replay();

  Opener opener_;
  double buffer_size_;
  std::string main_name_;
  std::vector<Source> sources_;
  std::unique_ptr<LASreader> main_;
  std::unique_ptr<ByteStreamInBlocks> buffer_;
  std::unique_ptr<LASreaderLAS> buffer_reader_;
  std::int64_t buffer_points_ = 0;
  std::int64_t main_points_ = 0;
  bool deliver_buffer_ = true;
  bool reading_buffer_ = false;
  int main_format_code_ = 0;
};
