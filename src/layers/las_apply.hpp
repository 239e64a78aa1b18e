#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "las/las_reader.hpp"
#include "layers/lay_file.hpp"

// A reader over another reader that applies every layer of a LAY file while reading: the
// replaced classifications and withheld flags are on the points it delivers, and deleted
// points are not delivered at all.
//
// Use: `open` the LAY file that belongs to a point file (checking that it belongs to the
// file as the reader sees it), `load_layers`, then `take_reader` the reader. A reader taken
// without loaded layers is passed through unchanged. `open` and `load_layers` print nothing:
// false leaves the reason in `failure()` and the layers empty, and `damaged()` tells a LAY
// file that is there but cannot be read whole (cut, failing a checksum, no LAY file of a
// version this one reads) from one that is absent or belongs to another point file.
//
// The filter, the transform and the ignore set of the taken reader move to this one, so
// that they see the points with the layers applied; an area stays on the inner reader (it
// tests only x and y, which no layer changes). `points_done` is the number of stored
// points passed, deleted ones included, so `points_done - 1` is the stored number of the
// current point as for a plain reader; `points_total` and the header are the inner
// reader's (a writer's tally counts what was delivered).
//
// Ownership: owns the inner reader from `take_reader` on; the directory text is copied.
class LASapply : public LASreader {
 public:
  LASapply() = default;
  ~LASapply() override;

  // Where LAY files are looked for; null or empty: beside the point file.
  void set_directory(const char* directory) { directory_ = directory ? directory : ""; }

  // Reads the LAY file of `file_name` and checks its file header against the point file
  // that `reader` has open (its header, its point count, and the file's bytes: see
  // identify_point_file, `block_bytes` of the points and of the end are hashed).
  bool open(const LASreader& reader, const std::string& file_name, std::uint32_t block_bytes);
  // Decodes at most `max_layers` layers of the file `open` read.
  bool load_layers(std::uint32_t max_layers);
  // Forgets the layers (and the file read by `open`): the next reader taken is passed through.
  void open_without_layers() {
    layers_.clear();
    bytes_.clear();
    damaged_ = false;
    unchecked_ = false;
  }
  // Takes `reader` over (see above) and positions the layers at its next point.
  void take_reader(std::unique_ptr<LASreader> reader);
  // Gives the inner reader back (its filter, transform and ignore set returned to it).
  std::unique_ptr<LASreader> release_reader();

  const std::string& failure() const { return failure_; }
  // After a failed `open` or `load_layers`: the LAY file is there but damaged.
  bool damaged() const { return damaged_; }
  // After `open`: the LAY file is of the version without checksums (its layers are applied
  // as they read).
  bool unchecked() const { return unchecked_; }
  const std::string& lay_file_name() const { return lay_name_; }
  const std::vector<LAYlayer>& layers() const { return layers_; }

  int format_code() const override { return inner_ ? inner_->format_code() : 0; }
  bool is_layered() const override { return true; }
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override { return inner_ ? inner_->stream_of() : nullptr; }
  void close_reader(bool close_stream = true) override;
  bool read_raw_point() override;

 private:
  // Where a layer stands in the file: the first run that does not end before the point.
  struct Cursor {
    const LAYrun* run;
    const LAYrun* end;
    LAYattribute attribute;
  };
  void position_cursors(std::uint64_t index);

  std::unique_ptr<LASreader> inner_;
  std::string directory_;
  std::string lay_name_;
  std::string failure_;
  std::vector<std::uint8_t> bytes_;  // the LAY file between open and load_layers
  std::uint32_t layer_count_ = 0;
  std::size_t layers_at_ = 0;
  std::uint64_t point_count_ = 0;
  std::vector<LAYlayer> layers_;
  std::vector<Cursor> cursors_;
  bool damaged_ = false;
  bool unchecked_ = false;
};
