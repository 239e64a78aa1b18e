#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "filter/las_record_layout.hpp"
#include "las/las_reader.hpp"

class LAStransform;

// The stored records of a reader with its transform applied to the records themselves, for
// the passes of the noise tool that work on records (the first pass's grid counting and
// the second pass's copy-and-patch): a transform whose every operation has a record form
// (LAStransform::has_record_form) costs a few arithmetic operations per record instead of
// filling, changing and storing each point, with the same bytes and overflow counts.
//
// While it lives, the transform is detached from the wrapped reader (so that reader hands
// out its records untransformed) and this reader hands them out transformed, from a buffer
// of its own; a record that the wrapped reader can only deliver as a point (across two
// buffer fills) is transformed as a point. Destruction attaches the transform again, so
// the wrapped reader reports the overflows when it goes. The wrapped reader must outlive
// this one and is read only through it meanwhile (from one thread at a time).
class LASreaderTransformedRecords final : public LASreader {
 public:
  // Null, with the reader left as it was, unless the reader has a transform with a record
  // form for its records and hands out records once the transform is detached.
  static std::unique_ptr<LASreaderTransformedRecords> wrap(LASreader& reader);
  ~LASreaderTransformedRecords() override;

  // The transform's operations write the coordinates or the point source ID, the fields
  // by which the noise grid locates a point. When they do not, a pass that only locates
  // points can read the records of the wrapped reader as they are while this lives.
  bool moves_points() const;

  int format_code() const override { return reader_.format_code(); }
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override { return reader_.stream_of(); }
  // The wrapped reader is closed by its owner.
  void close_reader(bool close_stream = true) override { (void)close_stream; }
  bool read_raw_point() override;
  bool delivers_raw_records() const override { return true; }
  std::size_t take_raw_records(const std::uint8_t*& records, std::size_t max) override;

 private:
  LASreaderTransformedRecords(LASreader& reader, LAStransform& transform,
                              const LASrecordLayout& layout);

  // Records transformed per call: enough that the per-operation call is nothing beside
  // the records, few enough that they stay in the cache between operations.
  static constexpr std::size_t kBatchRecords = 2048;

  LASreader& reader_;
  LAStransform& transform_;
  LASrecordLayout layout_;
  std::vector<std::uint8_t> batch_;
};
