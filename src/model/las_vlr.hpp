#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "model/header_layout.hpp"

// One variable-length record as held in memory. `user_id` and `description` are the 16 and
// 32 bytes of the file, kept as they were read (including garbage after a terminating zero)
// so that a copied file is byte-identical. `data` is the payload; empty means no payload.
// Invariant kept by every header operation: `record_length_after_header` == `data.size()`
// (readers may leave a record they absorb without its payload).
template <typename LengthType>
struct LASrecordEntry {
  std::uint16_t reserved = 0;
  char user_id[kUserIdSize] = {};
  std::uint16_t record_id = 0;
  LengthType record_length_after_header = 0;
  char description[kDescriptionSize] = {};
  std::vector<std::uint8_t> data;

  // The user id up to its first zero byte (all 16 bytes when there is none).
  std::string_view user_id_text() const { return fixed_text(user_id, kUserIdSize); }
  std::string_view description_text() const { return fixed_text(description, kDescriptionSize); }
  bool has_user_id(std::string_view id) const { return user_id_text() == id; }
  bool is(std::string_view id, std::uint16_t record) const {
    return record_id == record && has_user_id(id);
  }
  // Zero-fills the field, then copies at most 16 (user id) or 31 (description) bytes, so a
  // description always ends with a zero byte.
  void set_user_id(std::string_view id) { set_fixed_text(user_id, kUserIdSize, id); }
  void set_description(std::string_view text) {
    set_fixed_text(description, kDescriptionSize, text.substr(0, kDescriptionSize - 1));
  }
  // Replaces the payload and its length together.
  void set_data(std::vector<std::uint8_t> payload) {
    data = std::move(payload);
    record_length_after_header = static_cast<LengthType>(data.size());
  }

  static std::string_view fixed_text(const char* field, std::size_t size) {
    std::size_t length = 0;
    while (length < size && field[length] != '\0')
      ++length;
    return std::string_view(field, length);
  }
  static void set_fixed_text(char* field, std::size_t size, std::string_view text) {
    for (std::size_t i = 0; i < size; ++i)
      field[i] = i < text.size() ? text[i] : '\0';
  }
};

// A VLR: 54-byte head, payload of at most 65535 bytes.
struct LASvlrEntry : LASrecordEntry<std::uint16_t> {};
// An EVLR of LAS 1.4, after the points: 60-byte head, 64-bit payload length.
struct LASevlrEntry : LASrecordEntry<std::uint64_t> {};

// Head of the GeoKeyDirectoryTag payload ("LASF_Projection" 34735).
struct LASvlrGeoKeys {
  std::uint16_t key_directory_version;  // 1
  std::uint16_t key_revision;           // 1
  std::uint16_t minor_revision;         // 0
  std::uint16_t number_of_keys;
};
// One entry of the GeoKeyDirectoryTag, following the head.
struct LASvlrKeyEntry {
  std::uint16_t key_id;
  std::uint16_t tiff_tag_location;
  std::uint16_t count;
  std::uint16_t value_offset;
};
static_assert(sizeof(LASvlrGeoKeys) == kGeoKeyEntrySize);
static_assert(sizeof(LASvlrKeyEntry) == kGeoKeyEntrySize);

// The 26-byte wave packet descriptor ("LASF_Spec" 100-354). Its fields are unaligned on file,
// so it is decoded into this record rather than viewed in place.
struct LASvlrWavePacketDescriptor {
  std::uint8_t bits_per_sample = 0;
  std::uint8_t compression_type = 0;
  std::uint32_t number_of_samples = 0;
  std::uint32_t temporal_sample_spacing = 0;
  double digitizer_gain = 0.0;
  double digitizer_offset = 0.0;

  // Decodes the first 26 bytes; nothing when fewer are given.
  static std::optional<LASvlrWavePacketDescriptor> unpack(const std::uint8_t* payload,
                                                          std::size_t size);
  std::vector<std::uint8_t> pack() const;
};

// The suite's tiling record ("Brindlex" 10, or any record of user "brindlex tile"), 28 bytes:
// level, level_index, a word whose bits 0-29 are `implicit_levels`, bit 30 `buffer` and bit 31
// `reversible`, then the tile bounds in single precision.
struct LASvlrTiling {
  std::uint32_t level = 0;
  std::uint32_t level_index = 0;
  std::uint32_t implicit_levels = 0;  // 30 bits
  bool buffer = false;
  bool reversible = false;
  float min_x = 0.0f;
  float max_x = 0.0f;
  float min_y = 0.0f;
  float max_y = 0.0f;

  // The third word as stored on file, and its inverse.
  std::uint32_t packed_levels() const {
    return (implicit_levels & 0x3FFFFFFFu) | (buffer ? 1u << 30 : 0u) |
           (reversible ? 1u << 31 : 0u);
  }
  void unpack_levels(std::uint32_t word) {
    implicit_levels = word & 0x3FFFFFFFu;
    buffer = (word >> 30) & 1u;
    reversible = (word >> 31) & 1u;
  }
};

// The suite's source-counters record ("Brindlex" 20), 176 bytes: the point counts and bounds
// of the file a tile was cut from.
struct LASvlrOriginal {
  std::uint64_t number_of_point_records = 0;
  std::uint64_t number_of_points_by_return[kExtendedReturnCount] = {};
  double min_x = 0.0;
  double max_x = 0.0;
  double min_y = 0.0;
  double max_y = 0.0;
  double min_z = 0.0;
  double max_z = 0.0;
  // Not part of the record: the stream position at which a writer put the payload, so that
  // it can be rewritten later. A writer sets it on the header it borrows, hence mutable.
  mutable std::int64_t position = 0;
};
