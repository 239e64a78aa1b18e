#include "model/las_point.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "model/point_layout.hpp"

namespace {

const LASscaling kDefaultScaling;

// Rounded half away from zero, in single precision as the record formats expect.
int round_half_away(float value) {
  return value >= 0.0f ? static_cast<int>(value + 0.5f) : static_cast<int>(value - 0.5f);
}

std::int32_t to_int32(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace

LASpoint::LASpoint(const LASpoint& other) {
  *this = other;
}

LASpoint& LASpoint::operator=(const LASpoint& other) {
  if (this == &other) return *this;
  copy_layout_scalars(other);
  extra_bytes = other.extra_bytes;
  items = other.items;
  bind_item_data();
  return *this;
}

LASpoint::LASpoint(LASpoint&& other) noexcept {
  *this = std::move(other);
}

LASpoint& LASpoint::operator=(LASpoint&& other) noexcept {
  if (this == &other) return *this;
  copy_layout_scalars(other);
  extra_bytes = std::move(other.extra_bytes);
  items = std::move(other.items);
  bind_item_data();
  other.reset();
  return *this;
}

void LASpoint::copy_layout_scalars(const LASpoint& other) {
  static_cast<LASpointFields&>(*this) = other;
  scaling = other.scaling;
  std::copy(std::begin(other.coordinates), std::end(other.coordinates), coordinates);
  attribute_set = other.attribute_set;
  has_gps_time = other.has_gps_time;
  has_rgb = other.has_rgb;
  has_nir = other.has_nir;
  has_wave_packet = other.has_wave_packet;
  extra_bytes_size = other.extra_bytes_size;
  record_size = other.record_size;
  num_items = other.num_items;
}

void LASpoint::bind_item_data() {
  item_data.assign(items.size(), nullptr);
  std::size_t extra_offset = 0;  // several byte items follow each other in extra_bytes
  for (std::size_t i = 0; i < items.size(); i++) {
    switch (items[i].type) {
      case LASitem::POINT10:
      case LASitem::POINT14:
        item_data[i] = reinterpret_cast<std::uint8_t*>(static_cast<LASpointFields*>(this));
        break;
      case LASitem::GPSTIME11:
        item_data[i] = reinterpret_cast<std::uint8_t*>(&gps_time);
        break;
      case LASitem::RGB12:
      case LASitem::RGB14:
      case LASitem::RGBNIR14:
        item_data[i] = reinterpret_cast<std::uint8_t*>(rgb);
        break;
      case LASitem::WAVEPACKET13:
      case LASitem::WAVEPACKET14:
        item_data[i] = wave_packet;
        break;
      case LASitem::BYTE:
      case LASitem::BYTE14:
        item_data[i] = extra_bytes.data() + extra_offset;
        extra_offset += items[i].size;
        break;
    }
  }
}

bool LASpoint::init_layout(const LASscaling* point_scaling, std::uint16_t item_count,
                           const LASitem* item_list, const LASattributeSet* attributes) {
  reset();
  scaling = point_scaling ? point_scaling : &kDefaultScaling;
  attribute_set = attributes;
  if (item_count > 0 && item_list == nullptr) return false;
  for (std::uint16_t i = 0; i < item_count; i++) {
    const LASitem& item = item_list[i];
    switch (item.type) {
      case LASitem::POINT10:
        break;
      case LASitem::POINT14:
        extended_layout = 1;
        has_gps_time = true;
        break;
      case LASitem::GPSTIME11:
        has_gps_time = true;
        break;
      case LASitem::RGB12:
      case LASitem::RGB14:
        has_rgb = true;
        break;
      case LASitem::RGBNIR14:
        has_rgb = true;
        has_nir = true;
        break;
      case LASitem::WAVEPACKET13:
      case LASitem::WAVEPACKET14:
        has_wave_packet = true;
        break;
      case LASitem::BYTE:
      case LASitem::BYTE14:
        extra_bytes_size += item.size;
        break;
      default:
        reset();
        scaling = point_scaling ? point_scaling : &kDefaultScaling;
        attribute_set = attributes;
        return false;
    }
    record_size += item.size;
  }
  extra_bytes.assign(static_cast<std::size_t>(extra_bytes_size), 0);
  items.assign(item_list, item_list + item_count);
  num_items = item_count;
  bind_item_data();
  return true;
}

bool LASpoint::init_for_point_type(const LASscaling* point_scaling, std::uint8_t point_type,
                                   std::uint16_t record_length, const LASattributeSet* attributes) {
  std::vector<LASitem> layout;
  if (!build_point_type_items(point_type, record_length, false, layout)) {
    reset();
    std::fprintf(stderr, "ERROR: unknown point type %d with point size %d\n", point_type,
                 record_length);
    return false;
  }
  return init_layout(point_scaling, static_cast<std::uint16_t>(layout.size()), layout.data(),
                     attributes);
}

void LASpoint::reset() {
  static_cast<LASpointFields&>(*this) = LASpointFields{};
  extra_bytes.clear();
  extra_bytes.shrink_to_fit();
  item_data.clear();
  items.clear();
  has_gps_time = false;
  has_rgb = false;
  has_nir = false;
  has_wave_packet = false;
  extra_bytes_size = 0;
  record_size = 0;
  num_items = 0;
  coordinates[0] = coordinates[1] = coordinates[2] = 0.0;
}

void LASpoint::copy_values_from(const LASpoint& other) {
  if (this == &other) return;
  const std::uint8_t layout = extended_layout;
  static_cast<LASpointFields&>(*this) = other;
  extended_layout = layout;
  const std::size_t shared = std::min(extra_bytes.size(), other.extra_bytes.size());
  if (shared > 0) std::memcpy(extra_bytes.data(), other.extra_bytes.data(), shared);
}

void LASpoint::clear_values() {
  const std::uint8_t layout = extended_layout;
  static_cast<LASpointFields&>(*this) = LASpointFields{};
  extended_layout = layout;
  std::fill(extra_bytes.begin(), extra_bytes.end(), 0);
}

bool LASpoint::set_x(double x) {
  const std::int64_t value = (scaling ? *scaling : kDefaultScaling).get_X(x);
  X = to_int32(value);
  return LASscaling::fits_int32(value);
}

bool LASpoint::set_y(double y) {
  const std::int64_t value = (scaling ? *scaling : kDefaultScaling).get_Y(y);
  Y = to_int32(value);
  return LASscaling::fits_int32(value);
}

bool LASpoint::set_z(double z) {
  const std::int64_t value = (scaling ? *scaling : kDefaultScaling).get_Z(z);
  Z = to_int32(value);
  return LASscaling::fits_int32(value);
}

void LASpoint::set_classification(std::uint8_t classification_code) {
  extended_classification = classification_code;
  classification = classification_code < 32 ? classification_code : 0;
}

void LASpoint::set_synthetic_flag(bool value) {
  synthetic_flag = value;
  extended_classification_flags = (extended_classification_flags & ~0x1) | (value ? 0x1 : 0);
}

void LASpoint::set_keypoint_flag(bool value) {
  keypoint_flag = value;
  extended_classification_flags = (extended_classification_flags & ~0x2) | (value ? 0x2 : 0);
}

void LASpoint::set_withheld_flag(bool value) {
  withheld_flag = value;
  extended_classification_flags = (extended_classification_flags & ~0x4) | (value ? 0x4 : 0);
}

void LASpoint::set_overlap_flag(bool value) {
  extended_classification_flags = (extended_classification_flags & ~0x8) | (value ? 0x8 : 0);
}

void LASpoint::set_return_number(std::uint8_t value) {
  return_number = value < 8 ? value : 7;
}

void LASpoint::set_number_of_returns(std::uint8_t value) {
  number_of_returns = value < 8 ? value : 7;
}

void LASpoint::set_scan_angle(float degrees) {
  if (extended_layout) {
    extended_scan_angle = static_cast<std::int16_t>(round_half_away(degrees / 0.006f));
  } else {
    scan_angle_rank = static_cast<std::int8_t>(round_half_away(degrees));
  }
}

float LASpoint::get_scan_angle() const {
  return extended_layout ? 0.006f * extended_scan_angle : static_cast<float>(scan_angle_rank);
}

void LASpoint::read_point14(const std::uint8_t* bytes) {
  std::memcpy(&X, bytes + 0, 4);
  std::memcpy(&Y, bytes + 4, 4);
  std::memcpy(&Z, bytes + 8, 4);
  std::memcpy(&intensity, bytes + 12, 2);

  const int r = bytes[14] & 0x0F;
  const int n = bytes[14] >> 4;
  if (n >= 8 && r > 6) {
    return_number = r < n ? 6 : 7;
  } else {
    return_number = r & 7;
  }
  number_of_returns = n >= 8 ? 7 : n;
  extended_return_number = r;
  extended_number_of_returns = n;

  const std::uint8_t flags = bytes[15];
  scan_direction_flag = (flags >> 6) & 1;
  edge_of_flight_line = (flags >> 7) & 1;
  synthetic_flag = flags & 1;
  keypoint_flag = (flags >> 1) & 1;
  withheld_flag = (flags >> 2) & 1;
  extended_classification_flags = flags & 0x0F;
  extended_scanner_channel = (flags >> 4) & 0x03;

  const std::uint8_t class_byte = bytes[16];
  classification = class_byte < 32 ? class_byte : 0;
  extended_classification = class_byte;
  user_data = bytes[17];

  std::int16_t angle;
  std::memcpy(&angle, bytes + 18, 2);
  extended_scan_angle = angle;
  const int rank = round_half_away(angle * 0.006f);
  scan_angle_rank = static_cast<std::int8_t>(std::clamp(rank, -128, 127));

  std::memcpy(&point_source_ID, bytes + 20, 2);
  std::memcpy(&gps_time, bytes + 22, 8);
}

void LASpoint::write_point14(std::uint8_t* bytes) const {
  std::memcpy(bytes + 0, &X, 4);
  std::memcpy(bytes + 4, &Y, 4);
  std::memcpy(bytes + 8, &Z, 4);
  std::memcpy(bytes + 12, &intensity, 2);

  std::uint8_t flags =
      static_cast<std::uint8_t>((scan_direction_flag << 6) | (edge_of_flight_line << 7) |
                                synthetic_flag | (keypoint_flag << 1) | (withheld_flag << 2));
  std::uint8_t class_byte;
  std::uint8_t returns;
  std::int16_t angle;
  if (extended_layout) {
    flags |= static_cast<std::uint8_t>((extended_classification_flags & 0x8) |
                                       (extended_scanner_channel << 4));
    class_byte = classification ? classification : extended_classification;
    returns = static_cast<std::uint8_t>(extended_return_number | (extended_number_of_returns << 4));
    angle = extended_scan_angle;
  } else {
    class_byte = classification;
    returns = static_cast<std::uint8_t>(return_number | (number_of_returns << 4));
    angle = static_cast<std::int16_t>(round_half_away(scan_angle_rank / 0.006f));
  }
  bytes[14] = returns;
  bytes[15] = flags;
  bytes[16] = class_byte;
  bytes[17] = user_data;
  std::memcpy(bytes + 18, &angle, 2);
  std::memcpy(bytes + 20, &point_source_ID, 2);
  std::memcpy(bytes + 22, &gps_time, 8);
}
