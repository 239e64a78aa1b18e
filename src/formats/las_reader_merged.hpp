#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "las/las_reader.hpp"

// Presents several input files of one format as a single point source with one merged
// header: counts summed, bounding box the union, scale factors and offsets widened when the
// union box does not fit 32-bit integers at the first file's scale.
//
// The merged reader knows formats only by name (for the mixing check); the caller hands it
// an opener that makes the reader of one file, converting its coordinates to given scale
// factors and offsets when asked, and a hook run on every file opened for reading (spatial
// index, flightline numbers). Filter, transform and area set on the merged reader apply to
// the merged points, in file order.
//
// A file that ends cut is read up to its cut, warned about once (`warn_when_cut` is handed
// to every file's reader) and leaves the merged reader short of its count or `ended_cut()`.
//
// Owns its names and the reader of the file being read. Failures print one "ERROR: " line.
class LASreaderMerged : public LASreader {
 public:
  // The reader of `file_name`, opened at its first point (or for its header only), with
  // every coordinate converted to `scale` / `offset` when they are given. Null after the
  // reader's own message.
  using Opener = std::function<std::unique_ptr<LASreader>(
      const std::string& file_name, bool header_only, const std::array<double, 3>* scale,
      const std::array<double, 3>* offset)>;
  // Run on each file opened for reading, with its index in the list and its identifier.
  using Prepare = std::function<void(LASreader& reader, std::uint32_t file_index,
                                     std::optional<std::uint32_t> file_ID)>;

  LASreaderMerged(Opener opener, Prepare prepare);
  ~LASreaderMerged() override;

  // Adds a file; false after a message when it cannot be opened for reading or is of
  // another format than the first file. Such a file makes `open` fail: the merged points
  // would lack its points.
  bool add_file_name(const std::string& file_name,
                     std::optional<std::uint32_t> file_ID = std::nullopt);
  std::uint32_t file_count() const { return static_cast<std::uint32_t>(files_.size()); }
  // Scale factors (components of 0 keep that axis) and offsets the merged header must use.
  void set_scale_factor(const std::array<double, 3>& scale) { requested_scale_ = scale; }
  void set_offset(const std::array<double, 3>& offset) { requested_offset_ = offset; }

  // Reads every file's header and makes the merged one. False after a message.
  bool open();
  // Back to the first point of the first file.
  bool reopen();

  int format_code() const override;
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override;
  void close_reader(bool close_stream = true) override;
  bool read_raw_point() override;

  // The format the files were found to be, as the mixing message names it ("LAS", "TXT").
  const char* format_name() const;

 private:
  struct File {
    std::string name;
    std::optional<std::uint32_t> ID;
    double min_x = 2e307, min_y = 2e307, max_x = -2e307, max_y = -2e307;
  };

  bool merge_header(const LASreader& file, bool first, bool& first_with_points);
  void widen_scaling();
  bool open_next_file();

  Opener opener_;
  Prepare prepare_;
  std::vector<File> files_;
  int format_ = -1;
  std::unique_ptr<LASreader> inner_;
  std::uint32_t next_file_ = 0;
  std::uint32_t refused_files_ = 0;
  bool rescale_ = false;
  bool reoffset_ = false;
  std::optional<std::array<double, 3>> requested_scale_;
  std::optional<std::array<double, 3>> requested_offset_;
  int inner_format_code_ = 0;
};
