#include "las/las_writer_las.hpp"

#include <cinttypes>
#include <cstring>

#include "codec/pakrel.hpp"
#include "codec/pakrel_record.hpp"
#include "model/header_layout.hpp"

// The header with its VLRs, the EVLRs after the points, and the later updates of header
// fields; opening, the points and closing are in las_writer_las.cpp.

namespace {

// Sizes of the records the writer adds to the header's own VLRs.
constexpr std::uint32_t kTilingRecordSize = kVlrHeadSize + kTilingPayloadSize;      // 82
constexpr std::uint32_t kOriginalRecordSize = kVlrHeadSize + kOriginalPayloadSize;  // 230

// Writes one little-endian value; a refused write prints "ERROR: writing <prefix><name>".
class FieldWriter {
 public:
  FieldWriter(ByteStreamOut& stream, const char* prefix) : stream_(stream), prefix_(prefix) {}
  template <typename T>
  bool put(const T& value, const char* name) {
    if (stream_.write_bytes(&value, sizeof(T))) return true;
    std::fprintf(stderr, "ERROR: %s%s\n", prefix_, name);
    return false;
  }

 private:
  ByteStreamOut& stream_;
  const char* prefix_;
};

// Zero padded; a text of exactly `size` characters fills the field without a terminator.
void fixed_text(char* field, std::size_t size, const char* text) {
  std::memset(field, 0, size);
  const std::size_t length = std::strlen(text);
  std::memcpy(field, text, length < size ? length : size);
}

}  // namespace
bool LASwriterLAS::write_header(const LASheader& h, const Pakrel* descriptor) {
  ByteStreamOut& out = *stream_;
  FieldWriter field(out, "writing header->");

  std::uint8_t version_major = h.version_major;
  if (version_major != 1) {
    std::fprintf(stderr, "WARNING: header->version_major is %d. writing 1 instead.\n",
                 version_major);
    version_major = 1;
  }
  std::uint8_t version_minor = h.version_minor;
  if (version_minor > 4) {
    std::fprintf(stderr, "WARNING: header->version_minor is %d. writing 4 instead.\n",
                 version_minor);
    version_minor = 4;
  }
  written_minor_ = version_minor;

  // What the header says must be what gets written: the records and user data before the
  // points have to add up to header_size and offset_to_point_data, or the file would point
  // its readers at the wrong bytes.
  const std::uint32_t standard_size = standard_header_size(version_minor);
  if (h.header_size != standard_size + h.header_user_data_size()) {
    std::fprintf(stderr,
                 "ERROR: header->header_size is %d but a LAS 1.%d header with %u bytes of user "
                 "data has %u bytes\n",
                 h.header_size, version_minor, h.header_user_data_size(),
                 standard_size + h.header_user_data_size());
    return false;
  }
  std::uint64_t before_points = h.header_size + h.trailing_user_data_size();
  for (const LASvlrEntry& vlr : h.vlrs)
    before_points += kVlrHeadSize + vlr.record_length_after_header;
  if (h.vlrs.size() != h.number_of_variable_length_records ||
      before_points != h.offset_to_point_data) {
    std::fprintf(stderr,
                 "ERROR: header->offset_to_point_data is %u but the header, its %u VLRs and user "
                 "data take %" PRIu64 " bytes\n",
                 h.offset_to_point_data, static_cast<unsigned>(h.vlrs.size()), before_points);
    return false;
  }
  if (version_minor >= 4 && h.evlrs.size() != h.number_of_extended_variable_length_records) {
    std::fprintf(stderr,
                 "ERROR: header->number_of_extended_variable_length_records is %u but there are "
                 "%u EVLRs\n",
                 h.number_of_extended_variable_length_records,
                 static_cast<unsigned>(h.evlrs.size()));
    return false;
  }

  std::uint32_t offset_to_point_data = h.offset_to_point_data;
  std::uint32_t number_of_vlrs = h.number_of_variable_length_records;
  if (descriptor != nullptr) {
    offset_to_point_data += kVlrHeadSize + pakrel_record_length(descriptor->num_items);
    number_of_vlrs++;
  }
  if (h.vlr_rivudover) {
    offset_to_point_data += kTilingRecordSize;
    number_of_vlrs++;
  }
  if (h.vlr_lasoriginal) {
    offset_to_point_data += kOriginalRecordSize;
    number_of_vlrs++;
  }

  if (!field.put(h.file_signature, "file_signature")) return false;
  if (!field.put(h.file_source_ID, "file_source_ID")) return false;
  if (!field.put(h.global_encoding, "global_encoding")) return false;
  if (!field.put(h.project_ID_GUID_data_1, "project_ID_GUID_data_1")) return false;
  if (!field.put(h.project_ID_GUID_data_2, "project_ID_GUID_data_2")) return false;
  if (!field.put(h.project_ID_GUID_data_3, "project_ID_GUID_data_3")) return false;
  if (!field.put(h.project_ID_GUID_data_4, "project_ID_GUID_data_4")) return false;
  if (!field.put(version_major, "version_major")) return false;
  if (!field.put(version_minor, "version_minor")) return false;
  if (!field.put(h.system_identifier, "system_identifier")) return false;
  if (!field.put(h.generating_software, "generating_software")) return false;
  if (!field.put(h.file_creation_day, "file_creation_day")) return false;
  if (!field.put(h.file_creation_year, "file_creation_year")) return false;
  if (!field.put(h.header_size, "header_size")) return false;
  if (!field.put(offset_to_point_data, "offset_to_point_data")) return false;
  if (!field.put(number_of_vlrs, "number_of_variable_length_records")) return false;
  if (!field.put(written_point_data_format_, "point_data_format")) return false;
  const std::uint16_t record_length = static_cast<std::uint16_t>(
      descriptor ? [&] {
        int sum = 0;
        for (const LASitem& item : descriptor->items)
          sum += item.size;
        return sum;
      }()
                 : h.point_data_record_length);
  if (!field.put(record_length, "point_data_record_length")) return false;
  if (!field.put(h.number_of_point_records, "number_of_point_records")) return false;
  for (int i = 0; i < kLegacyReturnCount; i++) {
    if (!out.write32_le(&h.number_of_points_by_return[i])) {
      std::fprintf(stderr, "ERROR: writing header->number_of_points_by_return[%d]\n", i);
      return false;
    }
  }
  if (!field.put(h.x_scale_factor, "x_scale_factor")) return false;
  if (!field.put(h.y_scale_factor, "y_scale_factor")) return false;
  if (!field.put(h.z_scale_factor, "z_scale_factor")) return false;
  if (!field.put(h.x_offset, "x_offset")) return false;
  if (!field.put(h.y_offset, "y_offset")) return false;
  if (!field.put(h.z_offset, "z_offset")) return false;
  if (!field.put(h.max_x, "max_x")) return false;
  if (!field.put(h.min_x, "min_x")) return false;
  if (!field.put(h.max_y, "max_y")) return false;
  if (!field.put(h.min_y, "min_y")) return false;
  if (!field.put(h.max_z, "max_z")) return false;
  if (!field.put(h.min_z, "min_z")) return false;

  if (version_minor >= 3) {
    // Waveform data is not carried over, so no file of ours points at any.
    const std::uint64_t waveform_start = 0;
    if (h.start_of_waveform_data_packet_record != 0) {
      std::fprintf(stderr,
                   "WARNING: header->start_of_waveform_data_packet_record is %" PRId64
                   ". writing 0 instead.\n",
                   static_cast<std::int64_t>(h.start_of_waveform_data_packet_record));
    }
    if (!out.write64_le(&waveform_start)) {
      std::fprintf(stderr, "ERROR: writing start_of_waveform_data_packet_record\n");
      return false;
    }
  }
  emit_1_4_header_ = version_minor >= 4;
  number_of_evlrs_ = 0;
  evlrs_ = nullptr;
  if (emit_1_4_header_) {
    start_of_first_evlr_ =
        static_cast<std::int64_t>(h.start_of_first_extended_variable_length_record);
    number_of_evlrs_ = h.number_of_extended_variable_length_records;
    evlrs_ = &h.evlrs;
    if (!field.put(h.start_of_first_extended_variable_length_record,
                   "start_of_first_extended_variable_length_record")) {
      return false;
    }
    if (!field.put(h.number_of_extended_variable_length_records,
                   "number_of_extended_variable_length_records")) {
      return false;
    }
    const std::uint64_t extended_count =
        h.number_of_point_records ? h.number_of_point_records : h.extended_number_of_point_records;
    if (!field.put(extended_count, "extended_number_of_point_records")) return false;
    for (int i = 0; i < kExtendedReturnCount; i++) {
      const std::uint64_t count = i < kLegacyReturnCount && h.number_of_points_by_return[i]
                                      ? h.number_of_points_by_return[i]
                                      : h.extended_number_of_points_by_return[i];
      if (!out.write64_le(&count)) {
        std::fprintf(stderr, "ERROR: writing header->extended_number_of_points_by_return[%d]\n", i);
        return false;
      }
    }
  }

  if (h.header_user_data_size() > 0 &&
      !out.write_bytes(h.user_data_in_header.data(), h.user_data_in_header.size())) {
    std::fprintf(stderr, "ERROR: writing %d bytes of data from header->user_data_in_header\n",
                 static_cast<int>(h.header_user_data_size()));
    return false;
  }

  for (std::size_t i = 0; i < h.vlrs.size(); i++) {
    const LASvlrEntry& vlr = h.vlrs[i];
    const int index = static_cast<int>(i);
    const char* failed_field = nullptr;
    if (!out.write16_le(&vlr.reserved)) {
      failed_field = "reserved";
    } else if (!out.write_bytes(vlr.user_id, kUserIdSize)) {
      failed_field = "user_id";
    } else if (!out.write16_le(&vlr.record_id)) {
      failed_field = "record_id";
    } else if (!out.write16_le(&vlr.record_length_after_header)) {
      failed_field = "record_length_after_header";
    } else if (!out.write_bytes(vlr.description, kDescriptionSize)) {
      failed_field = "description";
    }
    if (failed_field != nullptr) {
      std::fprintf(stderr, "ERROR: writing header->vlrs[%d].%s\n", index, failed_field);
      return false;
    }
    if (vlr.record_length_after_header == 0) continue;
    if (vlr.data.size() != vlr.record_length_after_header) {
      std::fprintf(stderr, "ERROR: there should be %d bytes of data in header->vlrs[%d].data\n",
                   vlr.record_length_after_header, index);
      return false;
    }
    if (!out.write_bytes(vlr.data.data(), vlr.data.size())) {
      std::fprintf(stderr, "ERROR: writing %d bytes of data from header->vlrs[%d].data\n",
                   vlr.record_length_after_header, index);
      return false;
    }
  }
  if (descriptor != nullptr && !write_pakrel_vlr(out, *descriptor)) return false;
  if (!write_suite_records(h)) return false;

  if (h.trailing_user_data_size() > 0 &&
      !out.write_bytes(h.user_data_after_header.data(), h.user_data_after_header.size())) {
    std::fprintf(stderr, "ERROR: writing %d bytes of data from header->user_data_after_header\n",
                 static_cast<int>(h.trailing_user_data_size()));
    return false;
  }
  return true;
}

bool LASwriterLAS::write_suite_records(const LASheader& h) {
  ByteStreamOut& out = *stream_;
  auto write_head = [&](std::uint16_t record_id, std::uint16_t length, const char* description) {
    const std::uint16_t reserved = kSuiteReserved;
    char user_id[kUserIdSize];
    fixed_text(user_id, kUserIdSize, "Brindlex");
    char text[kDescriptionSize];
    fixed_text(text, kDescriptionSize, description);
    if (!out.write16_le(&reserved)) {
      std::fprintf(stderr, "ERROR: writing reserved %d\n", reserved);
      return false;
    }
    if (!out.write_bytes(user_id, kUserIdSize)) {
      std::fprintf(stderr, "ERROR: writing user_id %s\n", "Brindlex");
      return false;
    }
    if (!out.write16_le(&record_id)) {
      std::fprintf(stderr, "ERROR: writing record_id %d\n", record_id);
      return false;
    }
    if (!out.write16_le(&length)) {
      std::fprintf(stderr, "ERROR: writing record_length_after_header %d\n", length);
      return false;
    }
    if (!out.write_bytes(text, kDescriptionSize)) {
      std::fprintf(stderr, "ERROR: writing description %s\n", description);
      return false;
    }
    return true;
  };

  if (h.vlr_rivudover) {
    const LASvlrTiling& tiling = *h.vlr_rivudover;
    char description[2 * kDescriptionSize];
    std::snprintf(description, sizeof description, "tile %s buffer %s",
                  tiling.buffer ? "with" : "without", tiling.reversible ? ", reversible" : "");
    if (!write_head(kRecordTiling, kTilingPayloadSize, description)) return false;
    const std::uint32_t levels = tiling.packed_levels();
    if (!out.write32_le(&tiling.level)) {
      std::fprintf(stderr, "ERROR: writing header->vlr_rivudover->level %u\n", tiling.level);
      return false;
    }
    if (!out.write32_le(&tiling.level_index)) {
      std::fprintf(stderr, "ERROR: writing header->vlr_rivudover->level_index %u\n",
                   tiling.level_index);
      return false;
    }
    if (!out.write32_le(&levels)) {
      std::fprintf(stderr, "ERROR: writing header->vlr_rivudover->implicit_levels %u\n",
                   tiling.implicit_levels);
      return false;
    }
    const float bounds[4] = {tiling.min_x, tiling.max_x, tiling.min_y, tiling.max_y};
    const char* names[4] = {"min_x", "max_x", "min_y", "max_y"};
    for (int i = 0; i < 4; i++) {
      if (!out.write32_le(&bounds[i])) {
        std::fprintf(stderr, "ERROR: writing header->vlr_rivudover->%s %g\n", names[i], bounds[i]);
        return false;
      }
    }
  }
  if (h.vlr_lasoriginal) {
    const LASvlrOriginal& original = *h.vlr_lasoriginal;
    if (!write_head(kRecordOriginal, kOriginalPayloadSize, "counters and bbox of original")) {
      return false;
    }
    original.position = out.position();
    if (!out.write64_le(&original.number_of_point_records)) {
      std::fprintf(stderr, "ERROR: writing header->vlr_lasoriginal->number_of_point_records %u\n",
                   static_cast<unsigned>(original.number_of_point_records));
      return false;
    }
    for (int i = 0; i < kExtendedReturnCount; i++) {
      if (!out.write64_le(&original.number_of_points_by_return[i])) {
        std::fprintf(stderr,
                     "ERROR: writing header->vlr_lasoriginal->number_of_points_by_return[%u] %u\n",
                     i, static_cast<unsigned>(original.number_of_points_by_return[i]));
        return false;
      }
    }
    const double bounds[6] = {original.min_x, original.max_x, original.min_y,
                              original.max_y, original.min_z, original.max_z};
    const char* names[6] = {"min_x", "max_x", "min_y", "max_y", "min_z", "max_z"};
    for (int i = 0; i < 6; i++) {
      if (!out.write64_le(&bounds[i])) {
        std::fprintf(stderr, "ERROR: writing header->vlr_lasoriginal->%s %g\n", names[i],
                     bounds[i]);
        return false;
      }
    }
  }
  return true;
}

bool LASwriterLAS::write_evlrs() {
  ByteStreamOut& out = *stream_;
  const std::int64_t evlrs_start = out.position() - header_start_;
  for (std::size_t i = 0; i < evlrs_->size() && i < number_of_evlrs_; i++) {
    const LASevlrEntry& evlr = (*evlrs_)[i];
    const int index = static_cast<int>(i);
    const char* failed_field = nullptr;
    if (!out.write16_le(&evlr.reserved)) {
      failed_field = "reserved";
    } else if (!out.write_bytes(evlr.user_id, kUserIdSize)) {
      failed_field = "user_id";
    } else if (!out.write16_le(&evlr.record_id)) {
      failed_field = "record_id";
    } else if (!out.write64_le(&evlr.record_length_after_header)) {
      failed_field = "record_length_after_header";
    } else if (!out.write_bytes(evlr.description, kDescriptionSize)) {
      failed_field = "description";
    }
    if (failed_field != nullptr) {
      std::fprintf(stderr, "ERROR: writing evlrs[%d].%s\n", index, failed_field);
      return false;
    }
    if (evlr.record_length_after_header == 0) continue;
    if (evlr.data.size() != evlr.record_length_after_header) {
      std::fprintf(stderr, "ERROR: there should be %u bytes of data in evlrs[%d].data\n",
                   static_cast<unsigned>(evlr.record_length_after_header), index);
      return false;
    }
    if (!out.write_bytes(evlr.data.data(), evlr.data.size())) {
      std::fprintf(stderr, "ERROR: writing %u bytes of data from evlrs[%d].data\n",
                   static_cast<unsigned>(evlr.record_length_after_header), index);
      return false;
    }
  }
  if (evlrs_start != start_of_first_evlr_) {
    // The header announced them elsewhere (the points came out at another size).
    const std::uint64_t start = static_cast<std::uint64_t>(evlrs_start);
    if (!out.seek_to(header_start_ + kOffsetStartOfFirstEvlr) || !out.write64_le(&start) ||
        !out.seek_to_end()) {
      std::fprintf(stderr,
                   "ERROR: updating header->start_of_first_extended_variable_length_record\n");
      return false;
    }
  }
  return true;
}

bool LASwriterLAS::update_header(const LASheader* header, bool from_tally,
                                 bool refresh_attributes) {
  if (header == nullptr) {
    std::fprintf(stderr, "ERROR: header pointer is zero\n");
    return false;
  }
  if (stream_ == nullptr) {
    std::fprintf(stderr, "ERROR: stream pointer is zero\n");
    return false;
  }
  ByteStreamOut& out = *stream_;
  if (!out.can_seek()) {
    std::fprintf(stderr, "WARNING: stream not seekable. cannot update header.\n");
    return false;
  }
  auto fail = [&](const char* message, int index = -1) {
    if (index >= 0) {
      std::fprintf(stderr, message, index);
    } else {
      std::fprintf(stderr, "%s", message);
    }
    failed_ = true;
    return false;
  };
  // The stream may still hold a refusal of bytes written before (its background writes
  // report late): that is the failure to name, not the header field the seek was for.
  if (!out.flush()) {
    if (!failed_) report_stream_failure();
    failed_ = true;
    return false;
  }
  if (!out.seek_to(header_start_ + kOffsetNumberOfPointRecords)) {
    return fail("ERROR: updating header->number_of_point_records\n");
  }
  const bool legacy_type = (header->point_data_format & 0x3F) < 6;
  if (from_tally) {
    const std::uint64_t count = static_cast<std::uint64_t>(inventory.number_of_point_records);
    std::uint32_t legacy = 0;
    if (legacy_type) {
      if (count < kLegacyLimit) {
        legacy = static_cast<std::uint32_t>(count);
      } else if (header->version_minor < 4) {
        std::fprintf(stderr, "WARNING: too many points in LAS %d.%d file. limit is %u.\n",
                     header->version_major, header->version_minor, kLegacyCountMax);
        legacy = kLegacyCountMax;
      }
    }
    if (!out.write32_le(&legacy))
      return fail("ERROR: updating inventory.number_of_point_records\n");
    points_total = static_cast<std::int64_t>(count);
    for (int i = 0; i < kLegacyReturnCount; i++) {
      const std::uint64_t returns =
          static_cast<std::uint64_t>(inventory.number_of_points_by_return[i + 1]);
      std::uint32_t value = 0;
      if (legacy_type) {
        if (returns < kLegacyLimit) {
          value = static_cast<std::uint32_t>(returns);
        } else if (header->version_minor < 4) {
          value = kLegacyCountMax;
        }
      }
      if (!out.write32_le(&value)) {
        return fail("ERROR: updating inventory.number_of_points_by_return[%d]\n", i);
      }
    }
    if (!out.seek_to(header_start_ + kOffsetBoundingBox)) {
      return fail("ERROR: updating inventory.max_X\n");
    }
    const double bounds[6] = {scaling.get_x(inventory.max_X), scaling.get_x(inventory.min_X),
                              scaling.get_y(inventory.max_Y), scaling.get_y(inventory.min_Y),
                              scaling.get_z(inventory.max_Z), scaling.get_z(inventory.min_Z)};
    const char* messages[6] = {
        "ERROR: updating inventory.max_X\n", "ERROR: updating inventory.min_X\n",
        "ERROR: updating inventory.max_Y\n", "ERROR: updating inventory.min_Y\n",
        "ERROR: updating inventory.max_Z\n", "ERROR: updating inventory.min_Z\n"};
    for (int i = 0; i < 6; i++) {
      if (!out.write64_le(&bounds[i])) return fail(messages[i]);
    }
    if (header->version_major == 1 && header->version_minor >= 4) {
      if (!out.seek_to(header_start_ + kOffsetExtendedNumberOfPointRecords) ||
          !out.write64_le(&count)) {
        return fail("ERROR: updating header->extended_number_of_point_records\n");
      }
      for (int i = 0; i < kExtendedReturnCount; i++) {
        const std::uint64_t returns =
            static_cast<std::uint64_t>(inventory.number_of_points_by_return[i + 1]);
        if (!out.write64_le(&returns)) {
          return fail("ERROR: updating header->extended_number_of_points_by_return[%d]\n", i);
        }
      }
    }
  } else {
    const std::uint32_t legacy = legacy_type ? header->number_of_point_records : 0;
    if (!out.write32_le(&legacy)) return fail("ERROR: updating header->number_of_point_records\n");
    points_total = header->number_of_point_records;
    for (int i = 0; i < kLegacyReturnCount; i++) {
      const std::uint32_t value = legacy_type ? header->number_of_points_by_return[i] : 0;
      if (!out.write32_le(&value)) {
        return fail("ERROR: updating header->number_of_points_by_return[%d]\n", i);
      }
    }
    if (!out.seek_to(header_start_ + kOffsetBoundingBox)) {
      return fail("ERROR: updating header->max_x\n");
    }
    const double bounds[6] = {header->max_x, header->min_x, header->max_y,
                              header->min_y, header->max_z, header->min_z};
    const char* messages[6] = {
        "ERROR: updating header->max_x\n", "ERROR: updating header->min_x\n",
        "ERROR: updating header->max_y\n", "ERROR: updating header->min_y\n",
        "ERROR: updating header->max_z\n", "ERROR: updating header->min_z\n"};
    for (int i = 0; i < 6; i++) {
      if (!out.write64_le(&bounds[i])) return fail(messages[i]);
    }
    if (header->version_major == 1 && header->version_minor >= 3) {
      std::uint64_t waveform = header->start_of_waveform_data_packet_record;
      if (waveform != 0) {
        std::fprintf(stderr,
                     "WARNING: header->start_of_waveform_data_packet_record is %" PRId64
                     ". writing 0 instead.\n",
                     static_cast<std::int64_t>(waveform));
        waveform = 0;
        if (!out.write64_le(&waveform)) {
          return fail("ERROR: updating start_of_waveform_data_packet_record\n");
        }
      } else if (!out.write64_le(&waveform)) {
        return fail("ERROR: updating header->start_of_waveform_data_packet_record\n");
      }
    }
    if (header->version_major == 1 && header->version_minor >= 4) {
      if (!out.seek_to(header_start_ + kOffsetStartOfFirstEvlr) ||
          !out.write64_le(&header->start_of_first_extended_variable_length_record)) {
        return fail("ERROR: updating header->start_of_first_extended_variable_length_record\n");
      }
      if (!out.write32_le(&header->number_of_extended_variable_length_records)) {
        return fail("ERROR: updating header->number_of_extended_variable_length_records\n");
      }
      const std::uint64_t count = header->number_of_point_records
                                      ? header->number_of_point_records
                                      : header->extended_number_of_point_records;
      if (!out.write64_le(&count)) {
        return fail("ERROR: updating header->extended_number_of_point_records\n");
      }
      for (int i = 0; i < kExtendedReturnCount; i++) {
        const std::uint64_t returns =
            i < kLegacyReturnCount && header->number_of_points_by_return[i]
                ? header->number_of_points_by_return[i]
                : header->extended_number_of_points_by_return[i];
        if (!out.write64_le(&returns)) {
          return fail("ERROR: updating header->extended_number_of_points_by_return[%d]\n", i);
        }
      }
    }
  }
  if (!out.seek_to_end()) return fail("ERROR: updating header: cannot seek to the end\n");
  if (refresh_attributes && header->attribute_count() > 0) {
    std::int64_t position = header_start_ + header->header_size;
    int found = -1;
    for (std::size_t i = 0; i < header->vlrs.size(); i++) {
      const LASvlrEntry& vlr = header->vlrs[i];
      if (vlr.is(kUserIdSpec, kRecordExtraBytes)) {
        found = static_cast<int>(i);
        position += kVlrHeadSize;
        break;
      }
      position += kVlrHeadSize + vlr.record_length_after_header;
    }
    if (found < 0) {
      std::fprintf(stderr, "WARNING: could not find extra bytes VLR for update\n");
    } else {
      const LASvlrEntry& vlr = header->vlrs[static_cast<std::size_t>(found)];
      if (!out.seek_to(position) || !out.write_bytes(vlr.data.data(), vlr.data.size())) {
        std::fprintf(stderr, "ERROR: writing %d bytes of data from header->vlrs[%d].data\n",
                     static_cast<int>(vlr.data.size()), found);
        failed_ = true;
        return false;
      }
    }
    if (!out.seek_to_end()) return fail("ERROR: updating header: cannot seek to the end\n");
  }
  return true;
}
