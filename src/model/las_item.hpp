#pragma once

#include <cstdint>

// One part of a point record: its type, its size in bytes and the codec version that
// stores it (0 = raw). On disk, inside the codec record, each entry is three uint16:
// type, size, version.
struct LASitem {
  enum Type : std::uint32_t {
    BYTE = 0,
    POINT10 = 6,
    GPSTIME11 = 7,
    RGB12 = 8,
    WAVEPACKET13 = 9,
    POINT14 = 10,
    RGB14 = 11,
    RGBNIR14 = 12,
    WAVEPACKET14 = 13,
    BYTE14 = 14,
  };

  Type type = BYTE;
  std::uint16_t size = 0;
  std::uint16_t version = 0;

  friend bool operator==(const LASitem&, const LASitem&) = default;

  // Fixed byte size of an item type, 0 for the byte items (any size) and non-item values.
  static std::uint16_t fixed_size(Type type);
  // "POINT10", "BYTE14", ...; "UNKNOWN" for values that are no item type.
  static const char* type_name(Type type);
  // True for the values of the enumeration (1-5 and above 14 are not item types).
  static bool is_item_type(std::uint32_t value);
};
