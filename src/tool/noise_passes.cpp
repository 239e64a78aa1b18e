// The two passes over a file's points: the first into the isolation grid, the second that
// marks the noise points and writes every point, and the tally of that second pass for an
// output whose header must be known before its first point.

#include "tool/noise_passes.hpp"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "las/las_reader.hpp"
#include "las/las_writer.hpp"
#include "las/las_writer_las.hpp"
#include "select/las_ignore.hpp"
#include "tool/isolation_grid.hpp"
#include "tool/las_writer_deleted.hpp"
#include "tool/layer_copy_pass.hpp"
#include "tool/noise_run.hpp"
#include "tool/transformed_records.hpp"

namespace {

using MarkingMode = NoiseSettings::MarkingMode;

// Every this many points the second pass tells the progress line.
constexpr std::uint64_t kProgressEvery = 0x3FFF;

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
  result.points++;
  if (ignore != nullptr && ignore->ignore(point)) {
    result.ignored++;
  } else if (grid.is_noise_in_order(point)) {
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
                                std::uint8_t classify_as, bool very_verbose,
                                ProgressLine& progress) {
  SecondPassResult result;
  while (reader.read_next()) {
    if (!mark_and_write_point<kMode>(reader, grid, writer, classify_as, very_verbose, result)) {
      break;
    }
    if ((result.points & kProgressEvery) == 0) progress.update(result.points);
  }
  return result;
}

// The bytes of a stored record that marking touches and the tally reads, for the two
// layouts whose records can be copied.
struct RecordBytes {
  std::size_t return_byte;  // return number in the low bits (return_bits)
  std::uint8_t return_bits;
  std::size_t class_byte;  // class in class_bits
  std::uint8_t class_bits;
  std::size_t withheld_byte;
  std::uint8_t withheld_bit;
  std::size_t point_source;  // offset of the 16-bit point source ID
};
constexpr RecordBytes kPoint10Bytes{14, 0x07, 15, 0x1F, 15, 0x80, 18};
// Types 6-10: the class has a byte of its own; the classification flags are the low four
// bits of byte 15 (synthetic, keypoint, withheld, overlap).
constexpr RecordBytes kPoint14Bytes{14, 0x0F, 16, 0xFF, 15, 0x04, 20};

// The record layout of points of types 0-10, or null for any other (no core item first).
const RecordBytes* record_bytes_of(const LASpoint& point) {
  if (point.items.empty()) return nullptr;
  if (point.items[0].type == LASitem::POINT10 && point.extended_layout == 0) {
    return &kPoint10Bytes;
  }
  if (point.items[0].type == LASitem::POINT14 && point.extended_layout != 0) {
    return &kPoint14Bytes;
  }
  return nullptr;
}

// Whether the second pass can copy the stored records from the reader to the writer,
// patching the class or flag byte of the noise points: the records come unfiltered and
// unconverted, the writer stores the same layout raw, and no ignore set or per-point report
// needs the points filled.
bool records_can_be_copied(const LASreader& reader, const LASwriter& writer, bool very_verbose) {
  const LASpoint& point = reader.point;
  const LASignore* ignore = reader.get_ignore();
  return !very_verbose && (ignore == nullptr || ignore->flags == 0) &&
         reader.delivers_raw_records() && point.scaling != nullptr &&
         record_bytes_of(point) != nullptr && writer.takes_raw_records(point);
}

// mark_and_write on stored records (see records_can_be_copied): the same bytes and the
// same tally, without filling the point and calling the writer's point routine for each.
template <MarkingMode kMode>
SecondPassResult mark_and_copy_records(LASreader& reader, IsolationGrid& grid, LASwriter& writer,
                                       std::uint8_t classify_as, ProgressLine& progress) {
  SecondPassResult result;
  const LASpoint& point = reader.point;
  const LASscaling& scaling = *point.scaling;
  const std::size_t size = static_cast<std::size_t>(point.record_size);
  const RecordBytes layout = *record_bytes_of(point);
  std::vector<std::uint8_t> marked(size);
  for (;;) {
    const std::uint8_t* records = nullptr;
    const std::size_t count = reader.take_raw_records(records, SIZE_MAX);
    result.points += count;
    progress.update(result.points);
    for (std::size_t i = 0; i < count; i++) {
      const std::uint8_t* record = records + i * size;
      std::int32_t X, Y, Z;
      std::uint16_t flightline;
      std::memcpy(&X, record, 4);
      std::memcpy(&Y, record + 4, 4);
      std::memcpy(&Z, record + 8, 4);
      std::memcpy(&flightline, record + layout.point_source, 2);
      const std::uint8_t* stored = record;
      if (grid.may_be_noise_in_order() &&
          grid.is_noise_at(scaling.get_x(X), scaling.get_y(Y), scaling.get_z(Z), flightline)) {
        result.noise_points++;
        if constexpr (kMode == MarkingMode::kRemove) continue;
        std::memcpy(marked.data(), record, size);
        if constexpr (kMode == MarkingMode::kClassify) {
          std::uint8_t& class_byte = marked[layout.class_byte];
          class_byte = static_cast<std::uint8_t>((class_byte & ~layout.class_bits) |
                                                 (classify_as & layout.class_bits));
        } else {
          marked[layout.withheld_byte] |= layout.withheld_bit;
        }
        stored = marked.data();
      }
      if (!writer.write_raw_record(stored) && writer.failed()) {
        result.write_failed = true;
        return result;
      }
      writer.inventory.add(X, Y, Z, record[layout.return_byte] & layout.return_bits);
    }
    if (count != 0) continue;
    // A record across two buffer fills, or the end of the points.
    if (!reader.read_next()) return result;
    if (!mark_and_write_point<kMode>(reader, grid, writer, classify_as, false, result)) {
      return result;
    }
  }
}

bool ignores_nothing(const LASreader& reader) {
  const LASignore* ignore = reader.get_ignore();
  return ignore == nullptr || ignore->flags == 0;
}

template <MarkingMode kMode>
SecondPassResult second_pass_in_mode(LASreader& reader, IsolationGrid& grid, LASwriter& writer,
                                     std::uint8_t classify_as, bool very_verbose,
                                     ProgressLine& progress, ByteStreamIn* first_pass_records) {
  // Layered PKZ into PKZ of the same chunks: only the marked layer is coded anew.
  LayerCopyResult copied;
  if (copy_layers(kMode, reader, grid, writer, classify_as, very_verbose, progress, copied,
                  first_pass_records)) {
    SecondPassResult result{copied.points, 0, copied.noise_points, copied.write_failed};
    if (copied.finished || copied.write_failed) return result;
    SecondPassResult rest =
        mark_and_write<kMode>(reader, grid, writer, classify_as, very_verbose, progress);
    rest.points += result.points;
    rest.noise_points += result.noise_points;
    return rest;
  }
  // A transform with a record form leaves the stored records to be copied, transformed.
  // Otherwise the wrapper goes (giving the transform back to the reader) before any other
  // path reads.
  if (!very_verbose && ignores_nothing(reader)) {
    if (auto transformed = LASreaderTransformedRecords::wrap(reader)) {
      if (records_can_be_copied(*transformed, writer, false)) {
        return mark_and_copy_records<kMode>(*transformed, grid, writer, classify_as, progress);
      }
    }
  }
  if (records_can_be_copied(reader, writer, very_verbose)) {
    return mark_and_copy_records<kMode>(reader, grid, writer, classify_as, progress);
  }
  return mark_and_write<kMode>(reader, grid, writer, classify_as, very_verbose, progress);
}

}  // namespace

SecondPassResult second_pass(MarkingMode mode, LASreader& reader, IsolationGrid& grid,
                             LASwriter& writer, std::uint8_t classify_as, bool very_verbose,
                             ProgressLine& progress, ByteStreamIn* first_pass_records) {
  switch (mode) {
    case MarkingMode::kClassify:
      return second_pass_in_mode<MarkingMode::kClassify>(
          reader, grid, writer, classify_as, very_verbose, progress, first_pass_records);
    case MarkingMode::kFlagWithheld:
      return second_pass_in_mode<MarkingMode::kFlagWithheld>(
          reader, grid, writer, classify_as, very_verbose, progress, first_pass_records);
    case MarkingMode::kRemove:
      break;
  }
  return second_pass_in_mode<MarkingMode::kRemove>(reader, grid, writer, classify_as, very_verbose,
                                                   progress, first_pass_records);
}

// A transform with a record form runs on the records the grid counts from; one that moves
// no point need not run at all, as the grid sees nothing else of a point and the second
// pass reads the file afresh.
std::uint64_t first_pass(IsolationGrid& grid, LASreader& reader) {
  if (ignores_nothing(reader)) {
    if (auto transformed = LASreaderTransformedRecords::wrap(reader)) {
      if (!transformed->moves_points()) return grid.first_pass(reader);
      return grid.first_pass(*transformed);
    }
  }
  return grid.first_pass(reader);
}

bool tally_second_pass(MarkingMode mode, LASreader& reader, IsolationGrid& grid,
                       const LASheader& header, std::uint8_t classify_as, LAStally& tally) {
  auto nil = std::make_unique<LASwriterLAS>();
  if (!nil->open_nil(&header)) return false;
  std::unique_ptr<LASwriter> writer = std::move(nil);
  if (mode == MarkingMode::kRemove) {
    auto deleted = std::make_unique<LASwriterDeleted>();
    if (!deleted->set_writer(std::move(writer))) return false;
    writer = std::move(deleted);
  }
  ProgressLine silent(nullptr, false);
  second_pass(mode, reader, grid, *writer, classify_as, false, silent);
  tally = writer->inventory;
  return true;
}
