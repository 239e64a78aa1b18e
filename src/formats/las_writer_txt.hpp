#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/repeated_warnings.hpp"
#include "las/las_writer.hpp"

// Writes points as text, one line per point, the columns chosen by a parse string (x, y, z
// coordinates, X, Y, Z stored integers, t GPS time, i intensity, ...; see the letter table
// in las_writer_txt.cpp) and separated by one separator character. With the PTS or PTX
// dialect it first writes their header lines, taken from the record the text reader keeps
// in the header.
//
// Numbers are printed as the "C" locale prints them: coordinates with as many decimals as
// their scale factor has, GPS times with six.
//
// Ownership: the writer borrows the header it was opened with (it must outlive the writer)
// and owns the file it opened by name; a FILE given to `open_file` is borrowed. Failures
// print one "ERROR: " line; a failed write sets `failed()` and makes close_writer return 0.
// A warning about the points repeats a few times at most and is summed up at the close.
class LASwriterTXT : public LASwriter {
 public:
  LASwriterTXT();
  ~LASwriterTXT() override;

  void set_pts(bool pts) { pts_ = pts; }
  void set_ptx(bool ptx) { ptx_ = ptx; }
  void set_scale_rgb(float scale_rgb) { scale_rgb_ = scale_rgb; }

  // `parse_string` null (or "original" with a dialect) takes the dialect's or the point
  // type's default; `separator` null is a space, else a name ("comma", "tab", ...). False
  // after an "ERROR: " line.
  bool open(const char* file_name, const LASheader* header, const char* parse_string = nullptr,
            const char* separator = nullptr);
  bool open_file(std::FILE* file, const LASheader* header, const char* parse_string = nullptr,
                 const char* separator = nullptr);

  bool write_point(const LASpoint& point) override;
  bool chunk() override { return true; }
  // Text has no header to update.
  bool update_header(const LASheader*, bool = false, bool = false) override { return true; }
  std::int64_t close_writer(bool fix_count = true) override;

  const std::string& parse_string() const { return parse_string_; }

 private:
  struct Column {
    char letter;
    std::int16_t attribute;
  };
  bool start(const char* parse_string, const char* separator);
  bool write_dialect_header(std::string& parse_string);
  bool compile(const std::string& text);
  bool put(const char* text, std::size_t size);
  bool flush();
  char* write_coordinate(char* out, double value, int axis) const;

  std::FILE* file_ = nullptr;
  bool owns_file_ = false;
  const LASheader* header_ = nullptr;
  std::string parse_string_;
  std::vector<Column> columns_;
  char separator_ = ' ';
  std::string separator_name_ = "space";
  bool pts_ = false;
  bool ptx_ = false;
  float scale_rgb_ = 1.0f;
  int decimals_[3] = {15, 15, 15};  // -1 after the value: trimmed "%.15f"
  bool trimmed_[3] = {true, true, true};
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::int64_t bytes_written_ = 0;
  RepeatedWarnings warnings_;
};
