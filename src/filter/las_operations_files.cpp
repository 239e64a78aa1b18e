// The operations that read text files: value maps, attribute colour maps and attribute
// values per point.

#include <cmath>
#include <cstdio>
#include <cstring>

#include "filter/las_operations_attributes.hpp"

namespace {

// Reads one line of at most `limit` characters into `line` (a longer line is read in
// pieces, each piece a line of its own, as the fixed-size C line reads do). False at the
// end of the file.
bool read_line(std::FILE* file, char* line, int limit) {
  return std::fgets(line, limit, file) != nullptr;
}

constexpr int kMapLineLimit = 128;
constexpr int kValueLineLimit = 256;

}  // namespace

std::unique_ptr<LASoperationMap> LASoperationMap::load(LASmapField field, const char* option,
                                                       const char* file_name) {
  std::FILE* file = std::fopen(file_name, "r");
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: '%s' needs text file with map but '%s' cannot be opened\n", option,
                 file_name);
    return nullptr;
  }
  auto map = std::unique_ptr<LASoperationMap>(new LASoperationMap());
  map->field_ = field;
  map->file_name_ = file_name;
  const std::size_t entries = field == LASmapField::kUserData ? 256 : 65536;
  map->table_.resize(entries);
  for (std::size_t k = 0; k < entries; k++)
    map->table_[k] = static_cast<std::uint16_t>(k);
  char line[kMapLineLimit];
  while (read_line(file, line, kMapLineLimit)) {
    unsigned from = 0, to = 0;
    if (std::sscanf(line, "%u %u", &from, &to) != 2) continue;
    if (from >= entries || to >= entries) continue;
    map->table_[from] = static_cast<std::uint16_t>(to);
  }
  std::fclose(file);
  return map;
}

const char* LASoperationMap::name() const {
  switch (field_) {
    case LASmapField::kUserData:
      return "map_user_data";
    case LASmapField::kPointSource:
      return "map_point_source";
    case LASmapField::kIntensity:
      return "map_intensity";
  }
  return "";
}

std::uint32_t LASoperationMap::get_selective_decoding() const {
  switch (field_) {
    case LASmapField::kUserData:
      return transform_layers::kUserData;
    case LASmapField::kPointSource:
      return transform_layers::kPointSource;
    case LASmapField::kIntensity:
      return transform_layers::kIntensity;
  }
  return 0;
}

void LASoperationMap::transform(LASpoint& point) {
  switch (field_) {
    case LASmapField::kUserData:
      point.user_data = static_cast<std::uint8_t>(table_[point.user_data]);
      break;
    case LASmapField::kPointSource:
      point.point_source_ID = table_[point.point_source_ID];
      break;
    case LASmapField::kIntensity:
      point.intensity = table_[point.intensity];
      break;
  }
}

std::unique_ptr<LASoperationMapAttributeIntoRGB> LASoperationMapAttributeIntoRGB::load(
    std::uint32_t index, const char* option, const char* file_name) {
  std::FILE* file = std::fopen(file_name, "r");
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: cannot '%s' needs text file with map but '%s' cannot be opened\n",
                 option, file_name);
    return nullptr;
  }
  auto map =
      std::unique_ptr<LASoperationMapAttributeIntoRGB>(new LASoperationMapAttributeIntoRGB());
  map->index_ = index;
  map->file_name_ = file_name;
  char line[kValueLineLimit];
  while (read_line(file, line, kValueLineLimit)) {
    double value = 0.0;
    unsigned r = 0, g = 0, b = 0;
    if (std::sscanf(line, "%lf %u %u %u", &value, &r, &g, &b) != 4) continue;
    if (r >= 256 || g >= 256 || b >= 256 || !std::isfinite(value)) continue;
    map->entries_.push_back(Entry{value,
                                  {static_cast<std::uint16_t>(r), static_cast<std::uint16_t>(g),
                                   static_cast<std::uint16_t>(b)}});
  }
  std::fclose(file);
  return map;
}

void LASoperationMapAttributeIntoRGB::transform(LASpoint& point) {
  if (entries_.empty()) return;
  const double value = operation_values::attribute_value(point, index_);
  const Entry* chosen = &entries_.front();
  if (value <= entries_.front().value) {
    chosen = &entries_.front();
  } else if (value >= entries_.back().value) {
    chosen = &entries_.back();
  } else {
    double nearest = std::fabs(value - chosen->value);
    for (const Entry& entry : entries_) {
      const double distance = std::fabs(value - entry.value);
      if (distance < nearest) {
        nearest = distance;
        chosen = &entry;
      }
    }
  }
  point.rgb[0] = chosen->rgb[0];
  point.rgb[1] = chosen->rgb[1];
  point.rgb[2] = chosen->rgb[2];
}

std::unique_ptr<LASoperationLoadAttributeFromText> LASoperationLoadAttributeFromText::load(
    std::uint32_t index, const char* option, const char* file_name) {
  std::FILE* file = std::fopen(file_name, "r");
  if (file == nullptr) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs text file with attribute values but '%s' cannot be opened\n",
                 option, file_name);
    return nullptr;
  }
  auto load =
      std::unique_ptr<LASoperationLoadAttributeFromText>(new LASoperationLoadAttributeFromText());
  load->index_ = index;
  load->file_name_ = file_name;
  load->file_ = file;
  return load;
}

LASoperationLoadAttributeFromText::~LASoperationLoadAttributeFromText() {
  close();
}

void LASoperationLoadAttributeFromText::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

void LASoperationLoadAttributeFromText::transform(LASpoint& point) {
  if (file_ == nullptr) return;
  char line[kValueLineLimit];
  while (read_line(file_, line, kValueLineLimit)) {
    double value = 0.0;
    if (std::sscanf(line, "%lf", &value) == 1) {
      operation_values::set_attribute_value(point, index_, value);
      return;
    }
  }
  close();
}

void LASoperationLoadAttributeFromText::reset() {
  LASoperation::reset();
  close();
  // A file that has gone since the parse leaves the points unchanged, as after its end.
  file_ = std::fopen(file_name_.c_str(), "r");
}
