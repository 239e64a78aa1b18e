#pragma once

#include <cstdint>

// The codec descriptor as it travels in a compressed LAS file: one variable-length record
// whose payload is the descriptor, little-endian. The reader recognises the record by its
// user id alone; the writer fills the head as below.

// VLR head written in front of the payload.
inline constexpr std::uint16_t kPakrelRecordReserved = 43707;  // 0xAABB
inline constexpr char kPakrelUserId[] = "pakrel encoded";      // zero padded to 16 bytes
inline constexpr std::uint16_t kPakrelRecordId = 22204;
inline constexpr char kPakrelDescriptionFormat[] = "by pakrel of Brindlex (%d)";  // padded to 32
inline constexpr int kPakrelToolVersion = 200509;
inline constexpr int kVlrUserIdSize = 16;
inline constexpr int kVlrDescriptionSize = 32;

// Payload: 34 fixed bytes, then 6 bytes (type, size, version as uint16) per item.
inline constexpr int kPakrelOffsetCompressor = 0;         // uint16
inline constexpr int kPakrelOffsetCoder = 2;              // uint16
inline constexpr int kPakrelOffsetVersionMajor = 4;       // uint8
inline constexpr int kPakrelOffsetVersionMinor = 5;       // uint8
inline constexpr int kPakrelOffsetVersionRevision = 6;    // uint16
inline constexpr int kPakrelOffsetOptions = 8;            // uint32
inline constexpr int kPakrelOffsetChunkSize = 12;         // uint32
inline constexpr int kPakrelOffsetSpecialEvlrCount = 16;  // int64
inline constexpr int kPakrelOffsetSpecialEvlrStart = 24;  // int64
inline constexpr int kPakrelOffsetNumItems = 32;          // uint16
inline constexpr int kPakrelFixedSize = 34;
inline constexpr int kPakrelItemEntrySize = 6;

// record_length_after_header of a descriptor with `num_items` items.
constexpr int pakrel_record_length(int num_items) {
  return kPakrelFixedSize + kPakrelItemEntrySize * num_items;
}
