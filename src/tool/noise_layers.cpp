// The noise tool's layer paths: reading through the LAY file of an input (-ilay), and
// writing the noise marks as a new layer of it instead of a copy of the file (-olay).

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "las/las_reader.hpp"
#include "layers/las_apply.hpp"
#include "layers/las_modify.hpp"
#include "layers/lay_file.hpp"
#include "layers/lay_file_lock.hpp"
#include "layers/lay_identity_check.hpp"
#include "select/las_ignore.hpp"
#include "tool/isolation_grid.hpp"
#include "tool/noise_run.hpp"

namespace {

using MarkingMode = NoiseSettings::MarkingMode;

// Bytes of the points, and of the file's end, that identify a point file for its layers.
constexpr std::uint32_t kIdentityBlockBytes = 65536;
// Every layer of the file is applied.
constexpr std::uint32_t kAllLayers = 2147483647;
// Room for a layer's description text.
constexpr std::uint32_t kLayerDescriptionSize = 48;
constexpr std::size_t kCommandLineSize = 4096;  // with its terminating zero

void print_reason(const std::string& reason) {
  if (!reason.empty()) std::fprintf(stderr, "         %s\n", reason.c_str());
}

// How the LAY file of an input went: its layers loaded; skipped (absent, or another point
// file's: the warning of the step, the file is read as it is); or refused (there but
// damaged: one ERROR, the file fails, for reading it without its layers would silently
// undo them).
enum class LayerLoad { kLoaded, kSkipped, kRefused };

LayerLoad refuse_damaged(const LASapply& apply) {
  std::fprintf(stderr, "ERROR: refusing damaged LAY file %s\n", apply.failure().c_str());
  return LayerLoad::kRefused;
}

// Loads the layers into `apply` for `reader`; `again` for the second pass, which warns only
// where the first did not get as far.
LayerLoad load_layer_file(LASapply& apply, const LASreader& reader, const std::string& input_name,
                          bool again) {
  if (!apply.open(reader, input_name, kIdentityBlockBytes)) {
    if (apply.damaged()) return refuse_damaged(apply);
    std::fprintf(stderr, again ? "WARNING: could not re-open LAY file ... skipping\n"
                               : "WARNING: could not open LAY file ... skipping\n");
    print_reason(apply.failure());
    return LayerLoad::kSkipped;
  }
  if (apply.unchecked() && !again) {
    std::fprintf(stderr,
                 "WARNING: LAY file '%s' has no checksums (version 1): its layers are applied "
                 "unchecked\n",
                 apply.lay_file_name().c_str());
  }
  if (!apply.load_layers(kAllLayers)) {
    if (apply.damaged()) return refuse_damaged(apply);
    std::fprintf(stderr, again ? "WARNING: could not re-load layers ... skipping\n"
                               : "WARNING: could not load layers ... skipping\n");
    print_reason(apply.failure());
    return LayerLoad::kSkipped;
  }
  return LayerLoad::kLoaded;
}

struct LayerPassResult {
  std::uint64_t points = 0;
  std::uint64_t ignored = 0;
  std::uint64_t noise_points = 0;
  bool write_failed = false;
};

// The second pass into the layer writer: an unchanged point is written as the reader holds
// it, a noise point as a marked copy, so the writer sees what changed. The marks are those
// of a full copy; the same ignore test and grid question come in the same order.
template <MarkingMode kMode>
LayerPassResult mark_into_layer(LASreader& reader, IsolationGrid& grid, LASmodify& modify,
                                std::uint8_t classify_as, bool very_verbose) {
  LayerPassResult result;
  LASpoint layer_point = reader.point;  // the reader's item layout
  const LASignore* ignore = reader.get_ignore();
  while (reader.read_next()) {
    const LASpoint& point = reader.point;
    const LASpoint* written = &point;
    result.points++;
    if (ignore != nullptr && ignore->ignore(point)) {
      result.ignored++;
    } else if (grid.is_noise_in_order(point)) {
      if (very_verbose) report_noise_point(reader);
      layer_point.copy_values_from(point);
      if constexpr (kMode == MarkingMode::kClassify) {
        layer_point.classification = classify_as & 0x1F;
        layer_point.extended_classification = classify_as;
      } else if constexpr (kMode == MarkingMode::kFlagWithheld) {
        layer_point.set_withheld_flag(true);
      } else {
        layer_point.deletion_mark = 1;
      }
      written = &layer_point;
      result.noise_points++;
    }
    if (!modify.write_point(*written)) {
      result.write_failed = true;
      break;
    }
  }
  return result;
}

}  // namespace

void NoiseRun::take_olay_command_line() {
  bool wanted = false;
  for (int i = 1; i < argc_ && !wanted; i++)
    wanted = std::string_view(argv_[i]).starts_with("-olay");
  if (!wanted) return;
  // Every entry with a blank after it, the last blank dropped; cut to the buffer's size.
  std::string line;
  for (int i = 0; i < argc_; i++) {
    if (i > 0) line += ' ';
    line += argv_[i];
  }
  if (line.size() >= kCommandLineSize) line.resize(kCommandLineSize - 1);
  olay_command_line_ = std::move(line);
}

std::unique_ptr<LASreader> NoiseRun::apply_layer_file(std::unique_ptr<LASreader> reader,
                                                      bool& refused) {
  refused = false;
  const char* name = reader_factory_.get_file_name();
  if (name == nullptr) return reader;
  auto apply = std::make_unique<LASapply>();
  apply->set_directory(settings_.ilaydir);
  const LayerLoad load = load_layer_file(*apply, *reader, name, false);
  if (load == LayerLoad::kRefused) {
    refused = true;
    return nullptr;
  }
  if (load == LayerLoad::kSkipped) return reader;
  apply->take_reader(std::move(reader));
  return apply;
}

void NoiseRun::lock_layer_file(const FileLane& lane, LAYfileLock& lock) const {
  const char* name = lane.readers.get_file_name();
  if (name == nullptr || name[0] == '\0') return;
  const std::string lay_name =
      lay_file_name(name, settings_.ilay ? settings_.ilaydir : settings_.olaydir);
  std::string failure;
  LAYfileLock::Result result = lock.acquire(lay_name, false, failure);
  if (result == LAYfileLock::Result::kBusy) {
    if (!settings_.quiet) {
      std::fprintf(stderr, "waiting for LAY file '%s', which another run is changing ...\n",
                   lay_name.c_str());
    }
    result = lock.acquire(lay_name, true, failure);
  }
  if (result == LAYfileLock::Result::kFailed) {
    // The layer is still never added to layers that changed meanwhile (see LASmodify).
    std::fprintf(stderr, "WARNING: cannot lock LAY file '%s': %s\n", lay_name.c_str(),
                 failure.c_str());
  }
}

bool NoiseRun::reopen_layered(LASreader& reader) {
  auto& apply = static_cast<LASapply&>(reader);
  const char* factory_name = reader_factory_.get_file_name();
  const std::string name = factory_name ? factory_name : "";
  apply.release_reader().reset();
  std::unique_ptr<LASreader> inner = reader_factory_.open(name.c_str(), false);
  if (!inner) {
    std::fprintf(stderr, "ERROR: could not re-open modified lasreader\n");
    plain_exit(1, interactive_);
  }
  const LayerLoad load = load_layer_file(apply, *inner, name, true);
  if (load == LayerLoad::kRefused) return false;
  // Without its layers the file is read as it is, as after a failed first load.
  if (load == LayerLoad::kSkipped) apply.open_without_layers();
  apply.take_reader(std::move(inner));
  return true;
}

bool NoiseRun::layer_file_may_be_replaced(const LASreader& reader, const std::string& input_name,
                                          const std::string& lay_name, FileRecord& record) {
  if (writer_factory_.settings().force) return true;
  const std::uint64_t point_count =
      static_cast<std::uint64_t>(std::max<std::int64_t>(reader.points_total, 0));
  std::string failure;
  if (lay_file_replaceable(lay_name, input_name, reader.header, point_count, kIdentityBlockBytes,
                           failure)) {
    return true;
  }
  // The layers of another point file (tile.las and tile.pkz share tile.lay) are lost once
  // replaced, and nothing says so until that file is read through them.
  std::fprintf(stderr, "ERROR: %s. '-oforce' replaces it. skipping '%s'.\n", failure.c_str(),
               input_name.c_str());
  record.message = failure;
  return false;
}

bool NoiseRun::write_layer_file(LASreader& reader, IsolationGrid& grid,
                                const std::string& input_name, double file_start,
                                double phase_start, const FirstPassCounts& counts,
                                FileRecord& record) {
  const NoiseSettings& s = settings_;
  const MarkingMode mode = s.marking_mode();
  std::vector<double> parameters;
  if (mode == MarkingMode::kClassify) parameters = {1.0, static_cast<double>(s.classify_as), 1.0};
  if (const LASignore* ignore = reader.get_ignore()) {
    double values[LASignore::kMaxExportedValues];
    std::uint32_t count = 0;
    ignore->export_values(count, values);
    parameters.insert(parameters.end(), values, values + count);
  }
  const char* command_line = olay_command_line_.c_str();
  LASmodify modify;
  switch (mode) {
    case MarkingMode::kClassify:
      if (!modify.add_replace_layer("classification", kLayerDescriptionSize, command_line,
                                    parameters)) {
        std::fprintf(stderr, "ERROR: adding layer replace classification for '%s'\n",
                     input_name.c_str());
        plain_exit(1, interactive_);
      }
      break;
    case MarkingMode::kFlagWithheld:
      if (!modify.add_replace_layer("withheld_flag", kLayerDescriptionSize, command_line,
                                    parameters)) {
        std::fprintf(stderr, "ERROR: adding layer replace withheld_flag for '%s'\n",
                     input_name.c_str());
        plain_exit(1, interactive_);
      }
      break;
    case MarkingMode::kRemove:
      if (!modify.add_delete_layer(kLayerDescriptionSize, command_line, parameters)) {
        std::fprintf(stderr, "ERROR: adding layer delete point for '%s'\n", input_name.c_str());
        plain_exit(1, interactive_);
      }
      break;
  }
  modify.set_directory(s.ilay ? s.ilaydir : s.olaydir);
  if (!modify.open(reader, input_name, s.ilay, 0, kIdentityBlockBytes)) {
    // Only this file is refused (a layer file of another point file, say): the next
    // file's layer file is another.
    std::fprintf(stderr, "ERROR: opening lasmodify file for '%s'\n", input_name.c_str());
    record.message = "opening lasmodify file failed";
    return false;
  }
  const std::uint8_t classify_as = static_cast<std::uint8_t>(s.classify_as & 0xFF);
  LayerPassResult pass;
  switch (mode) {
    case MarkingMode::kClassify:
      pass = mark_into_layer<MarkingMode::kClassify>(reader, grid, modify, classify_as,
                                                     s.very_verbose);
      break;
    case MarkingMode::kFlagWithheld:
      pass = mark_into_layer<MarkingMode::kFlagWithheld>(reader, grid, modify, classify_as,
                                                         s.very_verbose);
      break;
    case MarkingMode::kRemove:
      pass =
          mark_into_layer<MarkingMode::kRemove>(reader, grid, modify, classify_as, s.very_verbose);
      break;
  }
  grid.release();
  // A pass cut short would record too few changes: the LAY file stays as it was.
  if (pass.write_failed || reader.read_failed()) {
    std::fprintf(stderr, "         LAY file '%s' not written.\n", modify.lay_file_name().c_str());
    return false;
  }
  settle_counts(record, counts, pass.points, pass.ignored, pass.noise_points);
  if (s.verbose) {
    std::fprintf(stderr, "took %g sec. %" PRId64 " points were written.\n",
                 process_seconds() - phase_start, modify.points_done);
    std::fputs(counts_line(record).c_str(), stderr);
  }
  if (modify.close_writer(true) == 0) return false;
  record.output = modify.lay_file_name();
  record.output_written = true;
  record.status = FileRecord::Status::kDone;
  if (!s.quiet) {
    std::fprintf(stderr, "done with '%s'. took %g sec. %s %" PRIu64 " noise points.\n",
                 input_name.empty() ? "piped file" : input_name.c_str(),
                 process_seconds() - file_start, marking_word(mode), pass.noise_points);
  }
  return true;
}
