#include "model/las_header.hpp"

#include <cstdio>
#include <cstring>

namespace {

void set_fixed_text(char* field, std::size_t size, std::string_view text) {
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), text.size() < size ? text.size() : size - 1);
}

// Removals never wrap a field around: a header whose fields were edited out of step ends at
// 0, which verify() then rejects, instead of at four billion.
template <typename T>
void shrink(T& field, std::uint64_t amount) {
  field = field > amount ? static_cast<T>(field - amount) : T{0};
}

}  // namespace

void LASheader::set_system_identifier(std::string_view text) {
  set_fixed_text(system_identifier, sizeof system_identifier, text);
}

void LASheader::set_generating_software(std::string_view text) {
  set_fixed_text(generating_software, sizeof generating_software, text);
}

bool LASheader::verify() const {
  if (std::memcmp(file_signature, "LASF", 4) != 0) {
    // The signature has no terminating zero; print it as the four characters it holds.
    char signature[5] = {};
    std::memcpy(signature, file_signature, 4);
    std::fprintf(stderr, "ERROR: wrong file signature '%4s'\n", signature);
    return false;
  }
  if (version_major != 1 || version_minor > 4) {
    std::fprintf(stderr,
                 "WARNING: unknown version %d.%d (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n",
                 version_major, version_minor);
  }
  if (header_size < kHeaderSize10) {
    std::fprintf(stderr, "ERROR: header size is %d but should be at least %d\n", header_size,
                 kHeaderSize10);
    return false;
  }
  if (offset_to_point_data < header_size) {
    std::fprintf(stderr, "ERROR: offset to point data %d is smaller than header size %d\n",
                 static_cast<int>(offset_to_point_data), header_size);
    return false;
  }
  if (x_scale_factor == 0.0) std::fprintf(stderr, "WARNING: x scale factor is zero.\n");
  if (y_scale_factor == 0.0) std::fprintf(stderr, "WARNING: y scale factor is zero.\n");
  if (z_scale_factor == 0.0) std::fprintf(stderr, "WARNING: z scale factor is zero.\n");
  // An empty file may carry any bounding box; only one with points must be ordered.
  if ((number_of_point_records != 0 || extended_number_of_point_records != 0) &&
      (max_x < min_x || min_y > max_y || min_z > max_z)) {
    std::fprintf(stderr, "WARNING: invalid bounding box [ %g %g %g / %g %g %g ]\n", min_x, min_y,
                 min_z, max_x, max_y, max_z);
  }
  return true;
}

int LASheader::find_vlr(std::string_view user_id, std::uint16_t record_id) const {
  for (std::size_t i = 0; i < vlrs.size(); ++i) {
    if (vlrs[i].is(user_id, record_id)) return static_cast<int>(i);
  }
  return -1;
}

bool LASheader::put_vlr(std::string_view user_id, std::uint16_t record_id,
                        std::vector<std::uint8_t> data, bool keep_description,
                        const char* description, bool always_append) {
  if (data.size() > kMaxVlrPayload) {
    std::fprintf(stderr, "ERROR: payload of %u bytes does not fit a variable length record\n",
                 static_cast<unsigned>(data.size()));
    return false;
  }
  // Matching uses the id as it will be stored, so a second put of a long id finds the first.
  user_id = user_id.substr(0, kUserIdSize);
  int index = always_append ? -1 : find_vlr(user_id, record_id);
  const bool replaced = index >= 0;
  if (replaced) {
    shrink(offset_to_point_data, vlrs[index].record_length_after_header);
  } else {
    vlrs.emplace_back();
    index = static_cast<int>(vlrs.size()) - 1;
    offset_to_point_data += kVlrHeadSize;
    number_of_variable_length_records += 1;
  }
  LASvlrEntry& vlr = vlrs[index];
  vlr.reserved = 0;
  vlr.set_user_id(user_id);
  vlr.record_id = record_id;
  if (!(keep_description && replaced)) {
    vlr.set_description(description ? std::string_view(description) : kDefaultVlrDescription);
  }
  offset_to_point_data += static_cast<std::uint32_t>(data.size());
  vlr.set_data(std::move(data));
  if (LASrecordRef* ref = view_for(user_id, record_id)) {
    *ref = {LASrecordRef::kVlr, static_cast<std::uint32_t>(index)};
  }
  return true;
}

void LASheader::forget_moved_record(LASrecordRef::List list, std::size_t dropped,
                                    std::size_t last) {
  for_each_ref([&](LASrecordRef& ref) {
    if (ref.list != list) return;
    if (ref.index == dropped) {
      ref = LASrecordRef{};
    } else if (ref.index == last) {
      ref.index = static_cast<std::uint32_t>(dropped);
    }
  });
}

bool LASheader::drop_vlr_at(std::size_t index) {
  if (index >= vlrs.size()) return false;
  shrink(offset_to_point_data, kVlrHeadSize + vlrs[index].record_length_after_header);
  shrink(number_of_variable_length_records, 1);
  const std::size_t last = vlrs.size() - 1;
  if (index != last) vlrs[index] = std::move(vlrs[last]);
  vlrs.pop_back();
  forget_moved_record(LASrecordRef::kVlr, index, last);
  if (vlrs.empty()) vlrs.shrink_to_fit();
  return true;
}

bool LASheader::drop_vlr(std::string_view user_id, std::uint16_t record_id) {
  const int index = find_vlr(user_id, record_id);
  return index >= 0 && drop_vlr_at(static_cast<std::size_t>(index));
}

bool LASheader::drop_evlr_at(std::size_t index) {
  if (index >= evlrs.size()) return false;
  shrink(number_of_extended_variable_length_records, 1);
  const std::size_t last = evlrs.size() - 1;
  if (index != last) evlrs[index] = std::move(evlrs[last]);
  evlrs.pop_back();
  forget_moved_record(LASrecordRef::kEvlr, index, last);
  return true;
}

void LASheader::remove_user_data_in_header() {
  const std::uint32_t size = header_user_data_size();
  shrink(header_size, size);
  shrink(offset_to_point_data, size);
  user_data_in_header = {};
}

void LASheader::remove_user_data_after_header() {
  shrink(offset_to_point_data, trailing_user_data_size());
  user_data_after_header = {};
}

void LASheader::remove_all_vlrs() {
  for (const LASvlrEntry& vlr : vlrs) {
    shrink(offset_to_point_data, kVlrHeadSize + vlr.record_length_after_header);
  }
  vlrs = {};
  number_of_variable_length_records = 0;
  for_each_ref([](LASrecordRef& ref) {
    if (ref.list == LASrecordRef::kVlr) ref = LASrecordRef{};
  });
}

bool LASheader::store_geo_keys(std::uint32_t number_of_keys, const LASvlrKeyEntry* entries) {
  if (number_of_keys > kGeoKeysMaxCount) return false;
  if (number_of_keys > 0 && entries == nullptr) return false;
  std::vector<std::uint8_t> payload(kGeoKeyEntrySize * (number_of_keys + 1));
  const LASvlrGeoKeys head = {1, 1, 0, static_cast<std::uint16_t>(number_of_keys)};
  std::memcpy(payload.data(), &head, sizeof head);
  if (number_of_keys > 0) {
    std::memcpy(payload.data() + kGeoKeyEntrySize, entries, kGeoKeyEntrySize * number_of_keys);
  }
  return put_vlr(kUserIdProjection, kRecordGeoKeyDirectory, std::move(payload));
}

bool LASheader::store_geo_double_params(std::uint32_t count, const double* values) {
  if (count > kGeoDoubleParamsMaxCount) return false;
  if (count > 0 && values == nullptr) return false;
  std::vector<std::uint8_t> payload(sizeof(double) * count);
  if (count > 0) std::memcpy(payload.data(), values, payload.size());
  return put_vlr(kUserIdProjection, kRecordGeoDoubleParams, std::move(payload));
}

bool LASheader::refresh_extra_bytes_vlr(bool keep_description) {
  if (attribute_count() == 0) {
    drop_vlr(kUserIdSpec, kRecordExtraBytes);
    return true;
  }
  if (attribute_count() > static_cast<std::int32_t>(kMaxAttributesPerVlr)) return false;
  return put_vlr(kUserIdSpec, kRecordExtraBytes, descriptor_payload(), keep_description);
}
