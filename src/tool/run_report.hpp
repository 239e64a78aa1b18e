#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/noise_settings.hpp"

// What one input file of a run came to: the per-file line, the -v counts line, the summary
// line and the JSON report of -report are all made from these records, so they count alike.
// Of the counts, points_in_file is what the file's header gives (for a file without a
// count, the points it held); points_read the points the reader delivered, inside the area
// and kept by the filter: those counted in the grid (but the ignored ones) and written or
// removed; filtered the points of the file that the area or the filter left out (the file's
// points as they were, fewer when it was cut, minus points_read, whether an index spared
// reading them or not); buffer_points the neighbours' points counted in the grid besides
// (-buffered), never written and never part of points_read or filtered; ignored and marked
// are of points_read.
struct FileRecord {
  enum class Status { kDone, kFailed, kCut };

  std::string input;
  std::string output;  // empty: standard output, -nil, or nothing written
  Status status = Status::kFailed;
  std::string message;  // why it failed, or how it was cut
  int point_type = -1;  // -1: the file was not opened
  std::uint64_t points_in_file = 0;
  std::uint64_t points_read = 0;
  std::uint64_t filtered = 0;
  std::uint64_t buffer_points = 0;
  std::uint64_t ignored = 0;
  std::uint64_t marked = 0;
  std::uint64_t isolated_cells = 0;
  double step_xy = 0.0;
  double step_z = 0.0;
  std::string unit_xy;  // "m", "ft", "sft", "units"
  std::string unit_z;
  double seconds = 0.0;
  bool output_written = false;  // an output file was left (not removed as empty)
};

// What the first pass learnt of a file's counts; the second pass, which delivers the file's
// own points only, completes them (settle_counts).
struct FirstPassCounts {
  std::uint64_t points_in_file = 0;
  std::uint64_t points_present = 0;  // the file's points as they were: fewer when it was cut
  std::uint64_t points_given = 0;    // given to the grid: the file's points read, the buffer's
  bool buffered = false;             // read with its neighbours' points
};

// Fills the counts of `record` from the first pass and the points the second pass read,
// ignored and marked.
void settle_counts(FileRecord& record, const FirstPassCounts& first, std::uint64_t read,
                   std::uint64_t ignored, std::uint64_t marked);

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
  std::uint64_t points_in_files_ = 0;
  std::uint64_t points_read_ = 0;
  std::uint64_t points_filtered_ = 0;
  std::uint64_t buffer_points_ = 0;
  std::uint64_t points_ignored_ = 0;
  std::uint64_t points_marked_ = 0;
};

// The -v line of a file's counts, named as the report names them:
// "points_in_file %llu, points_read %llu, filtered %llu, buffer_points %llu, ignored %llu,
//  marked %llu\n".
std::string counts_line(const FileRecord& record);

// Share of `part` in `whole` in percent; 0 when `whole` is 0.
double percent_of(std::uint64_t part, std::uint64_t whole);
// "done", "failed", "cut".
const char* status_name(FileRecord::Status status);
