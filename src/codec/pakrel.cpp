#include "codec/pakrel.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "codec/pakrel_record.hpp"
#include "model/point_layout.hpp"
#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

namespace {

// What each item type accepts: its size (0: a byte item of any size from 1) and the codec
// versions that exist for it (bit v set for version v), with the message for each fault.
struct ItemRule {
  LASitem::Type type;
  std::uint16_t size;
  const char* size_message;
  std::uint32_t versions;
  const char* version_message;
};

constexpr std::uint32_t kBasicVersions = 0b111;       // 0, 1, 2
constexpr std::uint32_t kExtendedVersions = 0b11101;  // 0, 2, 3, 4

constexpr ItemRule kItemRules[] = {
    {LASitem::BYTE, 0, "BYTE has size < 1", kBasicVersions, "BYTE has version > 2"},
    {LASitem::POINT10, 20, "POINT10 has size != 20", kBasicVersions, "POINT10 has version > 2"},
    {LASitem::GPSTIME11, 8, "GPSTIME11 has size != 8", kBasicVersions, "GPSTIME11 has version > 2"},
    {LASitem::RGB12, 6, "RGB12 has size != 6", kBasicVersions, "RGB12 has version > 2"},
    {LASitem::WAVEPACKET13, 29, "WAVEPACKET13 has size != 29", 0b11,
     "WAVEPACKET13 has version > 1"},
    {LASitem::POINT14, 30, "POINT14 has size != 30", kExtendedVersions,
     "POINT14 has version != 0 and != 2 and != 3 and != 4"},
    {LASitem::RGB14, 6, "RGB14 has size != 6", kExtendedVersions,
     "RGB14 has version != 0 and != 2 and != 3 and != 4"},
    {LASitem::RGBNIR14, 8, "RGBNIR14 has size != 8", kExtendedVersions,
     "RGBNIR14 has version != 0 and != 2 and != 3 and != 4"},
    {LASitem::WAVEPACKET14, 29, "WAVEPACKET14 has size != 29", 0b11001,
     "WAVEPACKET14 has version != 0 and != 3 and != 4"},
    {LASitem::BYTE14, 0, "BYTE14 has size < 1", kExtendedVersions,
     "BYTE14 has version != 0 and != 2 and != 3 and != 4"},
};

const ItemRule* rule_of(LASitem::Type type) {
  for (const ItemRule& rule : kItemRules) {
    if (rule.type == type) return &rule;
  }
  return nullptr;
}

// An item "is" a type of the standard layouts when type and size both match; the byte
// items match with any size but 0.
bool is(const LASitem& item, LASitem::Type type) {
  if (item.type != type) return false;
  if (type == LASitem::BYTE || type == LASitem::BYTE14) return item.size != 0;
  return item.size == LASitem::fixed_size(type);
}

bool is_any_byte(const LASitem& item) {
  return is(item, LASitem::BYTE) || is(item, LASitem::BYTE14);
}
bool is_any_wavepacket(const LASitem& item) {
  return is(item, LASitem::WAVEPACKET13) || is(item, LASitem::WAVEPACKET14);
}

// The standard point type of an item list, or 127. Wherever a byte item may follow, it
// must be the last item.
std::uint8_t standard_point_type(std::uint16_t count, const LASitem* items) {
  constexpr std::uint8_t kNone = 127;
  auto byte_tail = [&](int at, bool byte14_allowed) {
    return count == at + 1 &&
           (byte14_allowed ? is_any_byte(items[at]) : is(items[at], LASitem::BYTE));
  };
  if (is(items[0], LASitem::POINT10)) {
    if (count == 1) return 0;
    if (is(items[1], LASitem::GPSTIME11)) {
      if (count == 2) return 1;
      if (is(items[2], LASitem::RGB12)) {
        if (count == 3) return 3;
        if (is(items[3], LASitem::WAVEPACKET13)) {
          if (count == 4 || byte_tail(4, false)) return 5;
          return kNone;
        }
        return byte_tail(3, false) ? 3 : kNone;
      }
      if (is(items[2], LASitem::WAVEPACKET13)) {
        return (count == 3 || byte_tail(3, false)) ? 4 : kNone;
      }
      return byte_tail(2, false) ? 1 : kNone;
    }
    if (is(items[1], LASitem::RGB12)) return (count == 2 || byte_tail(2, false)) ? 2 : kNone;
    return byte_tail(1, false) ? 0 : kNone;
  }
  // POINT14 first
  if (count == 1) return 6;
  if (is(items[1], LASitem::RGB14)) return (count == 2 || byte_tail(2, true)) ? 7 : kNone;
  if (is(items[1], LASitem::RGBNIR14)) {
    if (count == 2) return 8;
    if (is_any_wavepacket(items[2])) return (count == 3 || byte_tail(3, true)) ? 10 : kNone;
    return byte_tail(2, true) ? 8 : kNone;
  }
  if (is_any_wavepacket(items[1])) return (count == 2 || byte_tail(2, true)) ? 9 : kNone;
  return byte_tail(1, true) ? 6 : kNone;
}

// Little-endian field transfer of any width (the descriptor is little-endian on disk even
// when the stream is of the big-endian kind).
template <typename T>
void read_field(ByteStreamIn& stream, T& value) {
  if constexpr (sizeof(T) == 1) stream.read_bytes(&value, 1);
  if constexpr (sizeof(T) == 2) stream.read16_le(&value);
  if constexpr (sizeof(T) == 4) stream.read32_le(&value);
  if constexpr (sizeof(T) == 8) stream.read64_le(&value);
}

template <typename T>
bool write_field(ByteStreamOut& stream, const T& value) {
  if constexpr (sizeof(T) == 1) return stream.write_bytes(&value, 1);
  if constexpr (sizeof(T) == 2) return stream.write16_le(&value);
  if constexpr (sizeof(T) == 4) return stream.write32_le(&value);
  if constexpr (sizeof(T) == 8) return stream.write64_le(&value);
}

}  // namespace

bool Pakrel::return_error(const char* format, ...) {
  char message[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  char text[320];
  std::snprintf(text, sizeof(text), "%s (Pakrel v%d.%dr%d)", message, kVersionMajor, kVersionMinor,
                kVersionRevision);
  error_ = text;
  return false;
}

bool Pakrel::setup(std::uint16_t count, const LASitem* item_list, std::uint16_t compressor_kind) {
  if (!validate_compressor(compressor_kind)) return false;
  if (!validate_items(count, item_list, 0)) return false;
  if (compressor_kind != COMPRESSOR_RAW) {
    if (item_list[0].type == LASitem::POINT14) {
      if (compressor_kind != COMPRESSOR_LAYERED) return false;
      compressor = COMPRESSOR_LAYERED;
    } else {
      compressor = compressor_kind == COMPRESSOR_LAYERED
                       ? static_cast<std::uint16_t>(COMPRESSOR_CHUNKED)
                       : compressor_kind;
    }
  } else {
    compressor = COMPRESSOR_RAW;
  }
  if (compressor != COMPRESSOR_PER_POINT && chunk_size == 0) chunk_size = kDefaultChunkSize;
  items.assign(item_list, item_list + count);
  num_items = count;
  return true;
}

bool Pakrel::setup(std::vector<LASitem>& items_out, std::uint8_t point_type,
                   std::uint16_t point_size, std::uint16_t compressor_kind) {
  if (!build_point_type_items(point_type, point_size, (options & kOptionLegacyItems) != 0,
                              items_out)) {
    return return_error("point type %d unknown", point_type);
  }
  if (compressor_kind != COMPRESSOR_RAW) {
    if (const char* failure = apply_version(items_out, compressor_kind, 2)) {
      return return_error("%s", failure);
    }
  }
  return true;
}

bool Pakrel::validate(std::uint16_t point_size) {
  if (!validate_compressor(compressor)) return false;
  if (!validate_coder(coder)) return false;
  const LASitem* list = items.empty() ? nullptr : items.data();
  // A descriptor filled by hand may claim more items than it holds.
  if (num_items > items.size()) list = nullptr;
  return validate_items(num_items, list, point_size);
}

bool Pakrel::validate_compressor(std::uint16_t compressor_kind) {
  if (compressor_kind <= COMPRESSOR_LAYERED) return true;
  return return_error("compressor %d not supported", compressor_kind);
}

bool Pakrel::validate_coder(std::uint16_t coder_kind) {
  if (coder_kind == CODER_ENTROPY) return true;
  return return_error("coder %d not supported", coder_kind);
}

bool Pakrel::validate_item(const LASitem& item) {
  const ItemRule* rule = rule_of(item.type);
  if (rule == nullptr) {
    return return_error("item unknown (%d,%d,%d)", static_cast<int>(item.type), item.size,
                        item.version);
  }
  const bool size_ok = rule->size == 0 ? item.size >= 1 : item.size == rule->size;
  if (!size_ok) return return_error("%s", rule->size_message);
  if (item.version >= 32 || (rule->versions & (1u << item.version)) == 0) {
    return return_error("%s", rule->version_message);
  }
  return true;
}

bool Pakrel::validate_items(std::uint16_t count, const LASitem* item_list,
                            std::uint16_t point_size) {
  if (count == 0) return return_error("number of items cannot be zero");
  if (item_list == nullptr) return return_error("items pointer cannot be NULL");
  int size = 0;
  for (std::uint16_t i = 0; i < count; i++) {
    if (!validate_item(item_list[i])) return false;
    size += item_list[i].size;
  }
  if (point_size != 0 && point_size != size) {
    return return_error("point has size of %d but items only add up to %d bytes", point_size, size);
  }
  return true;
}

bool Pakrel::classify_items(std::uint16_t count, const LASitem* item_list, std::uint8_t& point_type,
                            std::uint16_t& record_length) {
  point_type = 127;
  record_length = 0;
  if (count == 0) return return_error("less than one LASitem entries");
  if (count > 5) return return_error("more than five LASitem entries");
  if (item_list == nullptr) return return_error("LASitem array is zero");
  for (std::uint16_t i = 0; i < count; i++) {
    record_length = static_cast<std::uint16_t>(record_length + item_list[i].size);
  }
  if (!is(item_list[0], LASitem::POINT10) && !is(item_list[0], LASitem::POINT14)) {
    return_error("first LASitem is neither POINT10 nor POINT14");
    return return_error("LASitem array matches no LAS 1.4 point type");
  }
  point_type = standard_point_type(count, item_list);
  if (point_type == 127) return return_error("LASitem array matches no LAS 1.4 point type");
  return true;
}

const char* Pakrel::apply_version(std::vector<LASitem>& list, std::uint16_t compressor_kind,
                                  std::uint16_t version) {
  if (compressor_kind == COMPRESSOR_RAW) {
    if (version != 0) return "without compression version is always 0";
  } else {
    if (version == 0) return "with compression version is at least 1";
    if (version > 2) return "version larger than 2 not supported";
  }
  for (LASitem& item : list) {
    switch (item.type) {
      case LASitem::BYTE:
      case LASitem::POINT10:
      case LASitem::GPSTIME11:
      case LASitem::RGB12:
        item.version = version;
        break;
      case LASitem::WAVEPACKET13:
        item.version = 1;  // there is no version 2
        break;
      case LASitem::POINT14:
      case LASitem::RGB14:
      case LASitem::RGBNIR14:
      case LASitem::WAVEPACKET14:
      case LASitem::BYTE14:
        item.version = 3;  // the layered codecs are written in version 3
        break;
      default:
        return "item type not supported";
    }
  }
  return nullptr;
}

bool Pakrel::choose_version(std::uint16_t version) {
  if (num_items == 0) return return_error("call setup() before requesting version");
  if (const char* failure = apply_version(items, compressor, version)) {
    return return_error("%s", failure);
  }
  return true;
}

bool Pakrel::change_chunk_size(std::uint32_t points_per_chunk) {
  if (num_items == 0) return return_error("call setup() before setting chunk size");
  if (compressor == COMPRESSOR_PER_POINT) return false;
  chunk_size = points_per_chunk;
  return true;
}

// The record's fields are read and written one after the other, in the order of its layout
// table, which other parts of the project use to find a field: each offset is where the
// field before it ends.
static_assert([] {
  const std::pair<int, std::size_t> fields[] = {
      {kPakrelOffsetCompressor, sizeof(Pakrel::compressor)},
      {kPakrelOffsetCoder, sizeof(Pakrel::coder)},
      {kPakrelOffsetVersionMajor, sizeof(Pakrel::version_major)},
      {kPakrelOffsetVersionMinor, sizeof(Pakrel::version_minor)},
      {kPakrelOffsetVersionRevision, sizeof(Pakrel::version_revision)},
      {kPakrelOffsetOptions, sizeof(Pakrel::options)},
      {kPakrelOffsetChunkSize, sizeof(Pakrel::chunk_size)},
      {kPakrelOffsetSpecialEvlrCount, sizeof(Pakrel::number_of_special_evlrs)},
      {kPakrelOffsetSpecialEvlrStart, sizeof(Pakrel::offset_to_special_evlrs)},
      {kPakrelOffsetNumItems, sizeof(Pakrel::num_items)},
  };
  std::size_t end = 0;
  for (const auto& [offset, size] : fields) {
    if (static_cast<std::size_t>(offset) != end) return false;
    end += size;
  }
  return end == kPakrelFixedSize;
}());
static_assert(kPakrelItemEntrySize == 3 * sizeof(std::uint16_t));

bool read_pakrel_record(ByteStreamIn& stream, Pakrel& codec) {
  // Each field is read by itself so that the message can name the one that is missing.
  auto field = [&](auto& value, const char* name) {
    // Into a copy: a field cut in the middle leaves the descriptor as it was.
    auto read_value = value;
    try {
      read_field(stream, read_value);
      value = read_value;
      return true;
    } catch (const ByteStreamEndOfData&) {
      std::fprintf(stderr, "ERROR: reading %s %d\n", name, static_cast<int>(value));
      return false;
    }
  };
  if (!field(codec.compressor, "compressor")) return false;
  if (!field(codec.coder, "coder")) return false;
  if (!field(codec.version_major, "version_major")) return false;
  if (!field(codec.version_minor, "version_minor")) return false;
  if (!field(codec.version_revision, "version_revision")) return false;
  if (!field(codec.options, "options")) return false;
  if (!field(codec.chunk_size, "chunk_size")) return false;
  if (!field(codec.number_of_special_evlrs, "number_of_special_evlrs")) return false;
  if (!field(codec.offset_to_special_evlrs, "offset_to_special_evlrs")) return false;
  if (!field(codec.num_items, "num_items")) return false;
  // Grown item by item: the count is only believed as far as the bytes are there.
  codec.items.clear();
  for (int i = 0; i < codec.num_items; i++) {
    std::uint16_t entry[3] = {0, 0, 0};  // type, size, version
    static const char* const kNames[3] = {"type", "size", "version"};
    for (int k = 0; k < 3; k++) {
      std::uint16_t value;
      try {
        stream.read16_le(&value);
      } catch (const ByteStreamEndOfData&) {
        std::fprintf(stderr, "ERROR: reading %s %d of item %d\n", kNames[k], entry[k], i);
        return false;
      }
      entry[k] = value;
    }
    LASitem item;
    item.type = static_cast<LASitem::Type>(entry[0]);
    item.size = entry[1];
    item.version = entry[2];
    codec.items.push_back(item);
  }
  return true;
}

bool write_pakrel_record(ByteStreamOut& stream, const Pakrel& codec) {
  auto field = [&](const auto& value, const char* name) {
    if (write_field(stream, value)) return true;
    std::fprintf(stderr, "ERROR: writing %s %d\n", name, static_cast<int>(value));
    return false;
  };
  if (!field(codec.compressor, "compressor")) return false;
  if (!field(codec.coder, "coder")) return false;
  if (!field(codec.version_major, "version_major")) return false;
  if (!field(codec.version_minor, "version_minor")) return false;
  if (!field(codec.version_revision, "version_revision")) return false;
  if (!field(codec.options, "options")) return false;
  if (!field(codec.chunk_size, "chunk_size")) return false;
  if (!field(codec.number_of_special_evlrs, "number_of_special_evlrs")) return false;
  if (!field(codec.offset_to_special_evlrs, "offset_to_special_evlrs")) return false;
  const auto count = static_cast<std::uint16_t>(codec.items.size());
  if (!field(count, "num_items")) return false;
  for (int i = 0; i < count; i++) {
    const auto type = static_cast<std::uint16_t>(codec.items[i].type);
    if (!stream.write16_le(&type)) {
      std::fprintf(stderr, "ERROR: writing type %d of item %d\n", type, i);
      return false;
    }
    if (!stream.write16_le(&codec.items[i].size)) {
      std::fprintf(stderr, "ERROR: writing size %d of item %d\n", codec.items[i].size, i);
      return false;
    }
    if (!stream.write16_le(&codec.items[i].version)) {
      std::fprintf(stderr, "ERROR: writing version %d of item %d\n", codec.items[i].version, i);
      return false;
    }
  }
  return true;
}

bool write_pakrel_vlr(ByteStreamOut& stream, const Pakrel& codec) {
  const std::uint16_t reserved = kPakrelRecordReserved;
  if (!stream.write16_le(&reserved)) {
    std::fprintf(stderr, "ERROR: writing reserved %d\n", reserved);
    return false;
  }
  char user_id[kVlrUserIdSize] = {};
  std::memcpy(user_id, kPakrelUserId, sizeof(kPakrelUserId) - 1);
  if (!stream.write_bytes(user_id, sizeof(user_id))) {
    std::fprintf(stderr, "ERROR: writing user_id %s\n", kPakrelUserId);
    return false;
  }
  const std::uint16_t record_id = kPakrelRecordId;
  if (!stream.write16_le(&record_id)) {
    std::fprintf(stderr, "ERROR: writing record_id %d\n", record_id);
    return false;
  }
  const auto length =
      static_cast<std::uint16_t>(pakrel_record_length(static_cast<int>(codec.items.size())));
  if (!stream.write16_le(&length)) {
    std::fprintf(stderr, "ERROR: writing record_length_after_header %d\n", length);
    return false;
  }
  char description[kVlrDescriptionSize] = {};
  std::snprintf(description, sizeof(description), kPakrelDescriptionFormat, kPakrelToolVersion);
  if (!stream.write_bytes(description, sizeof(description))) {
    std::fprintf(stderr, "ERROR: writing description %s\n", description);
    return false;
  }
  return write_pakrel_record(stream, codec);
}
