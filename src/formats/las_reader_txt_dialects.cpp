// The header lines of the PTS and PTX text dialects, the record that keeps them for the text
// writer, and the scans of a PTX file.

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "formats/las_reader_txt.hpp"
#include "formats/text_format.hpp"
#include "formats/text_numbers.hpp"

namespace {

// A PTX scan header as it lies in `scan`: the scanner's translation (3), its rotation rows
// (3 × 3), then the transformation rows (4 × 4) that register the scan's points.
constexpr int kScanTransformation = 3 + 9;
constexpr int kScanValues = 3 + 9 + 16;

template <typename T>
void put_le(std::vector<std::uint8_t>& bytes, std::size_t offset, T value) {
  std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

bool is_separator(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == ';';
}

// The numbers of a header line: `count` of them must read; with `alone`, nothing may
// follow them.
bool read_numbers(const char* line, double* values, int count, bool alone = false) {
  const char* end = line + std::strlen(line);
  const char* p = line;
  for (int i = 0; i < count; i++) {
    while (is_separator(*p))
      p++;
    const char* next = text_numbers::read_double(p, end, values[i]);
    if (next == nullptr) return false;
    p = next;
  }
  if (!alone) return true;
  while (is_separator(*p))
    p++;
  return *p == '\0';
}

bool read_count(const char* line, std::int64_t& value) {
  double number = 0.0;
  if (!read_numbers(line, &number, 1)) return false;
  if (!(number >= 0.0 && number < 9.2e18)) return false;
  value = static_cast<std::int64_t>(number);
  return true;
}

bool is_blank(const char* line) {
  while (*line == ' ' || *line == '\t')
    line++;
  return *line == '\0';
}

// The 3 × 3 part `rotation` and the last row `shift` of a transformation (4 × 4, row vector
// convention: p' = [p 1] × M); false when its last column is not (0 0 0 1).
bool affine_parts(const double* m, double* rotation, double* shift) {
  if (m[3] != 0.0 || m[7] != 0.0 || m[11] != 0.0 || m[15] != 1.0) return false;
  for (int r = 0; r < 3; r++) {
    for (int c = 0; c < 3; c++)
      rotation[3 * r + c] = m[4 * r + c];
  }
  for (int c = 0; c < 3; c++)
    shift[c] = m[12 + c];
  return true;
}

bool invert3(const double* a, double* inverse) {
  const double det = a[0] * (a[4] * a[8] - a[5] * a[7]) - a[1] * (a[3] * a[8] - a[5] * a[6]) +
                     a[2] * (a[3] * a[7] - a[4] * a[6]);
  if (!(std::isfinite(det) && det != 0.0)) return false;
  inverse[0] = (a[4] * a[8] - a[5] * a[7]) / det;
  inverse[1] = (a[2] * a[7] - a[1] * a[8]) / det;
  inverse[2] = (a[1] * a[5] - a[2] * a[4]) / det;
  inverse[3] = (a[5] * a[6] - a[3] * a[8]) / det;
  inverse[4] = (a[0] * a[8] - a[2] * a[6]) / det;
  inverse[5] = (a[2] * a[3] - a[0] * a[5]) / det;
  inverse[6] = (a[3] * a[7] - a[4] * a[6]) / det;
  inverse[7] = (a[1] * a[6] - a[0] * a[7]) / det;
  inverse[8] = (a[0] * a[4] - a[1] * a[3]) / det;
  for (int i = 0; i < 9; i++) {
    if (!std::isfinite(inverse[i])) return false;
  }
  return true;
}

}  // namespace

bool LASreaderTXT::read_pts_header(bool store_record, bool take_count, bool populating) {
  char* line = nullptr;
  std::size_t length = 0;
  if (!input_.next_line(line, length)) {
    std::fprintf(stderr, "ERROR: reading PTS header for '-ipts'\n");
    return false;
  }
  std::int64_t count = 0;
  if (!read_count(line, count)) {
    std::fprintf(stderr, "ERROR: parsing number of points for '-ipts'\n");
    return false;
  }
  if (populating) {
    std::fprintf(stderr, "PTS header states %" PRId64 " points. ignoring ...\n", count);
  }
  if (take_count) {
    header_count_ = count;
    set_header_counts(static_cast<std::uint64_t>(count), nullptr,
                      static_cast<std::uint64_t>(count) > 0xFFFFFFFFu || header.version_minor >= 4);
  }
  if (store_record) store_dialect_record(text_format::kRecordIdPTS);
  return true;
}

bool LASreaderTXT::read_ptx_scan_header(const char* first, double* scan, std::int64_t& columns,
                                        std::int64_t& rows) {
  struct Step {
    const char* what;
    int numbers;
    double* into;
  };
  double column_count = 0.0, row_count = 0.0;
  const Step steps[] = {
      {"number of cols", 1, &column_count},
      {"number of rows", 1, &row_count},
      {"translation", 3, scan},
      {"rotation row 0", 3, scan + 3},
      {"rotation row 1", 3, scan + 6},
      {"rotation row 2", 3, scan + 9},
      {"transformation row 0", 4, scan + 12},
      {"transformation row 1", 4, scan + 16},
      {"transformation row 2", 4, scan + 20},
      {"transformation row 3", 4, scan + 24},
  };
  // A later scan's lines are named with its number: the first scan's messages stand alone.
  char where[64] = "";
  if (ptx_scan_ > 0) std::snprintf(where, sizeof(where), " of scan %d", ptx_scan_ + 1);
  const char* line = first;
  for (const Step& step : steps) {
    if (line == nullptr) {
      char* next = nullptr;
      std::size_t length = 0;
      if (!input_.next_line(next, length)) {
        std::fprintf(stderr, "ERROR: reading line with %s%s\n", step.what, where);
        return false;
      }
      line = next;
    }
    // A count stands alone on its line: "0 0 0" is no number of rows.
    const bool count = step.numbers == 1;
    if (!read_numbers(line, step.into, step.numbers, count) ||
        (count && !(*step.into >= 0.0 && *step.into <= 2147483647.0))) {
      std::fprintf(stderr, "ERROR: parsing %s%s\n", step.what, where);
      double translation[3];
      if (ptx_scan_ > 0 && step.into == &row_count && read_numbers(line, translation, 3, true)) {
        // The rows line is followed by the translation: the cols line is missing.
        std::fprintf(stderr,
                     "         the line with its number of cols is missing. is it joined to the "
                     "last point line of scan %d (a file that ends without a line end)?\n",
                     ptx_scan_);
      }
      return false;
    }
    line = nullptr;
  }
  columns = static_cast<std::int64_t>(column_count);
  rows = static_cast<std::int64_t>(row_count);
  return true;
}

bool LASreaderTXT::read_ptx_header(bool store_record, bool take_count, bool populating) {
  char* line = nullptr;
  std::size_t length = 0;
  ptx_scan_ = 0;
  ptx_moves_ = false;
  if (!input_.next_line(line, length)) {
    std::fprintf(stderr, "ERROR: reading line with number of cols\n");
    return false;
  }
  if (!read_ptx_scan_header(line, ptx_matrix_, ptx_columns_, ptx_rows_)) return false;
  const std::int64_t count = ptx_columns_ * ptx_rows_;
  ptx_lines_left_ = count;
  if (populating) {
    std::fprintf(stderr,
                 "PTX header states %d cols by %d rows aka %" PRId64 " points. ignoring ...\n",
                 static_cast<int>(ptx_columns_), static_cast<int>(ptx_rows_), count);
  }
  if (take_count) {
    header_count_ = count;
    ptx_scans_counted_ = 1;
    set_header_counts(static_cast<std::uint64_t>(count), nullptr,
                      static_cast<std::uint64_t>(count) > 0xFFFFFFFFu || header.version_minor >= 4);
  }
  if (store_record) store_dialect_record(text_format::kRecordIdPTX);
  return true;
}

bool LASreaderTXT::next_ptx_scan() {
  char* line = nullptr;
  std::size_t length = 0;
  // Blank lines between scans and after the last one are no header.
  do {
    if (!input_.next_line(line, length)) return false;
  } while (is_blank(line));
  ptx_scan_++;
  double scan[kScanValues];
  std::int64_t columns = 0, rows = 0;
  if (!read_ptx_scan_header(line, scan, columns, rows) || !enter_ptx_scan(scan)) {
    std::fprintf(stderr, "         the points of '%s' end before scan %d\n",
                 file_name_.empty() ? "stdin" : file_name_.c_str(), ptx_scan_ + 1);
    ptx_lines_left_ = kBrokenScan;
    read_failed_ = true;
    return false;
  }
  ptx_lines_left_ = columns * rows;
  // The header count grows by each scan the first pass finds, once.
  if (!populated_ && ptx_scan_ >= ptx_scans_counted_) {
    header_count_ += columns * rows;
    ptx_scans_counted_ = ptx_scan_ + 1;
    points_total = header_count_;
  }
  return true;
}

bool LASreaderTXT::enter_ptx_scan(const double* scan) {
  const double* first = ptx_matrix_ + kScanTransformation;
  const double* own = scan + kScanTransformation;
  ptx_moves_ = std::memcmp(first, own, 16 * sizeof(double)) != 0;
  if (!ptx_moves_) return true;
  // Registered: p × R + t. In the first scan's frame: (p × Rk + tk − t1) × R1⁻¹.
  double first_rotation[9], first_shift[3], own_rotation[9], own_shift[3], inverse[9];
  if (!affine_parts(first, first_rotation, first_shift) ||
      !affine_parts(own, own_rotation, own_shift) || !invert3(first_rotation, inverse)) {
    std::fprintf(stderr,
                 "ERROR: the transformation of scan %d cannot be brought into the frame of the "
                 "first scan: one of them is no invertible rigid transformation\n",
                 ptx_scan_ + 1);
    return false;
  }
  for (int r = 0; r < 3; r++) {
    for (int c = 0; c < 3; c++) {
      double sum = 0.0;
      for (int k = 0; k < 3; k++)
        sum += own_rotation[3 * r + k] * inverse[3 * k + c];
      ptx_rotation_[3 * r + c] = sum;
    }
  }
  for (int c = 0; c < 3; c++) {
    double sum = 0.0;
    for (int k = 0; k < 3; k++)
      sum += (own_shift[k] - first_shift[k]) * inverse[3 * k + c];
    ptx_shift_[c] = sum;
  }
  return true;
}

void LASreaderTXT::move_into_first_scan() {
  const double x = coordinates_[0], y = coordinates_[1], z = coordinates_[2];
  const double* m = ptx_rotation_;
  for (int c = 0; c < 3; c++)
    coordinates_[c] = x * m[c] + y * m[3 + c] + z * m[6 + c] + ptx_shift_[c];
}

bool LASreaderTXT::next_point_line(char*& line, std::size_t& length) {
  if (ptx_lines_left_ == kBrokenScan) return false;
  while (ptx_lines_left_ == 0) {
    if (!next_ptx_scan()) return false;
  }
  if (ptx_lines_left_ > 0) ptx_lines_left_--;
  return input_.next_line(line, length);
}

void LASreaderTXT::store_dialect_record(std::uint16_t record_id) {
  using namespace text_format;
  const bool ptx = record_id == kRecordIdPTX;
  std::vector<std::uint8_t> payload(ptx ? kPayloadSizePTX : kPayloadSizePTS, 0);
  put_le(payload, kOffsetIntensityTranslate, translate_intensity_);
  put_le(payload, kOffsetIntensityScale, scale_intensity_);
  const std::size_t kept =
      parse_string_.size() < kParseStringBytes - 1 ? parse_string_.size() : kParseStringBytes - 1;
  std::memcpy(payload.data() + kOffsetParseString, parse_string_.data(), kept);
  if (ptx) {
    put_le(payload, kOffsetColumns, ptx_columns_);
    put_le(payload, kOffsetRows, ptx_rows_);
    std::memcpy(payload.data() + kOffsetTranslation, ptx_matrix_, sizeof(ptx_matrix_));
  }
  header.put_vlr(kUserId, record_id, std::move(payload));
}
