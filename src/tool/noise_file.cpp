// One input file of the noise tool: units and steps, the first pass into the isolation grid,
// the search, the second pass that marks and writes, and the checks that keep a failed file
// from leaving an output that looks complete.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codec/las_read_engine.hpp"
#include "codec/pakrel.hpp"
#include "formats/las_reader_buffered.hpp"
#include "las/las_reader.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer.hpp"
#include "las/las_writer_las.hpp"
#include "model/las_header.hpp"
#include "select/las_ignore.hpp"
#include "select/las_writer_factory.hpp"
#include "tool/decoded_spill.hpp"
#include "tool/density_check.hpp"
#include "tool/header_tally.hpp"
#include "tool/isolation_grid.hpp"
#include "tool/las_writer_deleted.hpp"
#include "tool/layer_copy_pass.hpp"
#include "tool/noise_passes.hpp"
#include "tool/noise_run.hpp"
#include "tool/output_claims.hpp"
#include "tool/partial_output.hpp"
#include "tool/temporary_directory.hpp"
#include "tool/transformed_records.hpp"

namespace {

using MarkingMode = NoiseSettings::MarkingMode;

constexpr char kSystemIdentifier[] = "Brindlex";
constexpr char kGeneratingSoftware[] = "isocull64 (200509)";
constexpr int kUnitFeetAbove = 9001;  // unit codes above metre are feet of some kind
constexpr int kUnitDegrees = 9000;    // geographic coordinates
// More noise than this is more likely a setting that does not fit the data.
constexpr double kManyNoisePercent = 10.0;

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

// Decimals that show a coordinate as precisely as its scale factor stores it.
int decimals_of(double scale) {
  int decimals = 0;
  for (double step = 1.0; decimals < 9 && step > scale * 1.000001; step /= 10.0)
    decimals++;
  return decimals;
}

// One line per noise point, labelled, with the values before the point is changed and the
// coordinates in the file's units.
void report_noise_point(const LASreader& reader) {
  const LASpoint& point = reader.point;
  const LASscaling* scaling = point.scaling;
  std::fprintf(stderr, "noise point %u:", static_cast<unsigned>(reader.points_done - 1));
  if (scaling != nullptr) {
    std::fprintf(stderr, " x %.*f y %.*f z %.*f", decimals_of(scaling->x_scale_factor),
                 point.get_x(), decimals_of(scaling->y_scale_factor), point.get_y(),
                 decimals_of(scaling->z_scale_factor), point.get_z());
  } else {
    std::fprintf(stderr, " X %d Y %d Z %d", point.X, point.Y, point.Z);
  }
  if (point.has_gps_time) std::fprintf(stderr, " gps_time %.6f", point.gps_time);
  std::fprintf(stderr, " intensity %d class %d return %d of %d", point.intensity,
               point.classification, point.return_number, point.number_of_returns);
  if (point.has_rgb) {
    std::fprintf(stderr, " rgb %d %d %d", point.rgb[0], point.rgb[1], point.rgb[2]);
  }
  std::fprintf(stderr, "\n");
}

namespace {
// Whether what is written to the output can be rewritten afterwards (the header update at
// the end): a regular file can, a pipe, a terminal or a device cannot.
bool output_can_seek(const std::string& output_name, bool to_nil) {
  if (to_nil) return true;
  struct stat info {};
  if (output_name.empty()) return fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode);
  return stat(output_name.c_str(), &info) != 0 || S_ISREG(info.st_mode);
}

// Coordinates that look like longitude and latitude: a box inside the degree ranges and
// smaller than one cell of a step meant in metres or feet.
bool looks_geographic(const LASheader& header, double step_xy) {
  return header.min_x >= -180.0 && header.max_x <= 360.0 && header.min_y >= -90.0 &&
         header.max_y <= 90.0 && header.max_x - header.min_x < step_xy &&
         header.max_y - header.min_y < step_xy && header.point_count() >= 100;
}

// One WARNING when genuine points in sparse places will be marked as noise too, with a
// step that would give enough (see check_density).
void warn_when_sparse(IsolationGrid& grid, const std::string& input_name, std::int32_t isolated,
                      float step_xy, float step_z) {
  const DensityFinding finding = check_density(grid, static_cast<std::uint32_t>(isolated));
  if (!finding.sparse) return;
  char step[96];
  if (step_xy == step_z) {
    std::snprintf(step, sizeof(step), "'-step %g'", rounded_up_step(step_xy, finding.scale));
  } else {
    std::snprintf(step, sizeof(step), "'-step_xy %g -step_z %g'",
                  rounded_up_step(step_xy, finding.scale), rounded_up_step(step_z, finding.scale));
  }
  std::fprintf(stderr,
               "WARNING: the points of '%s' are sparse for these settings: one point in 200 has "
               "at most %" PRIu64 " points in its cell and the 26 around it, fewer than %" PRIu64
               " (three times the %d that '-isolated %d' leaves isolated), so genuine points in "
               "sparse places are marked as noise too. %s would give about %" PRIu64 ".\n",
               input_name.c_str(), finding.sparse_count, finding.bound, isolated + 1, isolated,
               step, finding.target);
}

// Said after the per-file line's count when neighbours' points were counted too.
std::string buffer_clause(const FileRecord& record) {
  if (record.buffer_points == 0) return {};
  char clause[96];
  std::snprintf(clause, sizeof(clause), " %" PRIu64 " buffer points of neighbours counted besides.",
                record.buffer_points);
  return clause;
}

std::int64_t clamp_to_int64(std::uint64_t value) {
  return value > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX
                                                       : static_cast<std::int64_t>(value);
}

}  // namespace

void NoiseRun::warn_when_buffer_is_short(const FileLane& lane, const std::string& input_name,
                                         float step_xy) const {
  if (!lane.readers.has_buffer()) return;
  // A neighbour cell of a point at the tile's edge reaches two cells beyond it.
  const double least = 2.0 * static_cast<double>(step_xy);
  const double buffer = lane.readers.settings().buffer_size;
  if (buffer >= least) return;
  std::fprintf(stderr,
               "WARNING: '-buffered %g' is less than two cells (step_xy %g %s) of '%s': points "
               "near its edges may get other verdicts than the whole survey gives them. "
               "'-buffered %g' is the least that gives every point the verdict of the whole "
               "survey.\n",
               buffer, static_cast<double>(step_xy), lane.projection.horizontal_unit_short_name(),
               input_name.c_str(), least);
}

void NoiseRun::decide_units(FileLane& lane, const LASheader& header, bool& feet_xy, bool& feet_z) {
  if (!(horizontal_unit_given_ && vertical_unit_given_)) {
    take_units_from_header(lane.projection, header);
    // What the command line gave stays, whatever the file's records say.
    if (horizontal_unit_given_) lane.projection.set_horizontal_unit(horizontal_unit_);
    if (vertical_unit_given_) lane.projection.set_vertical_unit(vertical_unit_);
  }
  feet_xy = lane.projection.horizontal_unit() > kUnitFeetAbove;
  feet_z = lane.projection.vertical_unit() > kUnitFeetAbove;
}

void NoiseRun::forget_file_units(FileLane& lane) {
  // The next file's records decide anew; a unit learnt from this file must not make the
  // next file's steps feet when its own records name none.
  if (!horizontal_unit_given_) lane.projection.forget_horizontal_unit();
  if (!vertical_unit_given_) lane.projection.forget_vertical_unit();
  if (!projection_given_) lane.projection.forget_projection();
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

bool NoiseRun::start_decoded_spill(FileLane& lane, LASreader& reader, DecodedSpill& decoded) const {
  const NoiseSettings& s = settings_;
  const Pakrel* codec = reader.header.codec.get();
  if (s.decoded_spill == 0 || codec == nullptr || codec->compressor == Pakrel::COMPRESSOR_RAW) {
    return false;
  }
  auto* las = dynamic_cast<LASreaderLAS*>(&reader);
  if (las == nullptr) return false;
  const std::uint64_t limit = s.decoded_spill < 0
                                  ? DecodedSpill::default_limit()
                                  : static_cast<std::uint64_t>(s.decoded_spill) << 20;
  if (codec->compressor == Pakrel::COMPRESSOR_LAYERED &&
      first_pass_layers(lane.readers) != kDecompressAll) {
    // The layer copy codes one layer anew after a first pass that decodes a few, and reads
    // those from the records: that beats decoding every layer once.
    if (s.marking_mode() != MarkingMode::kRemove &&
        lane.writers.get_format() == LASwriterFactory::kFormatPKZ) {
      return decoded.start(reader, limit, lane.readers.has_area(), false);
    }
    const std::uint64_t record = las->point.record_size;
    if (record == 0 || static_cast<std::uint64_t>(las->points_total) > limit / record) {
      return false;
    }
    // The records kept must be whole.
    if (!las->set_selective_decoding(kDecompressAll)) return false;
  }
  return decoded.start(reader, limit, lane.readers.has_area(), true);
}

std::string NoiseRun::output_file_name(const FileLane& lane) const {
  // The factory writes to nothing with -nil, even when a name is set.
  const char* name = lane.writers.get_file_name();
  if (lane.writers.settings().to_nil || name == nullptr) return {};
  return name;
}

bool NoiseRun::process_file(FileLane& lane, LASreader& reader, double file_start,
                            FileRecord& record, std::string& claimed) {
  const NoiseSettings& s = settings_;
  const char* factory_name = lane.readers.get_file_name();
  const std::string input_name = factory_name ? factory_name : "";
  const MarkingMode mode = s.marking_mode();
  record.input = input_name;
  record.point_type = reader.header.point_data_format & 0x3F;

  bool feet_xy = false, feet_z = false;
  decide_units(lane, reader.header, feet_xy, feet_z);
  float step_xy = s.step_xy;
  if (step_xy == 0.0f) {
    step_xy = default_step(lane.projection.horizontal_unit());
    if (feet_xy && s.verbose) {
      std::fprintf(stderr, "coordinates are feet. tripling default step_xy to %g\n",
                   static_cast<double>(step_xy));
    }
  }
  float step_z = s.step_z;
  if (step_z == 0.0f) {
    step_z = default_step(lane.projection.vertical_unit());
    if (feet_z && s.verbose) {
      std::fprintf(stderr, "elevation is feet. tripling default step_z to %g\n",
                   static_cast<double>(step_z));
    }
  }
  record.step_xy = step_xy;
  record.step_z = step_z;
  record.unit_xy = lane.projection.horizontal_unit_short_name();
  record.unit_z = lane.projection.vertical_unit_short_name();
  if (!s.quiet && (lane.projection.horizontal_unit() == kUnitDegrees ||
                   looks_geographic(reader.header, step_xy))) {
    std::fprintf(stderr,
                 "WARNING: the coordinates of '%s' look like degrees (longitude and latitude) "
                 "but step_xy %g is meant in metres or feet. reproject the file or give a step "
                 "in degrees.\n",
                 input_name.c_str(), static_cast<double>(step_xy));
  }
  warn_when_buffer_is_short(lane, input_name, step_xy);
  // A buffered reader counts its neighbours' points among its own; the file's are its
  // header's.
  std::int64_t buffer_gathered = 0;
  if (const auto* buffered = dynamic_cast<const LASreaderBuffered*>(&reader)) {
    buffer_gathered = buffered->buffer_point_count();
  }
  const std::int64_t file_total = std::max<std::int64_t>(reader.points_total - buffer_gathered, 0);
  double phase_start = process_seconds();
  if (s.verbose) {
    std::fprintf(
        stderr, "gridding %" PRId64 " points with step_xy %.8g %s and step_z %.8g %s ...\n",
        file_total, static_cast<double>(step_xy), lane.projection.horizontal_unit_short_name(),
        static_cast<double>(step_z), lane.projection.vertical_unit_short_name());
    phase_start = process_seconds();
  }

  // The output is known before the first pass: a file that may not be written is not read.
  // With -olay the output is a LAY file beside the input, not a point file.
  const std::string target = planned_output(lane, input_name);
  const std::string output_name = s.olay ? std::string() : target;
  record.output = output_name;
  if (claimed.empty() && !claim_output(target, input_name, claimed, record)) return false;
  if (s.olay && !s.ilay && !layer_file_may_be_replaced(reader, input_name, target, record)) {
    return false;
  }

  // Declared before the grid: the spill files are gone before their directory is.
  TemporaryDirectory temporary;
  if (!temporary.ok()) {
    std::fprintf(stderr, "ERROR: no room for the temporary files of '%s'. skipping it.\n",
                 input_name.c_str());
    record.message = "no room for the temporary files";
    return false;
  }
  IsolationGridSettings grid_settings;
  grid_settings.step_xy = step_xy;
  grid_settings.step_z = step_z;
  grid_settings.threshold = threshold_;
  grid_settings.by_flightline = s.by_flightline;
  grid_settings.memory_limit = clamp_to_int64(s.memory_limit);
  grid_settings.sparse_tiles = !s.whole_tiles;
  grid_settings.temp_name_base = temporary.file_base();
  IsolationGrid grid(grid_settings, reader.get_ignore());
  DecodedSpill decoded;
  start_decoded_spill(lane, reader, decoded);

  // First pass.
  lane.progress.start("pass 1 of 2", reader.points_total);
  grid.set_progress([&lane](std::uint64_t points) { lane.progress.update(points); });
  const std::uint64_t ignored = first_pass(grid, reader);
  lane.progress.finish();
  const bool first_pass_failed = reader.read_failed();
  // The file's stored points the reader went through (all of them without an area; with an
  // index only those near it).
  const std::int64_t file_points_seen =
      std::max<std::int64_t>(reader.points_done - buffer_gathered, 0);
  record.points_in_file =
      static_cast<std::uint64_t>(file_total > 0 ? file_total : file_points_seen);
  decoded.finish(reader);
  reader.close_reader(true);
  if (first_pass_failed) {
    // The reader's "ERROR: " line said what went wrong; this continues it.
    std::fprintf(stderr, "         no output written for '%s'.\n", input_name.c_str());
    record.message = "the points could not be read";
    return false;
  }
  if (grid.uncounted_count() != 0) {
    if (grid.spill_failed()) {
      // The spill's "ERROR: " line said why; the pass ended there.
      std::fprintf(stderr, "         no output written for '%s'.\n", input_name.c_str());
      record.message = "the temporary files of the grid could not be written";
    } else {
      // An uncounted point could make its crowded neighbourhood look isolated.
      std::fprintf(stderr,
                   "ERROR: %" PRIu64
                   " points of '%s' could not be counted into the grid. no output "
                   "written.\n",
                   grid.uncounted_count(), input_name.c_str());
      record.message = "points could not be counted into the grid";
    }
    return false;
  }
  // A file that ends before its header's count (or, for a reader without one, the end its
  // header announces) is cut: what it holds is written, and the run reports it at its end.
  const bool short_of_count = !lane.readers.has_area() && reader.points_done < reader.points_total;
  const bool cut = short_of_count || reader.ended_cut();
  if (cut) {
    record.message = "end-of-file after " + std::to_string(reader.points_done) +
                     (short_of_count ? " of " + std::to_string(reader.points_total) : "") +
                     " points";
  }
  FirstPassCounts counts;
  counts.points_in_file = record.points_in_file;
  counts.points_present =
      cut ? static_cast<std::uint64_t>(file_points_seen) : record.points_in_file;
  counts.points_given = grid.first_pass_points();
  counts.buffered = buffer_gathered > 0;
  if (grid.out_of_grid_count() != 0 && !s.quiet) {
    std::fprintf(stderr,
                 "WARNING: %" PRIu64
                 " points of '%s' have no grid cell (coordinates out of "
                 "range). they are never noise.\n",
                 grid.out_of_grid_count(), input_name.c_str());
  }
  if (!s.quiet) warn_when_sparse(grid, input_name, s.isolated, step_xy, step_z);
  if (s.verbose) {
    print_ignored_points(ignored);
    print_first_pass_done(process_seconds() - phase_start, grid.created_layers());
    phase_start = process_seconds();
  }

  // Search.
  record.isolated_cells = grid.search([&](const GroupSearchResult& result) {
    if (!s.verbose) return;
    if (s.by_flightline) {
      print_flightline_search_done(process_seconds() - phase_start, result);
    } else {
      print_search_done(process_seconds() - phase_start, result.isolated_cells);
    }
    phase_start = process_seconds();
  });
  if (s.verbose && s.by_flightline) print_now_outputting();
  if (grid.spill_failed()) {
    std::fprintf(stderr, "         no output written for '%s'.\n", input_name.c_str());
    record.message = "the temporary files of the grid could not be written";
    return false;
  }

  // The second pass writes every field.
  lane.readers.set_selective_decoding(kDecompressAll);
  if (reader.is_layered()) {
    if (!reopen_layered(reader)) {
      record.message = kDamagedLayerFile;
      return false;
    }
  } else if (!lane.readers.reopen(&reader, s.remain_buffered)) {
    std::fprintf(stderr, "ERROR: could not re-open lasreader\n");
    record.message = "could not re-open lasreader";
    return false;
  }
  decoded.replay(reader);
  reader.warn_when_cut = false;  // said once, in the first pass

  // Output header and writer.
  LASheader header = reader.header;
  prepare_output_header(header);
  if (s.olay) {
    return write_layer_file(reader, grid, input_name, file_start, phase_start, counts, record);
  }
  // A filter, a buffer or an area delivers other points than the header counts; so does
  // remove mode. Readers of other formats only estimate the box (and some the count), and a
  // transform that moves points needs the bounding box of what was written.
  const LAStransform* transform = lane.readers.get_transform();
  const bool moved = transform != nullptr &&
                     (transform->changed_fields & (kChangedX | kChangedY | kChangedZ)) != 0;
  const bool keep_inventory = mode == MarkingMode::kRemove || lane.readers.has_buffer() ||
                              lane.readers.get_filter() != nullptr || lane.readers.has_area() ||
                              reader.format_code() > 2 || moved;
  const bool can_seek = output_can_seek(output_name, lane.writers.settings().to_nil);
  const std::uint8_t classify_as = static_cast<std::uint8_t>(s.classify_as & 0xFF);
  if (!can_seek && (keep_inventory || cut)) {
    // An output that cannot be rewritten gets a header that already describes the points
    // that follow: a pass that only tallies them (the verdicts are all known) comes first.
    LAStally tally;
    if (!tally_second_pass(mode, reader, grid, header, classify_as, tally)) {
      std::fprintf(stderr, "ERROR: cannot tally the points of '%s'\n", input_name.c_str());
      record.message = "cannot tally the points";
      return false;
    }
    if (reader.read_failed()) {
      std::fprintf(stderr, "         no output written for '%s'.\n", input_name.c_str());
      record.message = "the points could not be read";
      return false;
    }
    describe_tally(header, tally);
    grid.restart_in_order();
    if (!lane.readers.reopen(&reader, s.remain_buffered)) {
      std::fprintf(stderr, "ERROR: could not re-open lasreader\n");
      record.message = "could not re-open lasreader";
      return false;
    }
    decoded.replay(reader);
    reader.warn_when_cut = false;
  }

  PartialOutput partial_output;
  std::unique_ptr<LASwriter> writer = partial_output.open(lane.writers, header, output_name);
  if (!writer) {
    std::fprintf(stderr, "ERROR: could not open laswriter\n");
    // Only this file is lost: an output that cannot be made (a missing folder, a name taken
    // by a folder) says nothing about the next one. The run ends with code 1.
    record.message = "could not open laswriter";
    return false;
  }
  if (mode == MarkingMode::kRemove) {
    auto deleted = std::make_unique<LASwriterDeleted>();
    if (deleted->set_writer(std::move(writer))) writer = std::move(deleted);
  }

  // Second pass.
  lane.progress.start("pass 2 of 2", reader.points_total);
  const SecondPassResult pass =
      second_pass(mode, reader, grid, *writer, classify_as, s.very_verbose, lane.progress,
                  decoded.partial_records());
  lane.progress.finish();
  const bool second_pass_failed = reader.read_failed() || grid.spill_failed();
  grid.release();
  settle_counts(record, counts, pass.points, pass.ignored, pass.noise_points);
  const std::string shown_output = output_name.empty() ? input_name : output_name;
  if (pass.write_failed || second_pass_failed) {
    writer.reset();  // closes the file before it goes
    // The reader's or the writer's "ERROR: " line said what went wrong; this continues it.
    if (partial_output.remove()) {
      std::fprintf(stderr, "         partial output '%s' removed.\n", shown_output.c_str());
    }
    record.message = pass.write_failed ? "the output could not be written"
                                       : "the points could not be read or marked";
    return false;
  }
  if (s.verbose) {
    std::fprintf(stderr, "took %g sec. %" PRId64 " points were written.\n",
                 process_seconds() - phase_start, writer->points_done);
    std::fputs(counts_line(record).c_str(), stderr);
  }

  // The header must describe the points written. A cut input delivers fewer points than its
  // header announces (the second pass's count is what was written, whatever the first pass
  // or the header said), so the tally decides then too. An output that cannot be rewritten
  // got its header from the tally already.
  const bool counts_differ =
      static_cast<std::uint64_t>(writer->points_done) != header.point_count();
  if (can_seek && (keep_inventory || counts_differ)) writer->update_header(&header, true, false);
  const std::int64_t bytes = writer->close_writer(true);
  if (bytes == 0 || writer->failed()) {
    writer.reset();
    if (partial_output.remove()) {
      std::fprintf(stderr, "         partial output '%s' removed.\n", shown_output.c_str());
    }
    record.message = "the output could not be written";
    return false;
  }
  bool output_removed = false;
  if (s.remove_empty_files && writer->points_total == 0 && !output_name.empty()) {
    writer.reset();
    partial_output.remove();
    output_removed = true;
    if (s.verbose) std::fprintf(stderr, "removing empty output file '%s'\n", output_name.c_str());
  }
  partial_output.keep();
  writer.reset();
  record.output_written = !output_name.empty() && !output_removed;
  record.status = cut ? FileRecord::Status::kCut : FileRecord::Status::kDone;

  const std::uint64_t delivered = pass.points;
  const double share = percent_of(pass.noise_points, delivered);
  if (!s.quiet && output_removed) {
    if (delivered != 0 && pass.noise_points == delivered) {
      std::fprintf(stderr,
                   "all %" PRIu64
                   " points of '%s' are noise: no output written; -dont_remove_empty_files "
                   "keeps an empty file\n",
                   delivered, input_name.c_str());
    } else {
      std::fprintf(stderr,
                   "no points of '%s' were left to write: no output written; "
                   "-dont_remove_empty_files keeps an empty file\n",
                   input_name.c_str());
    }
  } else if (!s.quiet) {
    const double seconds = process_seconds() - file_start;
    if (output_name.empty()) {
      std::fprintf(stderr,
                   "done with '%s' (%s). took %g sec. %s %" PRIu64 " noise points of %" PRIu64
                   " read (%.3g%%).%s\n",
                   input_name.c_str(),
                   lane.writers.settings().to_nil ? "nothing written" : "to standard output",
                   seconds, marking_word(mode), pass.noise_points, delivered, share,
                   buffer_clause(record).c_str());
    } else {
      std::fprintf(stderr,
                   "done with '%s' from '%s'. took %g sec. %s %" PRIu64 " noise points of %" PRIu64
                   " read (%.3g%%).%s\n",
                   output_name.c_str(), input_name.c_str(), seconds, marking_word(mode),
                   pass.noise_points, delivered, share, buffer_clause(record).c_str());
    }
  }
  if (!s.quiet && share > kManyNoisePercent &&
      !(output_removed && pass.noise_points == delivered)) {
    std::fprintf(stderr,
                 "WARNING: %.3g%% of the points of '%s' are noise (%" PRIu64 " of %" PRIu64
                 "). is the step too small or '-isolated' too large?\n",
                 share, input_name.c_str(), pass.noise_points, delivered);
  }
  return true;
}
