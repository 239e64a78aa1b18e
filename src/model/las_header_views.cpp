// Interpretation of the records a reader read, and the typed views onto them.

#include <cstdio>
#include <cstring>

#include "model/las_header.hpp"

namespace {

// The projection records and their names in the repeated-record warnings. The EVLR name of
// the double parameters differs from the VLR one.
struct ProjectionRecord {
  std::uint16_t record_id;
  const char* vlr_name;
  const char* evlr_name;
};
constexpr ProjectionRecord kProjectionRecords[] = {
    {kRecordGeoKeyDirectory, "GeoKeyDirectoryTag", "GeoKeyDirectoryTag"},
    {kRecordGeoDoubleParams, "GeoDoubleParamsTag", "GeoF64ParamsTag"},
    {kRecordGeoAsciiParams, "GeoAsciiParamsTag", "GeoAsciiParamsTag"},
    {kRecordWktMathTransform, "WKT OGC MATH TRANSFORM", "WKT OGC MATH TRANSFORM"},
    {kRecordWktCoordinateSystem, "WKT OGC COORDINATE SYSTEM", "WKT OGC COORDINATE SYSTEM"},
};

const ProjectionRecord* find_projection_record(std::uint16_t record_id) {
  for (const ProjectionRecord& record : kProjectionRecords) {
    if (record.record_id == record_id) return &record;
  }
  return nullptr;
}

bool is_wave_packet_record(std::uint16_t record_id) {
  return record_id >= kRecordWavePacketFirst && record_id <= kRecordWavePacketLast;
}

constexpr std::uint32_t kUnusuallyManySamples = 8096;

}  // namespace

LASrecordRef* LASheader::view_for(std::string_view user_id, std::uint16_t record_id) {
  if (user_id == kUserIdProjection) {
    switch (record_id) {
      case kRecordGeoKeyDirectory:
        return &geo_keys_ref_;
      case kRecordGeoDoubleParams:
        return &geo_double_params_ref_;
      case kRecordGeoAsciiParams:
        return &geo_ascii_params_ref_;
      case kRecordWktMathTransform:
        return &geo_wkt_math_ref_;
      case kRecordWktCoordinateSystem:
        return &geo_wkt_ref_;
      default:
        return nullptr;
    }
  }
  if (user_id == kUserIdSpec) {
    if (record_id == kRecordClassificationLookup) return &class_lookup_ref_;
    if (is_wave_packet_record(record_id)) {
      return &wave_packet_refs_[record_id - kWavePacketIndexBase];
    }
  }
  return nullptr;
}

LASheader::Payload LASheader::resolve(const LASrecordRef& ref, std::string_view user_id,
                                      std::uint16_t record_id) const {
  const std::vector<std::uint8_t>* data = nullptr;
  if (ref.list == LASrecordRef::kVlr && ref.index < vlrs.size() &&
      vlrs[ref.index].is(user_id, record_id)) {
    data = &vlrs[ref.index].data;
  } else if (ref.list == LASrecordRef::kEvlr && ref.index < evlrs.size() &&
             evlrs[ref.index].is(user_id, record_id)) {
    data = &evlrs[ref.index].data;
  }
  if (data == nullptr || data->empty()) return {};
  return {data->data(), data->size()};
}

void LASheader::interpret_vlr(std::size_t index) {
  if (index >= vlrs.size()) return;
  const LASvlrEntry& vlr = vlrs[index];
  interpret(LASrecordRef::kVlr, index, vlr.user_id_text(), vlr.record_id, vlr.data.data(),
            vlr.data.size());
}

void LASheader::interpret_evlr(std::size_t index) {
  if (index >= evlrs.size() || evlrs[index].data.empty()) return;
  const LASevlrEntry& evlr = evlrs[index];
  interpret(LASrecordRef::kEvlr, index, evlr.user_id_text(), evlr.record_id, evlr.data.data(),
            evlr.data.size());
}

void LASheader::interpret(LASrecordRef::List list, std::size_t index, std::string_view user_id,
                          std::uint16_t record_id, const std::uint8_t* payload, std::size_t size) {
  const bool evlr = list == LASrecordRef::kEvlr;
  const char* records = evlr ? "extended variable length records" : "variable length records";
  const LASrecordRef here = {list, static_cast<std::uint32_t>(index)};

  if (user_id == kUserIdProjection) {
    if (size == 0) {
      std::fprintf(stderr, "WARNING: no payload for LASF_Projection VLR with record_id %d.\n",
                   record_id);
      return;
    }
    const ProjectionRecord* record = find_projection_record(record_id);
    if (record == nullptr) {
      std::fprintf(stderr, "WARNING: unknown LASF_Projection %s with record_id %d.\n",
                   evlr ? "EVLR" : "VLR", record_id);
      return;
    }
    LASrecordRef& ref = *view_for(user_id, record_id);
    if (resolve(ref, user_id, record_id).data != nullptr) {
      std::fprintf(stderr, "WARNING: %s contain more than one %s\n", records,
                   evlr ? record->evlr_name : record->vlr_name);
    }
    if (record_id != kRecordGeoKeyDirectory) {
      ref = here;
      return;
    }
    // The directory head is needed before anything else can be read from the payload.
    if (size < kGeoKeyEntrySize) {
      std::fprintf(stderr, "WARNING: GeoKeyDirectoryTag payload of %u bytes is too short\n",
                   static_cast<unsigned>(size));
      return;
    }
    ref = here;
    const LASvlrGeoKeys* keys = vlr_geo_keys();
    const char* name = evlr ? "evlr_geo_keys" : "vlr_geo_keys";
    if (keys->key_directory_version != 1) {
      std::fprintf(stderr, "WARNING: wrong %s->key_directory_version: %d != 1\n", name,
                   keys->key_directory_version);
    }
    if (keys->key_revision != 1) {
      std::fprintf(stderr, "WARNING: wrong %s->key_revision: %d != 1\n", name, keys->key_revision);
    }
    if (keys->minor_revision != 0) {
      std::fprintf(stderr, "WARNING: wrong %s->minor_revision: %d != 0\n", name,
                   keys->minor_revision);
    }
    if (geo_key_count() < keys->number_of_keys) {
      std::fprintf(stderr,
                   "WARNING: GeoKeyDirectoryTag claims %d keys but its payload holds only %d\n",
                   keys->number_of_keys, geo_key_count());
    }
    return;
  }

  if (user_id == kUserIdSpec) {
    if (size == 0) {
      std::fprintf(stderr, "WARNING: no payload for LASF_Spec (the LAS format requires one).\n");
      return;
    }
    if (record_id == kRecordClassificationLookup) {
      if (resolve(class_lookup_ref_, user_id, record_id).data != nullptr) {
        std::fprintf(stderr, "WARNING: %s contain more than one ClassificationLookup\n", records);
      }
      class_lookup_ref_ = here;
    } else if (record_id == kRecordExtraBytes) {
      load_descriptors(payload, size);
      if (evlr) return;
      for (int i = 0; i < attribute_count(); ++i) {
        const LASattributeDescriptor& attribute = descriptor(i);
        if (attribute.is_deprecated()) {
          const std::string_view name = attribute.name_text();
          std::fprintf(stderr, "WARNING: data type %d of attribute %d ('%.*s') is deprecated\n",
                       attribute.data_type, i, static_cast<int>(name.size()), name.data());
        }
      }
    } else if (is_wave_packet_record(record_id)) {
      const int descriptor_index = record_id - kWavePacketIndexBase;
      LASrecordRef& ref = wave_packet_refs_[descriptor_index];
      if (resolve(ref, user_id, record_id).data != nullptr) {
        std::fprintf(stderr, "WARNING: %s defines wave packet descr %d more than once\n", records,
                     descriptor_index);
      }
      if (!evlr && size != kWavePacketDescriptorSize) {
        std::fprintf(stderr,
                     "WARNING: variable length record payload for wave packet descr %d is %d "
                     "instead of 26 bytes\n",
                     descriptor_index, static_cast<int>(size));
      }
      // A truncated descriptor has no usable fields; it is neither checked nor kept.
      const auto wave_packet = LASvlrWavePacketDescriptor::unpack(payload, size);
      if (!wave_packet) return;
      ref = here;
      if (evlr) return;
      if (wave_packet->bits_per_sample != 8 && wave_packet->bits_per_sample != 16) {
        std::fprintf(stderr,
                     "WARNING: bits per sample for wave packet descr %d is %d instead of 8 or "
                     "16\n",
                     descriptor_index, wave_packet->bits_per_sample);
      }
      if (wave_packet->number_of_samples == 0) {
        std::fprintf(stderr, "WARNING: number of samples for wave packet descr %d is zero\n",
                     descriptor_index);
      } else if (wave_packet->number_of_samples > kUnusuallyManySamples) {
        std::fprintf(stderr,
                     "WARNING: number of samples of %u for wave packet descr %d is with unusually "
                     "large\n",
                     wave_packet->number_of_samples, descriptor_index);
      }
      if (wave_packet->temporal_sample_spacing == 0) {
        std::fprintf(stderr, "WARNING: temporal spacing for wave packet descr %d is zero\n",
                     descriptor_index);
      }
    }
  }
}

bool LASheader::is_absorbed_vlr(const LASvlrEntry& vlr) {
  return vlr.has_user_id(kUserIdCodec) ||
         (vlr.has_user_id(kUserIdSuite) && vlr.record_id < kSuiteRecordAbsorbedBelow) ||
         vlr.has_user_id(kUserIdSuiteTile);
}

bool LASheader::is_absorbed_evlr(const LASevlrEntry& evlr) {
  return evlr.has_user_id(kUserIdCodec) || evlr.has_user_id(kUserIdSuite);
}

const LASvlrGeoKeys* LASheader::vlr_geo_keys() const {
  const Payload payload = resolve(geo_keys_ref_, kUserIdProjection, kRecordGeoKeyDirectory);
  if (payload.size < kGeoKeyEntrySize) return nullptr;
  // Payload buffers come from operator new and are aligned for any scalar.
  return reinterpret_cast<const LASvlrGeoKeys*>(payload.data);
}

std::uint16_t LASheader::geo_key_count() const {
  const LASvlrGeoKeys* keys = vlr_geo_keys();
  if (keys == nullptr) return 0;
  const Payload payload = resolve(geo_keys_ref_, kUserIdProjection, kRecordGeoKeyDirectory);
  const std::size_t present = payload.size / kGeoKeyEntrySize - 1;
  return static_cast<std::uint16_t>(keys->number_of_keys < present ? keys->number_of_keys
                                                                   : present);
}

const LASvlrKeyEntry* LASheader::geo_key_entries() const {
  if (geo_key_count() == 0) return nullptr;
  const Payload payload = resolve(geo_keys_ref_, kUserIdProjection, kRecordGeoKeyDirectory);
  return reinterpret_cast<const LASvlrKeyEntry*>(payload.data + kGeoKeyEntrySize);
}

const double* LASheader::geo_double_params() const {
  if (geo_double_params_count() == 0) return nullptr;
  return reinterpret_cast<const double*>(
      resolve(geo_double_params_ref_, kUserIdProjection, kRecordGeoDoubleParams).data);
}

std::size_t LASheader::geo_double_params_count() const {
  return resolve(geo_double_params_ref_, kUserIdProjection, kRecordGeoDoubleParams).size /
         sizeof(double);
}

const char* LASheader::geo_ascii_params() const {
  return reinterpret_cast<const char*>(
      resolve(geo_ascii_params_ref_, kUserIdProjection, kRecordGeoAsciiParams).data);
}

std::size_t LASheader::geo_ascii_params_size() const {
  return resolve(geo_ascii_params_ref_, kUserIdProjection, kRecordGeoAsciiParams).size;
}

const char* LASheader::geo_wkt_math() const {
  return reinterpret_cast<const char*>(
      resolve(geo_wkt_math_ref_, kUserIdProjection, kRecordWktMathTransform).data);
}

std::size_t LASheader::geo_wkt_math_size() const {
  return resolve(geo_wkt_math_ref_, kUserIdProjection, kRecordWktMathTransform).size;
}

const char* LASheader::geo_wkt() const {
  return reinterpret_cast<const char*>(
      resolve(geo_wkt_ref_, kUserIdProjection, kRecordWktCoordinateSystem).data);
}

std::size_t LASheader::geo_wkt_size() const {
  return resolve(geo_wkt_ref_, kUserIdProjection, kRecordWktCoordinateSystem).size;
}

const std::uint8_t* LASheader::class_lookup() const {
  return resolve(class_lookup_ref_, kUserIdSpec, kRecordClassificationLookup).data;
}

std::size_t LASheader::class_lookup_size() const {
  return resolve(class_lookup_ref_, kUserIdSpec, kRecordClassificationLookup).size;
}

std::optional<LASvlrWavePacketDescriptor> LASheader::wave_packet_descriptors(int index) const {
  if (index < 1 || index >= kWavePacketDescriptorSlots) return std::nullopt;
  const std::uint16_t record_id = static_cast<std::uint16_t>(index + kWavePacketIndexBase);
  const Payload payload = resolve(wave_packet_refs_[index], kUserIdSpec, record_id);
  return LASvlrWavePacketDescriptor::unpack(payload.data, payload.size);
}
