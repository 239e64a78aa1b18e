#pragma once

// The contents of a LAY file in memory (see lay_format.hpp for the bytes): what identifies
// the point file it belongs to, and its layers of changed points. Encoding and decoding are
// pure functions over byte buffers; decoding trusts no count of the file and fails with a
// reason text instead of a message, so that the caller chooses how to report.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "layers/lay_format.hpp"

class LASheader;

// What must hold of a point file before a layer may touch it.
struct LAYidentity {
  std::uint64_t file_size = 0;
  std::uint64_t point_count = 0;
  std::uint8_t point_format = 0;
  std::uint16_t record_length = 0;
  std::uint32_t point_offset = 0;
  std::uint64_t hash = 0;
  std::uint32_t head_block = 0;  // bytes hashed after the offset to point data
  std::uint32_t tail_block = 0;  // bytes hashed at the end of the file

  friend bool operator==(const LAYidentity&, const LAYidentity&) = default;
};

// The identity of the point file `file_name` as it is on disk now, with `header` (its
// point format, record length and offset to point data) and `point_count` from its reader.
// Hashes the bytes before the points, the first `block_bytes` of the points and the last
// `block_bytes` of the file, so that a changed header, a changed first or last block, and
// appended or cut points all change the identity. False with `failure` set when the file
// cannot be read.
bool identify_point_file(const std::string& file_name, const LASheader& header,
                         std::uint64_t point_count, std::uint32_t block_bytes,
                         LAYidentity& identity, std::string& failure);

// Consecutive changed points [start, start + length) that all take `value`.
struct LAYrun {
  std::uint64_t start = 0;
  std::uint64_t length = 0;
  std::uint8_t value = 0;
};

// One layer: the attribute it replaces, what made it, and its runs (ascending, apart).
struct LAYlayer {
  LAYattribute attribute = LAYattribute::kClassification;
  std::string description;  // at most kDescriptionSize bytes
  std::vector<double> parameters;
  std::string command_line;  // at most kMaxCommandLine bytes
  std::vector<LAYrun> runs;
  std::uint64_t change_count = 0;

  // Records that point `index` takes `value` (ignored for deletions). False, leaving the
  // layer as it was, when `index` is not beyond every point recorded so far.
  bool add_change(std::uint64_t index, std::uint8_t value);
};

struct LAYfile {
  LAYidentity identity;
  std::vector<LAYlayer> layers;
};

// Whether the attribute's runs carry values.
inline bool lay_has_values(LAYattribute attribute) {
  return attribute != LAYattribute::kDeletion;
}

// CRC-32C (Castagnoli) of `size` bytes, continuing `crc` (0 to start): the checksum of a
// LAY file's header and of each of its layers.
std::uint32_t lay_checksum(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

// The whole file as bytes, in the current version, its checksums computed.
std::vector<std::uint8_t> encode_lay_file(const LAYfile& file);

// The file header: identity and layer count, and where the layers start. False with a
// reason when the bytes are no LAY file of a version this one reads, are cut short or fail
// the header's checksum.
bool decode_lay_header(const std::uint8_t* data, std::size_t size, LAYidentity& identity,
                       std::uint32_t& layer_count, std::size_t& layers_at, std::string& failure);
// Whether a file whose header decoded carries checksums (files of version 1.0 do not).
bool lay_file_checked(const std::uint8_t* data);

// The layers that follow the header, at most `max_layers` of them (the rest are checked but
// not decoded). Every layer must pass its checksum (in a file that has them), every point
// number must lie below `point_count`, every count must agree with the runs and the bytes,
// and the layers must end exactly at the end of the file. False with a reason (and `layers`
// left empty) otherwise.
bool decode_lay_layers(const std::uint8_t* data, std::size_t size, std::size_t layers_at,
                       std::uint32_t layer_count, std::uint64_t point_count,
                       std::uint32_t max_layers, std::vector<LAYlayer>& layers,
                       std::string& failure);

// The LAY file that belongs to `point_file_name`: its name with ".lay" in place of its
// extension (or added when it has none), in `directory` when one is given (null or empty:
// beside the point file). "/", "\\" and ":" end a directory part.
std::string lay_file_name(const std::string& point_file_name, const char* directory);

// Reads a whole file; false with a reason when it cannot be opened or read.
bool read_whole_file(const std::string& file_name, std::vector<std::uint8_t>& bytes,
                     std::string& failure);
