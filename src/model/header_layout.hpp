#pragma once

#include <bit>
#include <cstdint>
#include <string_view>

// The byte layout of a LAS file's header, its variable-length records (VLRs) and extended
// variable-length records (EVLRs), and the records this system interprets. The header model,
// the LAS reader and the LAS writer all take their numbers from here. Every field is stored
// little-endian; the in-memory records copy bytes straight into host values.

static_assert(std::endian::native == std::endian::little,
              "header and record payloads are copied byte for byte into host values");

// ---- Fixed header fields: offset from the first byte of the file ----------------------------
inline constexpr std::uint32_t kOffsetFileSignature = 0;                     // 4 bytes "LASF"
inline constexpr std::uint32_t kOffsetFileSourceId = 4;                      // uint16
inline constexpr std::uint32_t kOffsetGlobalEncoding = 6;                    // uint16
inline constexpr std::uint32_t kOffsetProjectIdGuid = 8;                     // 16 bytes
inline constexpr std::uint32_t kOffsetVersionMajor = 24;                     // uint8
inline constexpr std::uint32_t kOffsetVersionMinor = 25;                     // uint8
inline constexpr std::uint32_t kOffsetSystemIdentifier = 26;                 // 32 bytes
inline constexpr std::uint32_t kOffsetGeneratingSoftware = 58;               // 32 bytes
inline constexpr std::uint32_t kOffsetFileCreationDay = 90;                  // uint16
inline constexpr std::uint32_t kOffsetFileCreationYear = 92;                 // uint16
inline constexpr std::uint32_t kOffsetHeaderSize = 94;                       // uint16
inline constexpr std::uint32_t kOffsetOffsetToPointData = 96;                // uint32
inline constexpr std::uint32_t kOffsetNumberOfVlrs = 100;                    // uint32
inline constexpr std::uint32_t kOffsetPointDataFormat = 104;                 // uint8
inline constexpr std::uint32_t kOffsetPointDataRecordLength = 105;           // uint16
inline constexpr std::uint32_t kOffsetNumberOfPointRecords = 107;            // uint32, patched
inline constexpr std::uint32_t kOffsetNumberOfPointsByReturn = 111;          // 5 x uint32
inline constexpr std::uint32_t kOffsetScaleFactors = 131;                    // 3 x float64
inline constexpr std::uint32_t kOffsetOffsets = 155;                         // 3 x float64
inline constexpr std::uint32_t kOffsetBoundingBox = 179;                     // 6 x float64, patched
inline constexpr std::uint32_t kOffsetStartOfWaveformData = 227;             // uint64, LAS 1.3
inline constexpr std::uint32_t kOffsetStartOfFirstEvlr = 235;                // uint64, patched
inline constexpr std::uint32_t kOffsetNumberOfEvlrs = 243;                   // uint32
inline constexpr std::uint32_t kOffsetExtendedNumberOfPointRecords = 247;    // uint64, patched
inline constexpr std::uint32_t kOffsetExtendedNumberOfPointsByReturn = 255;  // 15 x uint64

// The first four bytes of every LAS file, compressed or not.
inline constexpr std::string_view kFileSignature = "LASF";

// Size of the standard part of the header by version; the rest up to `header_size` is user
// data in the header.
inline constexpr std::uint16_t kHeaderSize10 = 227;  // LAS 1.0 - 1.2
inline constexpr std::uint16_t kHeaderSize13 = 235;  // LAS 1.3: + waveform start
inline constexpr std::uint16_t kHeaderSize14 = 375;  // LAS 1.4: + EVLRs and 64-bit counts

static_assert(kOffsetBoundingBox + 6 * 8 == kHeaderSize10);
static_assert(kOffsetStartOfWaveformData + 8 == kHeaderSize13);
static_assert(kOffsetExtendedNumberOfPointsByReturn + 15 * 8 == kHeaderSize14);
static_assert(kOffsetNumberOfPointsByReturn + 5 * 4 == kOffsetScaleFactors);

inline constexpr int kLegacyReturnCount = 5;     // number_of_points_by_return
inline constexpr int kExtendedReturnCount = 15;  // extended_number_of_points_by_return

// The standard part of the header a version carries (minor 0-2: 227, 3: 235, 4 and up: 375).
constexpr std::uint16_t standard_header_size(std::uint8_t version_minor) {
  return version_minor >= 4 ? kHeaderSize14 : version_minor == 3 ? kHeaderSize13 : kHeaderSize10;
}

// ---- Record heads ---------------------------------------------------------------------------
inline constexpr std::uint32_t kUserIdSize = 16;
inline constexpr std::uint32_t kDescriptionSize = 32;

// VLR: reserved uint16, user_id, record_id uint16, record_length_after_header uint16,
// description, then the payload.
inline constexpr std::uint32_t kVlrHeadSize = 54;
inline constexpr std::uint32_t kVlrOffsetUserId = 2;
inline constexpr std::uint32_t kVlrOffsetRecordId = 18;
inline constexpr std::uint32_t kVlrOffsetRecordLength = 20;
inline constexpr std::uint32_t kVlrOffsetDescription = 22;
static_assert(kVlrOffsetDescription + kDescriptionSize == kVlrHeadSize);

// EVLR: as a VLR, but with a uint64 record_length_after_header.
inline constexpr std::uint32_t kEvlrHeadSize = 60;
inline constexpr std::uint32_t kEvlrOffsetUserId = 2;
inline constexpr std::uint32_t kEvlrOffsetRecordId = 18;
inline constexpr std::uint32_t kEvlrOffsetRecordLength = 20;
inline constexpr std::uint32_t kEvlrOffsetDescription = 28;
static_assert(kEvlrOffsetDescription + kDescriptionSize == kEvlrHeadSize);

// The 16-bit length field bounds every VLR payload.
inline constexpr std::uint32_t kMaxVlrPayload = 65535;

// ---- Records the system interprets ----------------------------------------------------------
inline constexpr std::string_view kUserIdProjection = "LASF_Projection";
inline constexpr std::uint16_t kRecordGeoKeyDirectory = 34735;
inline constexpr std::uint16_t kRecordGeoDoubleParams = 34736;
inline constexpr std::uint16_t kRecordGeoAsciiParams = 34737;
inline constexpr std::uint16_t kRecordWktMathTransform = 2111;
inline constexpr std::uint16_t kRecordWktCoordinateSystem = 2112;

inline constexpr std::string_view kUserIdSpec = "LASF_Spec";
inline constexpr std::uint16_t kRecordClassificationLookup = 0;
inline constexpr std::uint16_t kRecordExtraBytes = 4;
inline constexpr std::uint16_t kRecordWavePacketFirst = 100;  // descriptor index 1
inline constexpr std::uint16_t kRecordWavePacketLast = 354;   // descriptor index 255
// Descriptor index = record id - 99; index 0 in a point means "no wave packet".
inline constexpr std::uint16_t kWavePacketIndexBase = 99;
inline constexpr int kWavePacketDescriptorSlots = 256;

inline constexpr std::string_view kUserIdCodec = "pakrel encoded";
inline constexpr std::uint16_t kRecordCodec = 22204;

inline constexpr std::string_view kUserIdSuite = "Brindlex";
inline constexpr std::string_view kUserIdSuiteTile = "brindlex tile";
inline constexpr std::uint16_t kRecordTiling = 10;
inline constexpr std::uint16_t kRecordOriginal = 20;
inline constexpr std::uint16_t kRecordSpatialIndex = 30;  // EVLR of the suite
// Suite records with an id below this one are absorbed into the header's typed records.
inline constexpr std::uint16_t kSuiteRecordAbsorbedBelow = 2000;
// `reserved` value of the records the writer adds itself.
inline constexpr std::uint16_t kSuiteReserved = 43707;
// Description of a record put without one.
inline constexpr std::string_view kDefaultVlrDescription = "by Brindlex of Quillarena GmbH";

// ---- Payload sizes --------------------------------------------------------------------------
inline constexpr std::uint32_t kGeoKeyEntrySize = 8;     // four uint16, also the directory head
inline constexpr std::uint32_t kGeoKeysMaxCount = 8190;  // 8 x (8190 + 1) fits 65535
inline constexpr std::uint32_t kGeoDoubleParamsMaxCount = 8191;  // 8 x 8191 fits 65535
inline constexpr std::uint32_t kAttributeDescriptorSize = 192;
inline constexpr std::uint32_t kMaxAttributesPerVlr = 341;  // 192 x 342 exceeds 65535
inline constexpr std::uint32_t kWavePacketDescriptorSize = 26;
inline constexpr std::uint32_t kTilingPayloadSize = 28;
inline constexpr std::uint32_t kOriginalPayloadSize = 176;

static_assert(kGeoKeyEntrySize * (kGeoKeysMaxCount + 1) <= kMaxVlrPayload);
static_assert(kGeoKeyEntrySize * (kGeoKeysMaxCount + 2) > kMaxVlrPayload);
static_assert(8 * kGeoDoubleParamsMaxCount <= kMaxVlrPayload);
static_assert(kAttributeDescriptorSize * kMaxAttributesPerVlr <= kMaxVlrPayload);
static_assert(kAttributeDescriptorSize * (kMaxAttributesPerVlr + 1) > kMaxVlrPayload);
