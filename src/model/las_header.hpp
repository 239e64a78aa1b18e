#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "model/header_layout.hpp"
#include "model/las_attribute.hpp"
#include "model/las_scaling.hpp"
#include "model/las_vlr.hpp"

// The codec descriptor of compressed files. Defined by the codec; the header only holds it.
class Pakrel;

// Which record a typed view of the header refers to: an index into `vlrs` or `evlrs`.
struct LASrecordRef {
  enum List : std::uint8_t { kNone, kVlr, kEvlr };
  List list = kNone;
  std::uint32_t index = 0;
};

// The header of one LAS file (versions 1.0-1.4) with its variable-length records (VLRs),
// extended variable-length records (EVLRs), the user data around them and typed views of the
// records the system understands. The scale factors and offsets are the LASscaling base; the
// extra-bytes attributes are the LASattributeSet base, so a point bound to a header borrows
// both from it.
//
// Ownership: the header owns everything it holds by value; copying it copies every record
// (the codec descriptor, which is never changed after reading, is shared). Typed views
// (geo keys, WKT, classification lookup, wave packet descriptors) remember which record they
// refer to by index and are read through accessors that check the record is still there,
// still the one it was and long enough, so they survive copies and never dangle after
// records are added or dropped.
//
// Bookkeeping kept by the operations below (not by direct edits of the members): each VLR's
// length equals its payload size, and every addition or removal changes
// `offset_to_point_data`, `header_size` and the record counts by exactly the bytes and records
// it adds or removes, so a header read from a file stays in step with `vlrs` and `evlrs`.
//
// Messages go to stderr as single "ERROR: " or "WARNING: " lines.
class LASheader : public LASscaling, public LASattributeSet {
 public:
  // ---- File fields, in file order (scale factors and offsets are in LASscaling) ----
  char file_signature[4] = {'L', 'A', 'S', 'F'};
  std::uint16_t file_source_ID = 0;
  std::uint16_t global_encoding = 0;
  std::uint32_t project_ID_GUID_data_1 = 0;
  std::uint16_t project_ID_GUID_data_2 = 0;
  std::uint16_t project_ID_GUID_data_3 = 0;
  std::uint8_t project_ID_GUID_data_4[8] = {};
  std::uint8_t version_major = 1;
  std::uint8_t version_minor = 2;
  char system_identifier[32] = {};
  char generating_software[32] = {};
  std::uint16_t file_creation_day = 0;
  std::uint16_t file_creation_year = 0;
  std::uint16_t header_size = kHeaderSize10;
  std::uint32_t offset_to_point_data = kHeaderSize10;
  std::uint32_t number_of_variable_length_records = 0;
  std::uint8_t point_data_format = 0;  // bit 7 set in a compressed file
  std::uint16_t point_data_record_length = 20;
  std::uint32_t number_of_point_records = 0;  // legacy 32-bit count
  std::uint32_t number_of_points_by_return[kLegacyReturnCount] = {};
  double max_x = 0.0;
  double min_x = 0.0;
  double max_y = 0.0;
  double min_y = 0.0;
  double max_z = 0.0;
  double min_z = 0.0;
  std::uint64_t start_of_waveform_data_packet_record = 0;            // LAS 1.3
  std::uint64_t start_of_first_extended_variable_length_record = 0;  // LAS 1.4
  std::uint32_t number_of_extended_variable_length_records = 0;
  std::uint64_t extended_number_of_point_records = 0;
  std::uint64_t extended_number_of_points_by_return[kExtendedReturnCount] = {};

  // ---- Records ----
  // Bytes between the standard part of the header and `header_size`, verbatim.
  std::vector<std::uint8_t> user_data_in_header;
  std::vector<LASvlrEntry> vlrs;
  std::vector<LASevlrEntry> evlrs;
  // Compressed files: the codec record, taken out of `vlrs` when read.
  std::shared_ptr<Pakrel> codec;
  // The suite's tiling and source-counters records, taken out of `vlrs` when read; the
  // writer adds them back.
  std::optional<LASvlrTiling> vlr_rivudover;
  std::optional<LASvlrOriginal> vlr_lasoriginal;
  // Bytes between the last VLR and `offset_to_point_data`, verbatim.
  std::vector<std::uint8_t> user_data_after_header;

  LASheader() = default;

  // Frees every record and sets every field to its default: "LASF", version 1.2, header size
  // and offset to point data 227, record length 20, scale factors 0.01, offsets 0.
  void reset() { *this = LASheader(); }

  std::uint32_t header_user_data_size() const {
    return static_cast<std::uint32_t>(user_data_in_header.size());
  }
  std::uint32_t trailing_user_data_size() const {
    return static_cast<std::uint32_t>(user_data_after_header.size());
  }
  // Points the file holds: the legacy count when non-zero, else the LAS 1.4 count.
  std::uint64_t point_count() const {
    return number_of_point_records ? number_of_point_records : extended_number_of_point_records;
  }
  // Zero-fill the 32-byte field and copy at most 31 characters of `text`.
  void set_system_identifier(std::string_view text);
  void set_generating_software(std::string_view text);

  // Checks the fields a reader needs before it trusts the header, and a writer before it
  // writes one. False, after an "ERROR: " line, for a wrong signature, a header size below
  // 227 or an offset to point data below the header size; warns about an unknown version,
  // zero scale factors and (with points) an inverted bounding box.
  bool verify() const;

  // ---- VLR bookkeeping ----
  // Index of the first VLR with this user id and record id, -1 when none.
  int find_vlr(std::string_view user_id, std::uint16_t record_id) const;
  // Stores a VLR. Unless `always_append`, the first VLR with the same user id (cut to 16
  // bytes) and record id is replaced in place; otherwise a new one is appended. Description:
  // the old one when `keep_description` and a VLR was replaced, else `description` cut to 31
  // characters, else the suite's default text. `offset_to_point_data` and the VLR count
  // follow. A view of the record's kind is pointed at it. False, after an "ERROR: " line,
  // when `data` exceeds 65535 bytes.
  bool put_vlr(std::string_view user_id, std::uint16_t record_id, std::vector<std::uint8_t> data,
               bool keep_description = false, const char* description = nullptr,
               bool always_append = false);
  // Removes VLR `index`; the last VLR moves into its slot (the order changes). False when out
  // of range. A reader absorbing the record it just read drops the last one, keeping order.
  bool drop_vlr_at(std::size_t index);
  // Drops the first VLR with this user id and record id; false when there is none.
  bool drop_vlr(std::string_view user_id, std::uint16_t record_id);
  // As drop_vlr_at for EVLRs (the EVLR count shrinks; offsets stay).
  bool drop_evlr_at(std::size_t index);
  // The removals of whole parts, with their offsets: user data in the header shrinks
  // `header_size` and `offset_to_point_data`; user data after the header and the VLRs shrink
  // `offset_to_point_data`.
  void remove_user_data_in_header();
  void remove_user_data_after_header();
  void remove_all_vlrs();

  // GeoKeyDirectoryTag with version 1.1.0 and the given keys as "LASF_Projection" 34735;
  // false for 8191 keys or more.
  bool store_geo_keys(std::uint32_t number_of_keys, const LASvlrKeyEntry* entries);
  // GeoDoubleParamsTag as "LASF_Projection" 34736; false for more than 8191 values.
  bool store_geo_double_params(std::uint32_t count, const double* values);
  // Writes the attribute set into the "LASF_Spec" 4 record, or drops that record when there
  // are no attributes; false for more than 341 attributes (they do not fit 65535 bytes).
  bool refresh_extra_bytes_vlr(bool keep_description = false);

  // ---- Interpretation of what a reader read ----
  // Interprets vlrs[index] / evlrs[index]: points the typed views at projection,
  // classification-lookup and wave packet records, loads extra-bytes descriptors into the
  // attribute set, and prints the warnings for missing payloads, repeated records, unknown
  // projection records, version mismatches and malformed descriptors. A later record of a
  // kind replaces an earlier one. EVLRs without payload are ignored.
  void interpret_vlr(std::size_t index);
  void interpret_evlr(std::size_t index);
  // Records whose contents live in `codec`, `vlr_rivudover` or `vlr_lasoriginal` and that a
  // reader takes out of the record lists once parsed.
  static bool is_absorbed_vlr(const LASvlrEntry& vlr);
  static bool is_absorbed_evlr(const LASevlrEntry& evlr);

  // ---- Typed views (null or empty when the record is absent or too short) ----
  // GeoKeyDirectoryTag head; needs 8 payload bytes.
  const LASvlrGeoKeys* vlr_geo_keys() const;
  // Its entries, and how many the payload really holds (the smaller of the claimed number
  // and the entries present): never read more than geo_key_count() entries.
  const LASvlrKeyEntry* geo_key_entries() const;
  std::uint16_t geo_key_count() const;
  const double* geo_double_params() const;
  std::size_t geo_double_params_count() const;  // payload bytes / 8
  // Text payloads: `_size()` bytes, not necessarily zero-terminated.
  const char* geo_ascii_params() const;
  std::size_t geo_ascii_params_size() const;
  const char* geo_wkt_math() const;
  std::size_t geo_wkt_math_size() const;
  const char* geo_wkt() const;
  std::size_t geo_wkt_size() const;
  // ClassificationLookup payload, stored but not interpreted.
  const std::uint8_t* class_lookup() const;
  std::size_t class_lookup_size() const;
  // Wave packet descriptor `index` (1-255, record id - 99) of a "LASF_Spec" 100-354 record
  // of at least 26 bytes; nothing otherwise.
  std::optional<LASvlrWavePacketDescriptor> wave_packet_descriptors(int index) const;

 private:
  // The payload a view refers to, when that record is still there; empty otherwise.
  struct Payload {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
  };
  Payload resolve(const LASrecordRef& ref, std::string_view user_id, std::uint16_t record_id) const;
  LASrecordRef* view_for(std::string_view user_id, std::uint16_t record_id);
  void interpret(LASrecordRef::List list, std::size_t index, std::string_view user_id,
                 std::uint16_t record_id, const std::uint8_t* payload, std::size_t size);
  template <typename Fn>
  void for_each_ref(Fn&& fn) {
    fn(geo_keys_ref_);
    fn(geo_double_params_ref_);
    fn(geo_ascii_params_ref_);
    fn(geo_wkt_math_ref_);
    fn(geo_wkt_ref_);
    fn(class_lookup_ref_);
    for (LASrecordRef& ref : wave_packet_refs_)
      fn(ref);
  }
  void forget_moved_record(LASrecordRef::List list, std::size_t dropped, std::size_t last);

  LASrecordRef geo_keys_ref_;
  LASrecordRef geo_double_params_ref_;
  LASrecordRef geo_ascii_params_ref_;
  LASrecordRef geo_wkt_math_ref_;
  LASrecordRef geo_wkt_ref_;
  LASrecordRef class_lookup_ref_;
  std::array<LASrecordRef, kWavePacketDescriptorSlots> wave_packet_refs_{};
};
