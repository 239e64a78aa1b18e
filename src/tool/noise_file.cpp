// One input file of the noise tool: units and steps, the first pass into the isolation grid,
// the search, the second pass that marks and writes, and the checks that keep a failed file
// from leaving an output that looks complete.

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "las/las_reader.hpp"
#include "las/las_writer.hpp"
#include "model/las_header.hpp"
#include "select/las_ignore.hpp"
#include "tool/interrupt_cleanup.hpp"
#include "tool/isolation_grid.hpp"
#include "tool/las_writer_deleted.hpp"
#include "tool/noise_run.hpp"
#include "tool/temporary_directory.hpp"

namespace {

using MarkingMode = NoiseSettings::MarkingMode;

constexpr char kSystemIdentifier[] = "Brindlex";
constexpr char kGeneratingSoftware[] = "isocull64 (200509)";
constexpr float kDefaultStep = 4.0f;
constexpr float kDefaultStepFeet = 12.0f;
constexpr int kUnitFeetAbove = 9001;  // unit codes above metre are feet of some kind

// Removes the output file unless the file was finished, so that a failed file (or one
// abandoned by an exception or an early end of the run) leaves no output that looks
// complete. Armed only once the writer has opened the file: a file that could not be
// opened was not ours to remove. Declared before the writer, so the writer has closed the
// file when the guard removes it.
class PartialOutput {
 public:
  PartialOutput() = default;
  PartialOutput(const PartialOutput&) = delete;
  PartialOutput& operator=(const PartialOutput&) = delete;
  ~PartialOutput() { remove(); }

  void arm(std::string name) {
    name_ = std::move(name);
    if (!name_.empty()) interrupt_cleanup::set_partial_output(name_.c_str());
  }
  void keep() {
    interrupt_cleanup::set_partial_output(nullptr);
    name_.clear();
  }
  void remove() {
    interrupt_cleanup::set_partial_output(nullptr);
    if (!name_.empty()) unlink(name_.c_str());
    name_.clear();
  }

 private:
  std::string name_;
};

// Whether two names reach the same file (hard links, "./a.las" and "a.las", a directory
// given by another path): writing one would destroy the other while it is read.
bool same_file(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool path_exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// Lets a signal that ends the process remove the temporary directory of the file in
// progress; declared after the directory, so the registration ends before it goes.
class SpillRegistration {
 public:
  explicit SpillRegistration(const TemporaryDirectory& directory) {
    interrupt_cleanup::set_temporary_directory(directory.path().c_str(),
                                               directory.file_base().c_str());
  }
  ~SpillRegistration() { interrupt_cleanup::set_temporary_directory(nullptr, nullptr); }
  SpillRegistration(const SpillRegistration&) = delete;
  SpillRegistration& operator=(const SpillRegistration&) = delete;
};

}  // namespace

const char* marking_word(MarkingMode mode) {
  switch (mode) {
    case MarkingMode::kClassify:
      return "classified";
    case MarkingMode::kFlagWithheld:
      return "flagged";
    case MarkingMode::kRemove:
      return "removed";
  }
  return "";
}

// "noise point %u (%d %d %d) ..." with the values before the point is changed.
void report_noise_point(const LASreader& reader) {
  const LASpoint& point = reader.point;
  std::fprintf(stderr, "noise point %u (%d %d %d)", static_cast<unsigned>(reader.points_done - 1),
               point.X, point.Y, point.Z);
  if (point.has_gps_time) std::fprintf(stderr, " %.12g", point.gps_time);
  std::fprintf(stderr, " %d %d %d %d", point.intensity, point.classification, point.return_number,
               point.number_of_returns);
  if (point.has_rgb) std::fprintf(stderr, "  (%d %d %d)", point.rgb[0], point.rgb[1], point.rgb[2]);
  std::fprintf(stderr, "\n");
}

namespace {

struct SecondPassResult {
  std::uint64_t noise_points = 0;
  bool write_failed = false;
};

// One point of the second pass for one marking mode: the mode is a template argument, so
// the per-point loop holds no test of it. Every point is written and counted into the
// writer's tally (which only the header update at the end may need); `deletion_mark` is
// cleared after each write because it is no part of the record and would otherwise stick
// to the next point. False when the writer failed.
template <MarkingMode kMode>
bool mark_and_write_point(LASreader& reader, IsolationGrid& grid, LASwriter& writer,
                          std::uint8_t classify_as, bool very_verbose, SecondPassResult& result) {
  const LASignore* ignore = reader.get_ignore();
  LASpoint& point = reader.point;
  if ((ignore == nullptr || !ignore->ignore(point)) && grid.is_noise_in_order(point)) {
    if (very_verbose) report_noise_point(reader);
    if constexpr (kMode == MarkingMode::kClassify) {
      point.classification = classify_as & 0x1F;
      point.extended_classification = classify_as;
    } else if constexpr (kMode == MarkingMode::kFlagWithheld) {
      point.set_withheld_flag(true);
    } else {
      point.deletion_mark = 1;
    }
    result.noise_points++;
  }
  if (!writer.write_point(point) && writer.failed()) {
    result.write_failed = true;
    return false;
  }
  writer.count_point(point);
  point.deletion_mark = 0;
  return true;
}

template <MarkingMode kMode>
SecondPassResult mark_and_write(LASreader& reader, IsolationGrid& grid, LASwriter& writer,
                                std::uint8_t classify_as, bool very_verbose) {
  SecondPassResult result;
  while (reader.read_next()) {
    if (!mark_and_write_point<kMode>(reader, grid, writer, classify_as, very_verbose, result)) {
      break;
    }
  }
  return result;
}

// The bytes of a POINT10 record that marking touches and the tally reads.
constexpr std::size_t kPoint10ReturnByte = 14;  // return number in bits 0-2
constexpr std::size_t kPoint10ClassByte = 15;   // class in bits 0-4, withheld in bit 7
constexpr std::uint8_t kPoint10ClassBits = 0x1F;
constexpr std::uint8_t kPoint10WithheldBit = 0x80;

// Whether the second pass can copy the stored records of points of types 0-5 from the
// reader to the writer, patching the class byte of the noise points: the records come
// unfiltered and unconverted, the writer stores the same layout raw, and no ignore set or
// per-point report needs the points filled.
bool records_can_be_copied(const LASreader& reader, const LASwriter& writer, bool very_verbose) {
  const LASpoint& point = reader.point;
  const LASignore* ignore = reader.get_ignore();
  return !very_verbose && (ignore == nullptr || ignore->flags == 0) &&
         reader.delivers_raw_records() && point.scaling != nullptr && !point.items.empty() &&
         point.items[0].type == LASitem::POINT10 && point.extended_layout == 0 &&
         writer.takes_raw_records(point);
}

// mark_and_write on stored records (see records_can_be_copied): the same bytes and the
// same tally, without filling the point and calling the writer's point routine for each.
template <MarkingMode kMode>
SecondPassResult mark_and_copy_records(LASreader& reader, IsolationGrid& grid, LASwriter& writer,
                                       std::uint8_t classify_as) {
  SecondPassResult result;
  const LASpoint& point = reader.point;
  const LASscaling& scaling = *point.scaling;
  const std::size_t size = static_cast<std::size_t>(point.record_size);
  std::vector<std::uint8_t> marked(size);
  for (;;) {
    const std::uint8_t* records = nullptr;
    const std::size_t count = reader.take_raw_records(records, SIZE_MAX);
    for (std::size_t i = 0; i < count; i++) {
      const std::uint8_t* record = records + i * size;
      std::int32_t X, Y, Z;
      std::uint16_t flightline;
      std::memcpy(&X, record, 4);
      std::memcpy(&Y, record + 4, 4);
      std::memcpy(&Z, record + 8, 4);
      std::memcpy(&flightline, record + offsetof(LASpointFields, point_source_ID), 2);
      const std::uint8_t* stored = record;
      if (grid.may_be_noise_in_order() &&
          grid.is_noise_at(scaling.get_x(X), scaling.get_y(Y), scaling.get_z(Z), flightline)) {
        result.noise_points++;
        if constexpr (kMode == MarkingMode::kRemove) continue;
        std::memcpy(marked.data(), record, size);
        if constexpr (kMode == MarkingMode::kClassify) {
          marked[kPoint10ClassByte] = static_cast<std::uint8_t>(
              (marked[kPoint10ClassByte] & ~kPoint10ClassBits) | (classify_as & kPoint10ClassBits));
        } else {
          marked[kPoint10ClassByte] |= kPoint10WithheldBit;
        }
        stored = marked.data();
      }
      if (!writer.write_raw_record(stored) && writer.failed()) {
        result.write_failed = true;
        return result;
      }
      writer.inventory.add(X, Y, Z, record[kPoint10ReturnByte] & 7u);
    }
    if (count != 0) continue;
    // A record across two buffer fills, or the end of the points.
    if (!reader.read_next()) return result;
    if (!mark_and_write_point<kMode>(reader, grid, writer, classify_as, false, result)) {
      return result;
    }
  }
}

template <MarkingMode kMode>
SecondPassResult second_pass_in_mode(LASreader& reader, IsolationGrid& grid, LASwriter& writer,
                                     std::uint8_t classify_as, bool very_verbose) {
  if (records_can_be_copied(reader, writer, very_verbose)) {
    return mark_and_copy_records<kMode>(reader, grid, writer, classify_as);
  }
  return mark_and_write<kMode>(reader, grid, writer, classify_as, very_verbose);
}

SecondPassResult second_pass(MarkingMode mode, LASreader& reader, IsolationGrid& grid,
                             LASwriter& writer, std::uint8_t classify_as, bool very_verbose) {
  switch (mode) {
    case MarkingMode::kClassify:
      return second_pass_in_mode<MarkingMode::kClassify>(reader, grid, writer, classify_as,
                                                         very_verbose);
    case MarkingMode::kFlagWithheld:
      return second_pass_in_mode<MarkingMode::kFlagWithheld>(reader, grid, writer, classify_as,
                                                             very_verbose);
    case MarkingMode::kRemove:
      break;
  }
  return second_pass_in_mode<MarkingMode::kRemove>(reader, grid, writer, classify_as, very_verbose);
}

std::int64_t clamp_to_int64(std::uint64_t value) {
  return value > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX
                                                       : static_cast<std::int64_t>(value);
}

}  // namespace

void NoiseRun::decide_units(const LASheader& header, bool& feet_xy, bool& feet_z) {
  if (!(horizontal_unit_given_ && vertical_unit_given_)) {
    if (header.geo_wkt() != nullptr) {
      projection_.set_projection_from_ogc_wkt(
          std::string_view(header.geo_wkt(), header.geo_wkt_size()));
    }
    if (!projection_.has_projection() && header.vlr_geo_keys() != nullptr) {
      projection_.set_projection_from_geo_keys(
          header.geo_key_count(), header.geo_key_entries(), header.geo_ascii_params(),
          header.geo_ascii_params_size(), header.geo_double_params(),
          header.geo_double_params_count());
    }
    // What the command line gave stays, whatever the file's records say.
    if (horizontal_unit_given_) projection_.set_horizontal_unit(horizontal_unit_);
    if (vertical_unit_given_) projection_.set_vertical_unit(vertical_unit_);
  }
  feet_xy = projection_.horizontal_unit() > kUnitFeetAbove;
  feet_z = projection_.vertical_unit() > kUnitFeetAbove;
}

void NoiseRun::forget_file_units() {
  // The next file's records decide anew; a unit learnt from this file must not make the
  // next file's steps feet when its own records name none.
  if (!horizontal_unit_given_) projection_.forget_horizontal_unit();
  if (!vertical_unit_given_) projection_.forget_vertical_unit();
  if (!projection_given_) projection_.forget_projection();
}

void NoiseRun::prepare_output_header(LASheader& header) const {
  header.set_system_identifier(kSystemIdentifier);
  header.set_generating_software(kGeneratingSoftware);
  if (!projection_given_) return;
  header.store_geo_keys(static_cast<std::uint32_t>(geo_keys_.size()), geo_keys_.data());
  if (!geo_double_params_.empty()) {
    header.store_geo_double_params(static_cast<std::uint32_t>(geo_double_params_.size()),
                                   geo_double_params_.data());
  } else {
    header.drop_vlr("LASF_Projection", 34736);
  }
  header.drop_vlr("LASF_Projection", 34737);
}

std::string NoiseRun::output_file_name() const {
  // The factory writes to nothing with -nil, even when a name is set.
  const char* name = writer_factory_.get_file_name();
  if (writer_factory_.settings().to_nil || name == nullptr) return {};
  return name;
}

bool NoiseRun::process_file(LASreader& reader, double file_start) {
  const NoiseSettings& s = settings_;
  const char* factory_name = reader_factory_.get_file_name();
  const std::string input_name = factory_name ? factory_name : "";
  const MarkingMode mode = s.marking_mode();

  bool feet_xy = false, feet_z = false;
  decide_units(reader.header, feet_xy, feet_z);
  float step_xy = s.step_xy;
  if (step_xy == 0.0f) {
    step_xy = feet_xy ? kDefaultStepFeet : kDefaultStep;
    if (feet_xy && s.verbose) {
      std::fprintf(stderr, "coordinates are feet. tripling default step_xy to %g\n",
                   static_cast<double>(step_xy));
    }
  }
  float step_z = s.step_z;
  if (step_z == 0.0f) {
    step_z = feet_z ? kDefaultStepFeet : kDefaultStep;
    if (feet_z && s.verbose) {
      std::fprintf(stderr, "elevation is feet. tripling default step_z to %g\n",
                   static_cast<double>(step_z));
    }
  }
  double phase_start = process_seconds();
  if (s.verbose) {
    std::fprintf(
        stderr, "gridding %" PRId64 " points with step_xy %.8g %s and step_z %.8g %s ...\n",
        reader.points_total, static_cast<double>(step_xy), projection_.horizontal_unit_short_name(),
        static_cast<double>(step_z), projection_.vertical_unit_short_name());
    phase_start = process_seconds();
  }

  // Declared before the grid: the spill files are gone before their directory is.
  TemporaryDirectory temporary;
  if (!temporary.ok()) {
    std::fprintf(stderr, "ERROR: no room for the temporary files of '%s'. skipping it.\n",
                 input_name.c_str());
    return false;
  }
  const SpillRegistration spill_registration(temporary);
  IsolationGridSettings grid_settings;
  grid_settings.step_xy = step_xy;
  grid_settings.step_z = step_z;
  grid_settings.threshold = threshold_;
  grid_settings.by_flightline = s.by_flightline;
  grid_settings.memory_limit = clamp_to_int64(s.memory_limit);
  grid_settings.temp_name_base = temporary.file_base();
  IsolationGrid grid(grid_settings, reader.get_ignore());

  // First pass.
  const std::uint64_t ignored = grid.first_pass(reader);
  const bool first_pass_failed = reader.read_failed();
  reader.close_reader(true);
  if (first_pass_failed) {
    // The reader's "ERROR: " line said what went wrong; this continues it.
    std::fprintf(stderr, "         no output written for '%s'.\n", input_name.c_str());
    return false;
  }
  if (grid.uncounted_count() != 0) {
    // An uncounted point could make its crowded neighbourhood look isolated.
    std::fprintf(stderr,
                 "ERROR: %" PRIu64
                 " points of '%s' could not be counted into the grid. no output "
                 "written.\n",
                 grid.uncounted_count(), input_name.c_str());
    return false;
  }
  if (grid.out_of_grid_count() != 0 && !s.quiet) {
    std::fprintf(stderr,
                 "WARNING: %" PRIu64
                 " points of '%s' have no grid cell (coordinates out of "
                 "range). they are never noise.\n",
                 grid.out_of_grid_count(), input_name.c_str());
  }
  if (s.verbose) {
    print_ignored_points(ignored);
    print_first_pass_done(process_seconds() - phase_start, grid.created_layers());
    phase_start = process_seconds();
  }

  // Search.
  grid.search([&](const GroupSearchResult& result) {
    if (!s.verbose) return;
    if (s.by_flightline) {
      print_flightline_search_done(process_seconds() - phase_start, result);
    } else {
      print_search_done(process_seconds() - phase_start, result.isolated_cells);
    }
    phase_start = process_seconds();
  });
  if (s.verbose && s.by_flightline) print_now_outputting();

  if (reader.is_layered()) {
    reopen_layered(reader);
  } else if (!reader_factory_.reopen(&reader, s.remain_buffered)) {
    std::fprintf(stderr, "ERROR: could not re-open lasreader\n");
    usage_exit(1);
  }

  // Output header and writer.
  LASheader header = reader.header;
  prepare_output_header(header);
  if (s.olay) return write_layer_file(reader, grid, input_name, file_start, phase_start);
  if (!writer_factory_.active()) writer_factory_.derive_file_name(input_name.c_str(), -1);

  const std::string output_name = output_file_name();
  const bool output_existed = !output_name.empty() && path_exists(output_name);
  if (output_existed) {
    // Writing it would destroy an input: this one while it is read, or one still to come
    // (a wildcard run again over its own outputs), or one done.
    std::string overwritten = same_file(output_name, input_name) ? input_name : "";
    for (std::uint32_t i = 0; overwritten.empty() && i < reader_factory_.get_file_count(); i++) {
      const char* listed = reader_factory_.get_file_name(i);
      if (listed != nullptr && same_file(output_name, listed)) overwritten = listed;
    }
    if (!overwritten.empty()) {
      std::fprintf(stderr, "ERROR: output '%s' is the input file '%s'. skipping '%s'.\n",
                   output_name.c_str(), overwritten.c_str(), input_name.c_str());
      return false;
    }
  }

  PartialOutput partial_output;
  std::unique_ptr<LASwriter> writer = writer_factory_.open(header);
  if (!writer) {
    // A file the failed open created is no output; one that was there before is not ours.
    if (!output_name.empty() && !output_existed) unlink(output_name.c_str());
    std::fprintf(stderr, "ERROR: could not open laswriter\n");
    // Only this file is lost: an output that cannot be made (a missing folder, a name taken
    // by a folder) says nothing about the next one. The run ends with code 1.
    return false;
  }
  partial_output.arm(output_name);
  if (mode == MarkingMode::kRemove) {
    auto deleted = std::make_unique<LASwriterDeleted>();
    if (deleted->set_writer(std::move(writer))) writer = std::move(deleted);
  }
  // A filter, a buffer or an area delivers other points than the header counts; so does
  // remove mode.
  const bool keep_inventory = mode == MarkingMode::kRemove || reader_factory_.has_buffer() ||
                              reader_factory_.get_filter() != nullptr || reader_factory_.has_area();

  // Second pass.
  const SecondPassResult pass = second_pass(
      mode, reader, grid, *writer, static_cast<std::uint8_t>(s.classify_as & 0xFF), s.very_verbose);
  const bool second_pass_failed = reader.read_failed();
  grid.release();
  const std::string shown_output = output_name.empty() ? "piped file" : output_name;
  if (pass.write_failed || second_pass_failed) {
    writer.reset();  // closes the file before it goes
    partial_output.remove();
    // The reader's or the writer's "ERROR: " line said what went wrong; this continues it.
    std::fprintf(stderr, "         partial output '%s' removed.\n", shown_output.c_str());
    return false;
  }
  if (s.verbose) {
    std::fprintf(stderr, "took %g sec. %" PRId64 " points were written.\n",
                 process_seconds() - phase_start, writer->points_done);
  }

  // The header must describe the points written. A cut input delivers fewer points than its
  // header announces (the second pass's count is what was written, whatever the first pass
  // or the header said), so the tally decides then too.
  const bool counts_differ =
      static_cast<std::uint64_t>(writer->points_done) != header.point_count();
  if (keep_inventory || counts_differ) writer->update_header(&header, true, false);
  const std::int64_t bytes = writer->close_writer(true);
  if (bytes == 0 || writer->failed()) {
    writer.reset();
    partial_output.remove();
    std::fprintf(stderr, "         partial output '%s' removed.\n", shown_output.c_str());
    return false;
  }
  if (s.remove_empty_files && writer->points_total == 0 && !output_name.empty()) {
    writer.reset();
    partial_output.remove();
    if (s.verbose) std::fprintf(stderr, "removing empty output file '%s'\n", output_name.c_str());
  }
  partial_output.keep();
  writer.reset();

  if (!s.quiet) {
    std::fprintf(stderr, "done with '%s'. took %g sec. %s %" PRIu64 " noise points.\n",
                 shown_output.c_str(), process_seconds() - file_start, marking_word(mode),
                 pass.noise_points);
  }
  return true;
}
