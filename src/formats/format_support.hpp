#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class ByteStreamIn;
class ByteStreamOut;
class LASheader;
class LASpoint;

// Small pieces shared by the readers and writers of the non-LAS point formats.
namespace format_support {

// The version number the readers and writers of these formats name in their texts.
inline constexpr int kFormatsVersion = 200509;

// `value` rounded half away from zero and saturated to 32 bits; NaN gives 0. These formats
// hold coordinates a file may push beyond any integer: the cast must stay defined.
std::int32_t round_to_int32(double value);

// The size of what `stream` reads, its position left unchanged; -1 when it cannot seek.
// Every count, length and offset read from a file is held against this before it sizes
// anything.
std::int64_t stream_size(ByteStreamIn& stream);

// Opens a point file for reading with a stdio buffer of `buffer_size` bytes; null after
// "ERROR: file name pointer is zero" or "ERROR: cannot open file '%s'".
std::FILE* open_input(const char* file_name, int buffer_size);

// Ends an output: flushes `stream` and closes `file` (when not null; it is set to null).
// False when either fails; then, if `report`, one "ERROR: cannot write to ..." line names
// `file_name` (or the output stream).
bool finish_output(ByteStreamOut& stream, std::FILE*& file, const std::string& file_name,
                   bool report);
// The line finish_output prints.
void report_write_failure(const std::string& file_name);

// The header's file creation day of year and year from the file's time stamp (the
// modification time: POSIX keeps no creation time); day 1 of 2019 without a file.
void set_creation_date(LASheader& header, const char* file_name);

// Clears the header for a new open, keeping the creation date that open_file set from the
// file (a reader opened on a stream keeps whatever date it had).
void reset_header_keeping_date(LASheader& header);

// Scale factors and offsets for coordinates that come as real numbers (shapefiles): x and
// y at 0.0000001 when the box lies within +-360 degrees, else 0.01; z at 0.01; offsets at
// multiples of 10,000,000 units near the box centre. A requested factor (non-zero) or offset
// is taken as it is. Then the box is snapped to the chosen grid, keeping a bound whose sign
// the snapping would flip (with a warning).
void choose_quantization(LASheader& header, const double* requested_scale,
                         const double* requested_offset);

}  // namespace format_support

// Rescales and/or reoffsets the coordinates of every point a reader delivers, as the LAS
// reader's converting forms do: after open the header holds the new factors and offsets and
// each point's X, Y, Z is converted to them. Axes whose request equals the file's value (or
// is 0 for a scale factor) are left alone; a conversion that pushes the header's box beyond
// 32 bits is reported with one "WARNING: " line per bound. The box is sampled, so each point
// is checked too: one that does not fit is left as it was and counted, never clamped.
class LAScoordinateConversion {
 public:
  // Null `scale` or `offset`: that part is not converted.
  LAScoordinateConversion(const double* scale, const double* offset);
  // Puts the requests into `header` and remembers what the file had; the count of points
  // that did not fit starts again.
  void apply_to(LASheader& header);
  // False, the point unchanged and counted, when a converted coordinate does not fit.
  bool convert(LASpoint& point);
  // When points did not fit: one "ERROR: " line naming `file_name` and how many, and true.
  bool report_unfit(const std::string& file_name) const;

 private:
  double convert_axis(int axis, std::int32_t value) const;

  bool rescale_ = false;
  bool reoffset_ = false;
  double requested_scale_[3] = {0, 0, 0};
  double requested_offset_[3] = {0, 0, 0};
  double file_scale_[3] = {1, 1, 1};
  double file_offset_[3] = {0, 0, 0};
  double new_scale_[3] = {1, 1, 1};
  double new_offset_[3] = {0, 0, 0};
  bool axis_converted_[3] = {false, false, false};
  bool any_ = false;
  std::int64_t unfit_ = 0;
  double unfit_example_[3] = {0, 0, 0};  // the first, in the file's coordinates
};

// The converting forms of a reader class: `Reader` must call the virtual `opened()` after
// every successful open and name its file by `file_name()`. Owned and borrowed things are
// those of `Reader`. A point whose converted coordinates do not fit 32-bit integers is
// skipped; the end of the points reports how many with one "ERROR: " line and
// `read_failed()`, so that no output that lost them looks complete.
template <class Reader>
class LASreaderConverting : public Reader {
 public:
  LASreaderConverting(const double* scale, const double* offset) : conversion_(scale, offset) {}
  bool read_raw_point() override {
    while (Reader::read_raw_point()) {
      if (conversion_.convert(this->point)) return true;
    }
    if (!reported_) {
      reported_ = true;
      if (conversion_.report_unfit(this->file_name())) this->read_failed_ = true;
    }
    return false;
  }

 protected:
  void opened() override {
    conversion_.apply_to(this->header);
    reported_ = false;
  }

 private:
  LAScoordinateConversion conversion_;
  bool reported_ = false;
};

namespace format_support {
// The system identifier the readers of these formats put into the headers they make.
inline constexpr char kSystemBanner[] = "Brindlex";
}  // namespace format_support
