#include "tool/run_report.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "stream/temporary_file.hpp"

namespace {

const char* mode_name(NoiseSettings::MarkingMode mode) {
  switch (mode) {
    case NoiseSettings::MarkingMode::kClassify:
      return "classify";
    case NoiseSettings::MarkingMode::kFlagWithheld:
      return "flag_as_withheld";
    case NoiseSettings::MarkingMode::kRemove:
      break;
  }
  return "remove_noise";
}

// A JSON string. Bytes of 0x80 and above pass as they are (names are UTF-8 on the systems
// we run on); control bytes are escaped.
void append_string(std::string& out, const std::string& text) {
  out.push_back('"');
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out.append("\\n");
    } else if (c == '\t') {
      out.append("\\t");
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
      out.append(escaped);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
}

void append_number(std::string& out, double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.10g", value);
  out.append(text);
}

void append_count(std::string& out, std::uint64_t value) {
  out.append(std::to_string(value));
}

// Writes `"key": ` after a comma when it is not the first field of its object.
void key(std::string& out, const char* name, bool& first) {
  if (!first) out.append(", ");
  first = false;
  out.push_back('"');
  out.append(name);
  out.append("\": ");
}

}  // namespace

double percent_of(std::uint64_t part, std::uint64_t whole) {
  return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

const char* status_name(FileRecord::Status status) {
  switch (status) {
    case FileRecord::Status::kDone:
      return "done";
    case FileRecord::Status::kCut:
      return "cut";
    case FileRecord::Status::kFailed:
      break;
  }
  return "failed";
}

void RunReport::add(FileRecord record) {
  file_count_++;
  switch (record.status) {
    case FileRecord::Status::kDone:
      done_++;
      break;
    case FileRecord::Status::kFailed:
      failed_++;
      break;
    case FileRecord::Status::kCut:
      cut_++;
      break;
  }
  points_in_files_ += record.points_in_file;
  points_read_ += record.points_read;
  points_filtered_ += record.filtered;
  buffer_points_ += record.buffer_points;
  points_ignored_ += record.ignored;
  points_marked_ += record.marked;
  if (keep_records_ || record.status == FileRecord::Status::kCut) {
    files_.push_back(std::move(record));
  }
}

std::uint32_t RunReport::count(FileRecord::Status status) const {
  switch (status) {
    case FileRecord::Status::kDone:
      return done_;
    case FileRecord::Status::kFailed:
      return failed_;
    case FileRecord::Status::kCut:
      return cut_;
  }
  return 0;
}

std::uint64_t RunReport::points_read() const {
  return points_read_;
}

std::uint64_t RunReport::points_marked() const {
  return points_marked_;
}

std::string RunReport::summary_line(double seconds) const {
  char line[256];
  std::snprintf(line, sizeof(line),
                "summary: %u files done, %u failed, %u cut. %" PRIu64 " points read, %" PRIu64
                " marked (%.3g%%). took %g sec.\n",
                count(FileRecord::Status::kDone), count(FileRecord::Status::kFailed),
                count(FileRecord::Status::kCut), points_read(), points_marked(),
                percent_of(points_marked(), points_read()), seconds);
  return line;
}

std::string RunReport::json(const NoiseSettings& s, double seconds,
                            std::uint32_t unmatched_wildcards) const {
  std::string out = "{\n  \"settings\": {";
  bool first = true;
  key(out, "step_xy", first);
  append_number(out, s.step_xy);
  key(out, "step_z", first);
  append_number(out, s.step_z);
  key(out, "isolated", first);
  out.append(std::to_string(s.isolated));
  key(out, "mode", first);
  append_string(out, mode_name(s.marking_mode()));
  key(out, "classify_as", first);
  out.append(std::to_string(s.classify_as));
  key(out, "by_flightline", first);
  out.append(s.by_flightline ? "true" : "false");
  key(out, "remove_empty_files", first);
  out.append(s.remove_empty_files ? "true" : "false");
  key(out, "memory_mb", first);
  append_count(out, s.memory_limit / 1048576u);
  key(out, "cores", first);
  append_count(out, s.cores);
  out.append("},\n  \"files\": [");
  for (std::size_t i = 0; i < files_.size(); i++) {
    const FileRecord& f = files_[i];
    out.append(i == 0 ? "\n    {" : ",\n    {");
    first = true;
    key(out, "input", first);
    append_string(out, f.input);
    key(out, "output", first);
    if (f.output_written || !f.output.empty()) {
      append_string(out, f.output);
    } else {
      out.append("null");
    }
    key(out, "output_written", first);
    out.append(f.output_written ? "true" : "false");
    key(out, "status", first);
    append_string(out, status_name(f.status));
    key(out, "message", first);
    if (f.message.empty()) {
      out.append("null");
    } else {
      append_string(out, f.message);
    }
    key(out, "point_type", first);
    out.append(std::to_string(f.point_type));
    key(out, "points_in_file", first);
    append_count(out, f.points_in_file);
    key(out, "points_read", first);
    append_count(out, f.points_read);
    key(out, "filtered", first);
    append_count(out, f.filtered);
    key(out, "buffer_points", first);
    append_count(out, f.buffer_points);
    key(out, "ignored", first);
    append_count(out, f.ignored);
    key(out, "marked", first);
    append_count(out, f.marked);
    key(out, "isolated_cells", first);
    append_count(out, f.isolated_cells);
    key(out, "step_xy", first);
    append_number(out, f.step_xy);
    key(out, "step_z", first);
    append_number(out, f.step_z);
    key(out, "unit_xy", first);
    append_string(out, f.unit_xy);
    key(out, "unit_z", first);
    append_string(out, f.unit_z);
    key(out, "seconds", first);
    append_number(out, f.seconds);
    out.push_back('}');
  }
  out.append(files_.empty() ? "],\n" : "\n  ],\n");
  out.append("  \"totals\": {");
  first = true;
  key(out, "files", first);
  append_count(out, file_count_);
  key(out, "done", first);
  append_count(out, count(FileRecord::Status::kDone));
  key(out, "failed", first);
  append_count(out, count(FileRecord::Status::kFailed));
  key(out, "cut", first);
  append_count(out, count(FileRecord::Status::kCut));
  key(out, "unmatched_wildcards", first);
  append_count(out, unmatched_wildcards);
  key(out, "points_in_file", first);
  append_count(out, points_in_files_);
  key(out, "points_read", first);
  append_count(out, points_read());
  key(out, "filtered", first);
  append_count(out, points_filtered_);
  key(out, "buffer_points", first);
  append_count(out, buffer_points_);
  key(out, "ignored", first);
  append_count(out, points_ignored_);
  key(out, "marked", first);
  append_count(out, points_marked());
  key(out, "seconds", first);
  append_number(out, seconds);
  out.append("}\n}\n");
  return out;
}

void settle_counts(FileRecord& record, const FirstPassCounts& first, std::uint64_t read,
                   std::uint64_t ignored, std::uint64_t marked) {
  record.points_in_file = first.points_in_file;
  record.points_read = read;
  record.filtered = first.points_present > read ? first.points_present - read : 0;
  record.buffer_points =
      first.buffered && first.points_given > read ? first.points_given - read : 0;
  record.ignored = ignored;
  record.marked = marked;
}

std::string counts_line(const FileRecord& r) {
  char line[256];
  std::snprintf(line, sizeof(line),
                "points_in_file %" PRIu64 ", points_read %" PRIu64 ", filtered %" PRIu64
                ", buffer_points %" PRIu64 ", ignored %" PRIu64 ", marked %" PRIu64 "\n",
                r.points_in_file, r.points_read, r.filtered, r.buffer_points, r.ignored, r.marked);
  return line;
}

bool RunReport::write_json(const char* path, const NoiseSettings& settings, double seconds,
                           std::uint32_t unmatched_wildcards) const {
  const std::string text = json(settings, seconds, unmatched_wildcards);
  auto failed = [path](int error) {
    std::fprintf(stderr, "ERROR: cannot write report '%s': %s\n", path, std::strerror(error));
    return false;
  };
  // A device or a pipe named as the report is written as it is.
  struct stat info {};
  if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return failed(errno);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int write_errno = errno;
    if (std::fclose(file) != 0 && written) return failed(errno);
    return written || failed(write_errno);
  }
  // A file is written beside its place and put there whole: a signal, a full disk or the
  // file-size limit never leave half a report, nor destroy the one of an earlier run.
  TemporaryFile report;
  if (!report.create_unique(std::string(path) + ".tmp")) return failed(errno);
  if (std::fwrite(text.data(), 1, text.size(), report.file()) != text.size()) {
    return failed(errno);
  }
  if (!report.commit(path, default_file_mode(), true)) return failed(errno);
  return true;
}
