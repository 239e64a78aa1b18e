#include "model/las_attribute.hpp"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr std::int32_t kElementSize[10] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8};

void set_text(char* field, std::size_t size, std::string_view text) {
  for (std::size_t i = 0; i < size; ++i)
    field[i] = i < text.size() ? text[i] : '\0';
}

std::string_view text_of(const char* field, std::size_t size) {
  std::size_t length = 0;
  while (length < size && field[length] != '\0')
    ++length;
  return std::string_view(field, length);
}

double round_half_away(double value) {
  return value >= 0.0 ? std::floor(value + 0.5) : std::ceil(value - 0.5);
}

// Rounds and clamps into [low, high]; NaN becomes 0. The bounds are compared as doubles
// before the conversion because converting an out-of-range double is undefined.
template <typename T>
T to_integer(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = round_half_away(value);
  constexpr double low = static_cast<double>(std::numeric_limits<T>::min());
  // 2^63 and 2^64 are exact doubles; anything at or above them does not fit.
  constexpr double high_exclusive =
      sizeof(T) == 8 ? 2.0 * static_cast<double>(std::numeric_limits<T>::max() / 2 + 1)
                     : static_cast<double>(std::numeric_limits<T>::max()) + 1.0;
  if (rounded <= low) return std::numeric_limits<T>::min();
  if (rounded >= high_exclusive) return std::numeric_limits<T>::max();
  return static_cast<T>(rounded);
}

template <typename T>
T load(const std::uint8_t* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

template <typename T>
void store(std::uint8_t* bytes, T value) {
  std::memcpy(bytes, &value, sizeof(T));
}

}  // namespace

LASattributeDescriptor::LASattributeDescriptor(std::uint8_t type, std::string_view attribute_name,
                                               std::string_view attribute_description)
    : data_type(type) {
  set_name(attribute_name);
  set_description(attribute_description);
}

std::string_view LASattributeDescriptor::name_text() const {
  return text_of(name, sizeof name);
}
std::string_view LASattributeDescriptor::description_text() const {
  return text_of(description, sizeof description);
}
void LASattributeDescriptor::set_name(std::string_view text) {
  set_text(name, sizeof name, text);
}
void LASattributeDescriptor::set_description(std::string_view text) {
  set_text(description, sizeof description, text);
}

void LASattributeDescriptor::set_scale(double value) {
  scale[0] = value;
  options |= kScaleValid;
}
void LASattributeDescriptor::set_offset(double value) {
  offset[0] = value;
  options |= kOffsetValid;
}
void LASattributeDescriptor::set_no_data(double value) {
  no_data[0] = value_from_double(value);
  options |= kNoDataValid;
}
void LASattributeDescriptor::set_min(double value) {
  min[0] = value_from_double(value);
  options |= kMinValid;
}
void LASattributeDescriptor::set_max(double value) {
  max[0] = value_from_double(value);
  options |= kMaxValid;
}

double LASattributeDescriptor::value_as_double(const LASattributeValue& raw) const {
  switch (base_type()) {
    case U8:
    case U16:
    case U32:
    case U64:
      return static_cast<double>(raw.u64);
    case I8:
    case I16:
    case I32:
    case I64:
      return static_cast<double>(raw.i64);
    default:
      return raw.f64;
  }
}

LASattributeValue LASattributeDescriptor::value_from_double(double value) const {
  LASattributeValue raw;
  switch (base_type()) {
    case U8:
    case U16:
    case U32:
    case U64:
      raw.u64 = to_integer<std::uint64_t>(value);
      break;
    case I8:
    case I16:
    case I32:
    case I64:
      raw.i64 = to_integer<std::int64_t>(value);
      break;
    default:
      raw.f64 = value;
  }
  return raw;
}

std::int32_t attribute_size(const LASattributeDescriptor& descriptor) {
  if (descriptor.data_type == 0) return descriptor.options;
  return kElementSize[descriptor.base_type()] * descriptor.dimension();
}

std::int32_t LASattributeSet::attribute_bytes() const {
  if (descriptors_.empty()) return 0;
  return attribute_offsets_.back() + attribute_widths_.back();
}

int LASattributeSet::find_attribute(std::string_view name) const {
  for (std::size_t i = 0; i < descriptors_.size(); ++i) {
    if (descriptors_[i].name_text() == name) return static_cast<int>(i);
  }
  return -1;
}

int LASattributeSet::add_attribute(const LASattributeDescriptor& descriptor) {
  const std::int32_t size = attribute_size(descriptor);
  if (size == 0) return -1;
  attribute_offsets_.push_back(attribute_bytes());
  attribute_widths_.push_back(size);
  descriptors_.push_back(descriptor);
  return attribute_count() - 1;
}

void LASattributeSet::load_descriptors(const std::uint8_t* payload, std::size_t payload_length) {
  clear_attributes();
  if (payload == nullptr) return;
  // The count comes from the bytes present, never from anything the file claims.
  const std::size_t count = payload_length / kAttributeDescriptorSize;
  descriptors_.resize(count);
  if (count) std::memcpy(descriptors_.data(), payload, count * kAttributeDescriptorSize);
  attribute_offsets_.reserve(count);
  attribute_widths_.reserve(count);
  std::int32_t next_offset = 0;
  for (const LASattributeDescriptor& descriptor : descriptors_) {
    const std::int32_t size = attribute_size(descriptor);
    attribute_offsets_.push_back(next_offset);
    attribute_widths_.push_back(size);
    next_offset += size;
  }
}

void LASattributeSet::clear_attributes() {
  descriptors_.clear();
  attribute_offsets_.clear();
  attribute_widths_.clear();
}

std::vector<std::uint8_t> LASattributeSet::descriptor_payload() const {
  std::vector<std::uint8_t> payload(descriptors_.size() * kAttributeDescriptorSize);
  if (!payload.empty()) std::memcpy(payload.data(), descriptors_.data(), payload.size());
  return payload;
}

bool LASattributeSet::locate(std::int32_t extra_bytes_size, int index, int element,
                             std::int32_t& byte_offset) const {
  if (index < 0 || index >= attribute_count()) return false;
  const LASattributeDescriptor& descriptor = descriptors_[index];
  // Scale and offset exist for three elements only; larger undefined type codes get none.
  if (descriptor.data_type == 0 || element < 0 || element >= descriptor.dimension() ||
      element >= 3) {
    return false;
  }
  const std::int32_t element_size = kElementSize[descriptor.base_type()];
  byte_offset = attribute_offsets_[index] + element * element_size;
  return byte_offset >= 0 && byte_offset + element_size <= extra_bytes_size;
}

double LASattributeSet::get_value(const std::uint8_t* extra_bytes, std::int32_t extra_bytes_size,
                                  int index, int element) const {
  std::int32_t at = 0;
  if (extra_bytes == nullptr || !locate(extra_bytes_size, index, element, at)) return 0.0;
  const LASattributeDescriptor& descriptor = descriptors_[index];
  const std::uint8_t* bytes = extra_bytes + at;
  double value = 0.0;
  switch (descriptor.base_type()) {
    case LASattributeDescriptor::U8:
      value = bytes[0];
      break;
    case LASattributeDescriptor::I8:
      value = static_cast<std::int8_t>(bytes[0]);
      break;
    case LASattributeDescriptor::U16:
      value = load<std::uint16_t>(bytes);
      break;
    case LASattributeDescriptor::I16:
      value = load<std::int16_t>(bytes);
      break;
    case LASattributeDescriptor::U32:
      value = load<std::uint32_t>(bytes);
      break;
    case LASattributeDescriptor::I32:
      value = load<std::int32_t>(bytes);
      break;
    case LASattributeDescriptor::U64:
      value = static_cast<double>(load<std::uint64_t>(bytes));
      break;
    case LASattributeDescriptor::I64:
      value = static_cast<double>(load<std::int64_t>(bytes));
      break;
    case LASattributeDescriptor::F32:
      value = load<float>(bytes);
      break;
    case LASattributeDescriptor::F64:
      value = load<double>(bytes);
      break;
  }
  if (descriptor.has_scale()) value *= descriptor.scale[element];
  if (descriptor.has_offset()) value += descriptor.offset[element];
  return value;
}

bool LASattributeSet::set_value(std::uint8_t* extra_bytes, std::int32_t extra_bytes_size, int index,
                                double value, int element) const {
  std::int32_t at = 0;
  if (extra_bytes == nullptr || !locate(extra_bytes_size, index, element, at)) return false;
  const LASattributeDescriptor& descriptor = descriptors_[index];
  if (descriptor.has_offset()) value -= descriptor.offset[element];
  if (descriptor.has_scale() && descriptor.scale[element] != 0.0) {
    value /= descriptor.scale[element];
  }
  std::uint8_t* bytes = extra_bytes + at;
  switch (descriptor.base_type()) {
    case LASattributeDescriptor::U8:
      bytes[0] = to_integer<std::uint8_t>(value);
      break;
    case LASattributeDescriptor::I8:
      store(bytes, to_integer<std::int8_t>(value));
      break;
    case LASattributeDescriptor::U16:
      store(bytes, to_integer<std::uint16_t>(value));
      break;
    case LASattributeDescriptor::I16:
      store(bytes, to_integer<std::int16_t>(value));
      break;
    case LASattributeDescriptor::U32:
      store(bytes, to_integer<std::uint32_t>(value));
      break;
    case LASattributeDescriptor::I32:
      store(bytes, to_integer<std::int32_t>(value));
      break;
    case LASattributeDescriptor::U64:
      store(bytes, to_integer<std::uint64_t>(value));
      break;
    case LASattributeDescriptor::I64:
      store(bytes, to_integer<std::int64_t>(value));
      break;
    case LASattributeDescriptor::F32:
      store(bytes, static_cast<float>(value));
      break;
    case LASattributeDescriptor::F64:
      store(bytes, value);
      break;
  }
  return true;
}
