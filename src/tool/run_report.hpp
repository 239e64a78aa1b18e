#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/noise_settings.hpp"

// What one input file of a run came to: the per-file line, the summary line and the JSON
// report of -report are all made from these records.
struct FileRecord {
  enum class Status { kDone, kFailed, kCut };

  std::string input;
  std::string output;  // empty: standard output, -nil, or nothing written
  Status status = Status::kFailed;
  std::string message;  // why it failed, or how it was cut
  int point_type = -1;  // -1: the file was not opened
  std::uint64_t points_read = 0;
  std::uint64_t ignored = 0;
  std::uint64_t filtered = 0;  // stored points that the filter or the area left out
  std::uint64_t marked = 0;
  std::uint64_t isolated_cells = 0;
  double step_xy = 0.0;
  double step_z = 0.0;
  std::string unit_xy;  // "m", "ft", "sft", "units"
  std::string unit_z;
  double seconds = 0.0;
  bool output_written = false;  // an output file was left (not removed as empty)
};

// The records of a run, in the order the files were taken, and their totals.
class RunReport {
 public:
  // Without -report only the totals and the records of cut files (named again at the end)
  // are kept: a list of millions of files costs no record each.
  void set_keep_records(bool keep) { keep_records_ = keep; }
  void add(FileRecord record);
  // The records kept (every record when set_keep_records).
  const std::vector<FileRecord>& files() const { return files_; }
  std::uint32_t count(FileRecord::Status status) const;
  std::uint64_t points_read() const;
  std::uint64_t points_marked() const;

  // "summary: %u files done, %u failed, %u cut. %llu points read, %llu marked (%.3g%%).
  //  took %g sec.\n"
  std::string summary_line(double seconds) const;
  // The JSON document of -report (fields listed in the README). False after an "ERROR: "
  // line when the file cannot be written; a partial file is removed.
  bool write_json(const char* path, const NoiseSettings& settings, double seconds,
                  std::uint32_t unmatched_wildcards) const;
  // The JSON text itself.
  std::string json(const NoiseSettings& settings, double seconds,
                   std::uint32_t unmatched_wildcards) const;

 private:
  std::vector<FileRecord> files_;
  bool keep_records_ = true;
  std::uint32_t file_count_ = 0;
  std::uint32_t done_ = 0;
  std::uint32_t failed_ = 0;
  std::uint32_t cut_ = 0;
  std::uint64_t points_read_ = 0;
  std::uint64_t points_marked_ = 0;
};

// Share of `part` in `whole` in percent; 0 when `whole` is 0.
double percent_of(std::uint64_t part, std::uint64_t whole);
// "done", "failed", "cut".
const char* status_name(FileRecord::Status status);
