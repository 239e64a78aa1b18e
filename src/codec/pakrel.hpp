#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/las_item.hpp"

class ByteStreamIn;
class ByteStreamOut;

// The codec descriptor: how the point records of a compressed LAS file are coded. One
// travels in every compressed file as a VLR (layout in codec/pakrel_record.hpp).
//
// The descriptor owns its item list. `items.size() == num_items` after `setup` and after a
// successful `read_pakrel_record`; code that fills the fields by hand keeps them in step.
// Every check returns false and leaves its message, formatted as
// "<message> (Pakrel v3.4r3)", in `error_text()`; nothing is printed (except the short
// point size warning of the point type rule).
class Pakrel {
 public:
  enum Compressor : std::uint16_t {
    COMPRESSOR_RAW = 0,        // records stored raw, item after item
    COMPRESSOR_PER_POINT = 1,  // one coded stream, no chunks, no chunk table
    COMPRESSOR_CHUNKED = 2,    // coded chunks and a chunk table
    COMPRESSOR_LAYERED = 3,    // chunks coded in layers; item lists that begin with POINT14
  };
  static constexpr std::uint16_t CODER_ENTROPY = 0;

  static constexpr std::uint8_t kVersionMajor = 3;
  static constexpr std::uint8_t kVersionMinor = 4;
  static constexpr std::uint16_t kVersionRevision = 3;
  static constexpr std::uint32_t kDefaultChunkSize = 50000;
  // Option bit 0: point types 6-10 are described by the items of types 0-5.
  static constexpr std::uint32_t kOptionLegacyItems = 1;

  std::uint16_t compressor = COMPRESSOR_CHUNKED;
  std::uint16_t coder = CODER_ENTROPY;
  std::uint8_t version_major = kVersionMajor;
  std::uint8_t version_minor = kVersionMinor;
  std::uint16_t version_revision = kVersionRevision;
  std::uint32_t options = 0;
  std::uint32_t chunk_size = kDefaultChunkSize;  // 0: variable chunks ended by the caller
  std::int64_t number_of_special_evlrs = -1;
  std::int64_t offset_to_special_evlrs = -1;
  std::uint16_t num_items = 0;
  std::vector<LASitem> items;

  // Takes over a copy of `items` for `compressor` after validating both. A list that begins
  // with POINT14 accepts only the layered compressor (false without a message otherwise); a
  // layered request for any other list is stored as COMPRESSOR_CHUNKED. A chunk size of 0
  // becomes the default unless the compressor is COMPRESSOR_PER_POINT.
  bool setup(std::uint16_t count, const LASitem* item_list, std::uint16_t compressor_kind);

  // Builds the item list of a standard point type into `items_out` (option bit 0 of this
  // descriptor selects the legacy items for types 6-10) and, when compressing, gives the
  // items the versions of `choose_version(2)`. The descriptor's own items stay as they are.
  // False with "point type %d unknown" for a type above 10.
  bool setup(std::vector<LASitem>& items_out, std::uint8_t point_type, std::uint16_t point_size,
             std::uint16_t compressor_kind);

  // compressor, coder and items (with `point_size` 0 meaning any size).
  bool validate(std::uint16_t point_size = 0);
  bool validate_compressor(std::uint16_t compressor_kind);
  bool validate_coder(std::uint16_t coder_kind);
  bool validate_item(const LASitem& item);
  bool validate_items(std::uint16_t count, const LASitem* item_list, std::uint16_t point_size);

  // Tells whether the list is one of the standard LAS point layouts. `point_type` receives
  // the type or 127 (no standard type), `record_length` the sum of the item sizes.
  bool classify_items(std::uint16_t count, const LASitem* item_list, std::uint8_t& point_type,
                      std::uint16_t& record_length);

  // Sets the codec version of every item: the basic items of types 0-5 get `version`, the
  // wave packet of types 4-5 always 1, the items of types 6-10 always 3.
  bool choose_version(std::uint16_t version);
  // 0 selects variable chunks. False without a message for COMPRESSOR_PER_POINT.
  bool change_chunk_size(std::uint32_t points_per_chunk);

  // The last error, or nullptr when there was none.
  const char* error_text() const { return error_.empty() ? nullptr : error_.c_str(); }

 private:
  bool return_error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The version rule of choose_version on any list; nullptr or the failure message.
  static const char* apply_version(std::vector<LASitem>& list, std::uint16_t compressor_kind,
                                   std::uint16_t version);

  std::string error_;
};

// Reads the descriptor record payload (34 + 6 × num_items bytes) field by field into
// `codec`. A field that cannot be read prints its message ("ERROR: reading compressor %d\n",
// ..., "ERROR: reading version %d of item %d\n") and returns false; `codec` then holds the
// fields read so far.
bool read_pakrel_record(ByteStreamIn& stream, Pakrel& codec);

// Writes the payload; a refused field prints "ERROR: writing <field> ..." and returns false.
bool write_pakrel_record(ByteStreamOut& stream, const Pakrel& codec);

// Writes the whole VLR: the 54-byte head ("ERROR: writing reserved %d\n", "ERROR: writing
// user_id %s\n", "ERROR: writing record_id %d\n", "ERROR: writing record_length_after_header
// %d\n", "ERROR: writing description %s\n") and the payload.
bool write_pakrel_vlr(ByteStreamOut& stream, const Pakrel& codec);
