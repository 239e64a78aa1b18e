#include "layers/las_apply.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "layers/lay_identity_check.hpp"

LASapply::~LASapply() = default;

bool LASapply::open(const LASreader& reader, const std::string& file_name,
                    std::uint32_t block_bytes) {
  failure_.clear();
  layers_.clear();
  cursors_.clear();
  bytes_.clear();
  damaged_ = false;
  unchecked_ = false;
  lay_name_ = ::lay_file_name(file_name, directory_.c_str());
  if (!read_whole_file(lay_name_, bytes_, failure_)) {
    // Absent is no LAY file; one that is there but cannot be read is no LAY file to skip.
    struct stat info {};
    damaged_ = stat(lay_name_.c_str(), &info) == 0;
    return false;
  }
  LAYidentity stored;
  std::string reason;
  if (!decode_lay_header(bytes_.data(), bytes_.size(), stored, layer_count_, layers_at_, reason)) {
    failure_ = "'" + lay_name_ + "': " + reason;
    bytes_.clear();
    damaged_ = true;
    return false;
  }
  unchecked_ = !lay_file_checked(bytes_.data());
  point_count_ = static_cast<std::uint64_t>(std::max<std::int64_t>(reader.points_total, 0));
  if (!check_lay_identity(stored, file_name, reader.header, point_count_, block_bytes, lay_name_,
                          failure_)) {
    bytes_.clear();
    return false;
  }
  return true;
}

bool LASapply::load_layers(std::uint32_t max_layers) {
  failure_.clear();
  if (bytes_.empty()) {
    failure_ = "no LAY file open";
    return false;
  }
  std::string reason;
  const bool loaded = decode_lay_layers(bytes_.data(), bytes_.size(), layers_at_, layer_count_,
                                        point_count_, max_layers, layers_, reason);
  bytes_.clear();
  bytes_.shrink_to_fit();
  if (!loaded) {
    failure_ = "'" + lay_name_ + "': " + reason;
    damaged_ = true;
    return false;
  }
  return true;
}

void LASapply::take_reader(std::unique_ptr<LASreader> reader) {
  inner_ = std::move(reader);
  header = inner_->header;
  point = inner_->point;
  points_total = inner_->points_total;
  points_done = inner_->points_done;
  read_failed_ = false;
  set_ignore(inner_->get_ignore());
  LASfilterHook* filter = inner_->get_filter();
  LAStransformHook* transform = inner_->get_transform();
  inner_->set_filter(nullptr);
  inner_->set_transform(nullptr);
  set_filter(filter);
  set_transform(transform);
  cursors_.clear();
  for (const LAYlayer& layer : layers_) {
    if (layer.runs.empty()) continue;
    cursors_.push_back(
        Cursor{layer.runs.data(), layer.runs.data() + layer.runs.size(), layer.attribute});
  }
  position_cursors(static_cast<std::uint64_t>(std::max<std::int64_t>(points_done, 0)));
}

std::unique_ptr<LASreader> LASapply::release_reader() {
  if (inner_) {
    inner_->set_filter(get_filter());
    inner_->set_transform(get_transform());
  }
  set_filter(nullptr);
  set_transform(nullptr);
  cursors_.clear();
  return std::move(inner_);
}

void LASapply::position_cursors(std::uint64_t index) {
  std::size_t c = 0;
  for (const LAYlayer& layer : layers_) {
    if (layer.runs.empty()) continue;
    Cursor& cursor = cursors_[c++];
    cursor.run = std::partition_point(
        layer.runs.data(), layer.runs.data() + layer.runs.size(),
        [index](const LAYrun& run) { return run.start + run.length <= index; });
  }
}

bool LASapply::seek_point(std::int64_t index) {
  if (!inner_ || !inner_->seek_point(index)) return false;
  points_done = inner_->points_done;
  position_cursors(static_cast<std::uint64_t>(index));
  return true;
}

void LASapply::close_reader(bool close_stream) {
  if (inner_) inner_->close_reader(close_stream);
}

bool LASapply::read_raw_point() {
  if (!inner_) return false;
  for (;;) {
    if (!inner_->read_next()) {
      read_failed_ = inner_->read_failed();
      points_done = inner_->points_done;
      return false;
    }
    points_done = inner_->points_done;
    point.copy_values_from(inner_->point);
    const std::uint64_t index = static_cast<std::uint64_t>(points_done - 1);
    bool deleted = false;
    for (Cursor& cursor : cursors_) {
      // Points come in ascending order between seeks, so a layer's cursor only moves on.
      while (cursor.run != cursor.end && cursor.run->start + cursor.run->length <= index)
        ++cursor.run;
      if (cursor.run == cursor.end || index < cursor.run->start) continue;
      const std::uint8_t value = cursor.run->value;
      switch (cursor.attribute) {
        case LAYattribute::kClassification:
          // Classes of 32 and above live in the extended field alone: the 5 legacy bits
          // would otherwise hold their low bits, which writers of types 6-10 prefer.
          point.set_classification(value);
          break;
        case LAYattribute::kWithheldFlag:
          point.set_withheld_flag(value != 0);
          break;
        case LAYattribute::kDeletion:
          deleted = true;
          break;
      }
    }
    if (!deleted) return true;
  }
}
