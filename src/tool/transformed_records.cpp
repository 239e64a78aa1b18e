#include "tool/transformed_records.hpp"

#include <cstring>

#include "filter/las_transform.hpp"

std::unique_ptr<LASreaderTransformedRecords> LASreaderTransformedRecords::wrap(LASreader& reader) {
  auto* transform = dynamic_cast<LAStransform*>(reader.get_transform());
  LASrecordLayout layout;
  if (transform == nullptr || !LASrecordLayout::of(reader.point, layout) ||
      !transform->has_record_form(layout)) {
    return nullptr;
  }
  reader.set_transform(nullptr);
  if (!reader.delivers_raw_records()) {
    reader.set_transform(transform);
    return nullptr;
  }
  return std::unique_ptr<LASreaderTransformedRecords>(
      new LASreaderTransformedRecords(reader, *transform, layout));
}

LASreaderTransformedRecords::LASreaderTransformedRecords(LASreader& reader, LAStransform& transform,
                                                         const LASrecordLayout& layout)
    : reader_(reader), transform_(transform), layout_(layout), batch_(kBatchRecords * layout.size) {
  // The layout and scaling of the records, for the passes that read them.
  point = reader.point;
  points_total = reader.points_total;
  points_done = reader.points_done;
  set_ignore(reader.get_ignore());
}

LASreaderTransformedRecords::~LASreaderTransformedRecords() {
  reader_.set_transform(&transform_);
}

bool LASreaderTransformedRecords::moves_points() const {
  return (transform_.record_writes() & (record_writes::kX | record_writes::kY | record_writes::kZ |
                                        record_writes::kPointSource)) != 0;
}

bool LASreaderTransformedRecords::seek_point(std::int64_t index) {
  (void)index;
  return false;
}

bool LASreaderTransformedRecords::read_raw_point() {
  const bool read = reader_.read_next();
  points_done = reader_.points_done;
  if (!read) {
    read_failed_ = reader_.read_failed();
    return false;
  }
  transform_.transform(reader_.point);
  point.copy_values_from(reader_.point);
  return true;
}

std::size_t LASreaderTransformedRecords::take_raw_records(const std::uint8_t*& records,
                                                          std::size_t max) {
  const std::uint8_t* stored = nullptr;
  const std::size_t count =
      reader_.take_raw_records(stored, max < kBatchRecords ? max : kBatchRecords);
  points_done = reader_.points_done;
  if (count == 0) return 0;
  std::memcpy(batch_.data(), stored, count * layout_.size);
  transform_.transform_records(batch_.data(), count, layout_);
  records = batch_.data();
  return count;
}
