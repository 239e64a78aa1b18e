#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/repeated_warnings.hpp"
#include "formats/text_input.hpp"
#include "las/las_reader.hpp"

class ByteStreamIn;

// Reads points from a text file, one point per line, the meaning of the columns given by a
// parse string such as "xyzti" (x, y, z coordinates, t GPS time, i intensity, ...; see the
// letter table in las_reader_txt_parse.cpp). Compressed text (".gz", ".zip", ".7z", ".rar")
// and standard input are read through TextInput.
//
// The reader quantizes the coordinates with the scale factors and offsets it was given or,
// per axis without one, that it chooses from the bounding box, and fills its header (point
// type, counts, bounding box, return histogram) either in a first "populate" pass over the
// whole file (which needs a file name: it reads the file twice) or point by point while
// reading, completing it at the end of the file. Lines end at LF, CR LF or a lone CR. The
// PTS and PTX dialects read their header lines and keep them in a record of the header for
// the text writer.
//
// A PTX file holds one scan or several, one after the other, each with its own header lines
// and its columns × rows point lines (a scan of 0 points is valid). The points are delivered
// in the frame of the first scan: its transformation is kept in the record, not applied, and
// every later scan is brought into that frame through its own transformation and the inverse
// of the first's, so that all scans meet as they were registered.
//
// A line that does not parse is no point: it is skipped with a warning. A point whose
// coordinates or GPS time are not finite numbers, or whose coordinates do not fit 32-bit
// integers at the chosen scale and offset, cannot be stored: it is skipped with a warning,
// and at the end of the points the reader reports how many with an "ERROR: " line and
// `read_failed()`, so that no output that lost them looks complete. Out-of-range values of
// the other columns are stored clamped (or cut to their bits) with a warning. Warnings that
// repeat per line are printed a few times each, summed up at the end of the points, and
// only in the first pass over the file (RepeatedWarnings); echoed lines show control bytes
// escaped.
//
// Ownership: the reader owns its header, its point and its input. Failed operations print
// one "ERROR: " line and return false; the reader may then only be closed, opened again or
// destroyed. A decompressing program that ends badly sets `read_failed()`.
class LASreaderTXT : public LASreader {
 public:
  static constexpr int kFormatCode = 6;

  LASreaderTXT();
  ~LASreaderTXT() override;

  // ---- Settings, before opening ----
  void set_translate_intensity(float translation) { translate_intensity_ = translation; }
  void set_scale_intensity(float scale) { scale_intensity_ = scale; }
  void set_translate_scan_angle(float translation) { translate_scan_angle_ = translation; }
  void set_scale_scan_angle(float scale) { scale_scan_angle_ = scale; }
  // Scale factors (a component of 0 lets the reader choose that axis) and offsets; null
  // removes the request.
  void set_scale_factor(const double* scale_factor);
  void set_offset(const double* offset);
  // PTS: a first line with the point count, intensities shifted by 2048. PTX: the scan's
  // header lines, intensities as fractions of 4095.
  void set_pts(bool pts);
  void set_ptx(bool ptx);
  // Describes attribute number `attribute_count()` of the points' extra bytes. `data_type`
  // is the extra-bytes type code (1 U8, 2 I8, 3 U16, 4 I16, 5 U32, 6 I32, 9 F32, 10 F64).
  // False after an "ERROR: " line for more than 32 attributes.
  bool add_attribute(std::int32_t data_type, const char* name, const char* description,
                     double scale = 1.0, double offset = 0.0, double pre_scale = 1.0,
                     double pre_offset = 0.0, double no_data = 2e+307);

  // ---- Opening ----
  // `point_type` 0 lets the parse string choose (else 1, 2, 3, 6, 7 or 8); `parse_string`
  // null means "xyz"; `skip_lines` header lines are passed over; `populate_header` asks for
  // the first pass.
  bool open(const char* file_name, std::uint8_t point_type = 0, const char* parse_string = nullptr,
            std::uint32_t skip_lines = 0, bool populate_header = false);
  // Reads `descriptor` (standard input and the like; borrowed). A populate pass needs
  // `file_name` (it opens the file again by name); without one the header is completed at
  // the end of the points.
  bool open_descriptor(int descriptor, const char* file_name, std::uint8_t point_type = 0,
                       const char* parse_string = nullptr, std::uint32_t skip_lines = 0,
                       bool populate_header = false);
  // After close_reader: the same file again at its first point, header unchanged.
  bool reopen(const char* file_name);

  int format_code() const override { return kFormatCode; }
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override { return nullptr; }
  void close_reader(bool close_stream = true) override;
  bool read_raw_point() override;

  // The parse string in use and whether the header came from a populate pass.
  const std::string& parse_string() const { return parse_string_; }
  bool populated() const { return populated_; }

  // What a line gave: a point, no point (it does not scan), or values that are not finite.
  enum class LineResult : std::uint8_t { kPoint, kUnparsable, kNotFinite };

  // One compiled column of the parse string: its letter, and for 0-9 and "(n)" the
  // attribute it fills.
  struct Column {
    char letter;
    std::int16_t attribute;
  };
  // A described attribute and where it lies in the extra bytes.
  struct Attribute {
    std::int32_t data_type;
    std::string name;
    std::string description;
    double scale, offset, pre_scale, pre_offset, no_data;
    std::int32_t start = 0;
    double min = 0.0, max = 0.0;
    bool seen = false;
  };

 protected:
  // The requested scale factors (0: choose) and offsets of the converting forms.
  std::array<double, 3> requested_scale_{0.0, 0.0, 0.0};
  std::optional<std::array<double, 3>> requested_offset_;

 private:
  bool open_input(TextInput& input, const char* file_name);
  bool start(std::uint8_t point_type, const char* parse_string, std::uint32_t skip_lines,
             bool populate_header);
  bool prepare_point(std::uint8_t requested_type);
  bool populate_pass();
  bool read_header_lines(bool store_records, bool take_counts);
  bool read_pts_header(bool store_record, bool take_count, bool populating);
  bool read_ptx_header(bool store_record, bool take_count, bool populating);
  // The header lines of a scan whose first line is `first`, into `scan` (translation,
  // rotation, transformation) and the counts; false after an "ERROR: " line.
  bool read_ptx_scan_header(const char* first, double* scan, std::int64_t& columns,
                            std::int64_t& rows);
  // Past the last line of a scan: the next scan's header, or false at the end of the text
  // (and after an "ERROR: " line with `read_failed()` for a broken one).
  bool next_ptx_scan();
  // How the points of a later scan with header `scan` reach the frame of the first scan.
  bool enter_ptx_scan(const double* scan);
  void move_into_first_scan();
  // The next line of points: a PTX file passes from scan to scan on the way.
  bool next_point_line(char*& line, std::size_t& length);
  bool skip_lines(std::uint32_t count);
  void store_dialect_record(std::uint16_t record_id);
  // The next line that parses into `point` with `coordinates_` (false at the end); with
  // `quantize` its coordinates are stored in X, Y, Z, skipping lines that do not fit.
  bool next_parsed_line(bool quantize);
  // Checks and compiles a parse string into `columns` (false after its "ERROR: " lines).
  bool compile_columns(const std::string& text, std::vector<Column>& columns) const;
  // The point type a parse string asks for when none was requested.
  static std::uint8_t point_type_for(const std::string& text);
  LineResult parse_line(char* line, std::size_t length, const std::vector<Column>& columns);
  // parse_line, then the move of a later PTX scan.
  LineResult take_line(char* line, std::size_t length, const std::vector<Column>& columns);
  void warn_unparsable(const char* line, std::size_t length, const std::string& shown);
  void warn_not_finite(const char* line, std::size_t length);
  bool store_attribute(int index, double value);
  bool quantize_point();
  void choose_scale_and_offset(double min_x, double min_y, double min_z, double max_x, double max_y,
                               double max_z);
  void snap_bounding_box();
  void count_point_into_header();
  void finish_header_at_end();
  void report_end_of_points();
  void set_header_counts(std::uint64_t count, const std::int64_t* by_return, bool extended);
  bool first_point();

  TextInput input_;
  std::string file_name_;
  int descriptor_ = -1;  // the borrowed one of open_descriptor
  std::string parse_string_;
  std::vector<Column> columns_;
  std::uint32_t skip_lines_ = 0;
  bool pts_ = false;
  bool ptx_ = false;
  float translate_intensity_ = 0.0f;
  float scale_intensity_ = 1.0f;
  float translate_scan_angle_ = 0.0f;
  float scale_scan_angle_ = 1.0f;
  std::vector<Attribute> attributes_;
  double coordinates_[3] = {0.0, 0.0, 0.0};
  bool populated_ = false;
  bool holding_first_ = false;  // the first point was parsed at open and not yet delivered
  bool no_points_ = false;      // a PTX file whose scans hold no points
  bool end_reported_ = false;
  std::int64_t header_count_ = -1;  // points the header announces; -1 unknown
  std::int64_t counted_ = 0;        // points counted into the header while reading
  std::int64_t unfit_ = 0;          // lines skipped for coordinates beyond 32 bits
  std::int64_t not_finite_ = 0;     // lines skipped for values that are not finite
  std::int64_t skipped_ = 0;        // lines of this pass that gave no point, for any reason
  RepeatedWarnings warnings_;
  bool track_attribute_range_ = false;
  std::int64_t by_return_[16] = {};
  bool box_started_ = false;
  // The first PTX scan's header as read (columns, rows, translation, rotation,
  // transformation).
  std::int64_t ptx_columns_ = 0, ptx_rows_ = 0;
  double ptx_matrix_[3 + 9 + 16] = {};
  // The scan being read: lines still to come (kNoScans when no scan header was read, the
  // lines were skipped instead; kBrokenScan after a broken header), its number in this pass,
  // and how many scans the header count holds.
  static constexpr std::int64_t kNoScans = -1;
  static constexpr std::int64_t kBrokenScan = -2;
  std::int64_t ptx_lines_left_ = kNoScans;
  std::int32_t ptx_scan_ = 0;
  std::int32_t ptx_scans_counted_ = 0;
  // A later scan into the first scan's frame: p × rotation + shift (row vector).
  bool ptx_moves_ = false;
  double ptx_rotation_[9] = {};
  double ptx_shift_[3] = {};
};

// The converting forms. The text is quantized at the requested scale factors and offsets
// directly (never through a first quantization), so every coordinate is as exact as the new
// scale allows; axes without a request are chosen as the plain reader chooses them.
class LASreaderTXTrescale : public LASreaderTXT {
 public:
  LASreaderTXTrescale(double x_scale, double y_scale, double z_scale);
};

class LASreaderTXTreoffset : public LASreaderTXT {
 public:
  LASreaderTXTreoffset(double x_offset, double y_offset, double z_offset);
};

class LASreaderTXTrescalereoffset : public LASreaderTXT {
 public:
  LASreaderTXTrescalereoffset(double x_scale, double y_scale, double z_scale, double x_offset,
                              double y_offset, double z_offset);
};
