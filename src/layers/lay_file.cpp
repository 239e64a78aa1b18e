#include "layers/lay_file.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "model/las_header.hpp"

namespace {

using namespace lay_format;

// CRC-32C, reflected polynomial 0x82F63B78, one table of 256 entries built at compile time.
constexpr std::uint32_t kCrcPolynomial = 0x82F63B78u;

constexpr std::array<std::uint32_t, 256> make_crc_table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t byte = 0; byte < 256; byte++) {
    std::uint32_t crc = byte;
    for (int bit = 0; bit < 8; bit++)
      crc = (crc & 1) != 0 ? (crc >> 1) ^ kCrcPolynomial : crc >> 1;
    table[byte] = crc;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = make_crc_table();

// The checksum of bytes [begin, end) of `data` leaving out the four at `field`.
std::uint32_t checksum_around(const std::uint8_t* data, std::size_t begin, std::size_t field,
                              std::size_t end) {
  const std::uint32_t crc = lay_checksum(data + begin, field - begin);
  return lay_checksum(data + field + kChecksumSize, end - field - kChecksumSize, crc);
}

// FNV-1a, 64 bits: fast enough for a few hundred kilobytes and spreads single-byte changes.
constexpr std::uint64_t kHashStart = 14695981039346656037ull;
constexpr std::uint64_t kHashPrime = 1099511628211ull;

std::uint64_t hash_bytes(std::uint64_t hash, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; i++) {
    hash ^= bytes[i];
    hash *= kHashPrime;
  }
  return hash;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Hashes bytes [from, to) of an open file.
bool hash_range(std::FILE* file, std::uint64_t from, std::uint64_t to, std::uint64_t& hash) {
  if (to <= from) return true;
  if (fseeko(file, static_cast<off_t>(from), SEEK_SET) != 0) return false;
  std::vector<std::uint8_t> buffer(65536);
  std::uint64_t left = to - from;
  while (left > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
    if (std::fread(buffer.data(), 1, want, file) != want) return false;
    hash = hash_bytes(hash, buffer.data(), want);
    left -= want;
  }
  return true;
}

template <typename T>
void put(std::vector<std::uint8_t>& out, std::size_t at, T value) {
  for (std::size_t i = 0; i < sizeof(T); i++)
    out[at + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
}

template <typename T>
T get(const std::uint8_t* data) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < sizeof(T); i++)
    value |= static_cast<std::uint64_t>(data[i]) << (8 * i);
  return static_cast<T>(value);
}

void put_varint(std::vector<std::uint8_t>& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(value));
}

// False when the bytes end first or the value needs more than 64 bits.
bool get_varint(const std::uint8_t*& at, const std::uint8_t* end, std::uint64_t& value) {
  value = 0;
  for (unsigned i = 0; i < kMaxVarintBytes; i++) {
    if (at == end) return false;
    const std::uint8_t byte = *at++;
    const std::uint64_t bits = byte & 0x7F;
    if (i == kMaxVarintBytes - 1 && bits > 1) return false;
    value |= bits << (7 * i);
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

std::vector<std::uint8_t> encode_runs(const LAYlayer& layer) {
  std::vector<std::uint8_t> code;
  const bool valued = lay_has_values(layer.attribute);
  std::uint64_t next = 0;  // first point after the previous run
  bool have_value = false;
  std::uint8_t value = 0;
  for (const LAYrun& run : layer.runs) {
    const bool new_value = valued && (!have_value || run.value != value);
    const bool has_length = run.length > 1;
    put_varint(code, (run.start - next) << kGapShift | (has_length ? kHasLengthBit : 0) |
                         (new_value ? kNewValueBit : 0));
    if (has_length) put_varint(code, run.length - 2);
    if (new_value) {
      code.push_back(run.value);
      value = run.value;
      have_value = true;
    }
    next = run.start + run.length;
  }
  return code;
}

// Decodes `run_count` runs from exactly the bytes [at, end). Point numbers stay below
// `point_count`; the runs' lengths must add up to `change_count`.
bool decode_runs(const std::uint8_t* at, const std::uint8_t* end, LAYlayer& layer,
                 std::uint64_t run_count, std::uint64_t point_count, std::string& failure) {
  const bool valued = lay_has_values(layer.attribute);
  // Every run takes at least one byte, so the count cannot ask for more than the bytes.
  if (run_count > static_cast<std::uint64_t>(end - at)) {
    failure = "more runs than bytes to hold them";
    return false;
  }
  layer.runs.reserve(static_cast<std::size_t>(run_count));
  std::uint64_t next = 0;
  std::uint64_t changes = 0;
  bool have_value = false;
  std::uint8_t value = 0;
  for (std::uint64_t r = 0; r < run_count; r++) {
    std::uint64_t word = 0, length = 1;
    if (!get_varint(at, end, word)) {
      failure = "run code cut short";
      return false;
    }
    if ((word & kHasLengthBit) != 0) {
      if (!get_varint(at, end, length) || length > UINT64_MAX - 2) {
        failure = "run code cut short";
        return false;
      }
      length += 2;
    }
    if ((word & kNewValueBit) != 0) {
      if (!valued || at == end) {
        failure = valued ? "run code cut short" : "a value in a layer of deletions";
        return false;
      }
      value = *at++;
      have_value = true;
    } else if (valued && !have_value) {
      failure = "the first run has no value";
      return false;
    }
    const std::uint64_t gap = word >> kGapShift;
    if (gap > point_count - next || length > point_count - next - gap) {
      failure = "a changed point beyond the " + std::to_string(point_count) + " points of the file";
      return false;
    }
    layer.runs.push_back(LAYrun{next + gap, length, value});
    next += gap + length;
    changes += length;
  }
  if (at != end) {
    failure = "bytes left after the last run";
    return false;
  }
  if (changes != layer.change_count) {
    failure = "the runs hold " + std::to_string(changes) + " changed points, not " +
              std::to_string(layer.change_count);
    return false;
  }
  return true;
}

bool known_attribute(std::uint8_t code) {
  return code >= static_cast<std::uint8_t>(LAYattribute::kClassification) &&
         code <= static_cast<std::uint8_t>(LAYattribute::kDeletion);
}

}  // namespace

std::uint32_t lay_checksum(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
  crc = ~crc;
  for (std::size_t i = 0; i < size; i++)
    crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

bool identify_point_file(const std::string& file_name, const LASheader& header,
                         std::uint64_t point_count, std::uint32_t block_bytes,
                         LAYidentity& identity, std::string& failure) {
  struct stat info {};
  if (stat(file_name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    failure = "cannot read point file '" + file_name + "'";
    return false;
  }
  File file(std::fopen(file_name.c_str(), "rb"));
  if (!file) {
    failure = "cannot read point file '" + file_name + "'";
    return false;
  }
  identity = LAYidentity{};
  identity.file_size = static_cast<std::uint64_t>(info.st_size);
  identity.point_count = point_count;
  identity.point_format = header.point_data_format;
  identity.record_length = header.point_data_record_length;
  identity.point_offset = header.offset_to_point_data;
  identity.head_block = block_bytes;
  identity.tail_block = block_bytes;
  const std::uint64_t size = identity.file_size;
  const std::uint64_t head_end = std::min<std::uint64_t>(
      size, static_cast<std::uint64_t>(identity.point_offset) + block_bytes);
  const std::uint64_t tail_start =
      std::max(head_end, size - std::min<std::uint64_t>(size, block_bytes));
  std::uint64_t hash = kHashStart;
  if (!hash_range(file.get(), 0, head_end, hash) ||
      !hash_range(file.get(), tail_start, size, hash)) {
    failure = "cannot read point file '" + file_name + "'";
    return false;
  }
  identity.hash = hash;
  return true;
}

bool LAYlayer::add_change(std::uint64_t index, std::uint8_t value) {
  if (!lay_has_values(attribute)) value = 0;
  if (!runs.empty()) {
    LAYrun& last = runs.back();
    const std::uint64_t next = last.start + last.length;
    if (index < next) return false;
    if (index == next && last.value == value) {
      last.length++;
      change_count++;
      return true;
    }
  }
  runs.push_back(LAYrun{index, 1, value});
  change_count++;
  return true;
}

std::vector<std::uint8_t> encode_lay_file(const LAYfile& file) {
  std::vector<std::uint8_t> out(kFileHeaderSize, 0);
  std::memcpy(out.data(), kSignature, sizeof(kSignature));
  out[kVersionMajorAt] = kVersionMajor;
  out[kVersionMinorAt] = kVersionMinor;
  put<std::uint16_t>(out, kHeaderSizeAt, kFileHeaderSize);
  put<std::uint32_t>(out, kLayerCountAt, static_cast<std::uint32_t>(file.layers.size()));
  const LAYidentity& id = file.identity;
  put<std::uint64_t>(out, kFileSizeAt, id.file_size);
  put<std::uint64_t>(out, kPointCountAt, id.point_count);
  out[kPointFormatAt] = id.point_format;
  put<std::uint16_t>(out, kRecordLengthAt, id.record_length);
  put<std::uint32_t>(out, kPointOffsetAt, id.point_offset);
  put<std::uint64_t>(out, kHashAt, id.hash);
  put<std::uint32_t>(out, kHeadBlockAt, id.head_block);
  put<std::uint32_t>(out, kTailBlockAt, id.tail_block);
  for (const LAYlayer& layer : file.layers) {
    const std::vector<std::uint8_t> code = encode_runs(layer);
    const std::size_t at = out.size();
    const std::size_t description =
        std::min(layer.description.size(), lay_format::kDescriptionSize);
    const std::size_t command_line =
        std::min<std::size_t>(layer.command_line.size(), kMaxCommandLine);
    const std::size_t parameters = std::min<std::size_t>(layer.parameters.size(), kMaxParameters);
    out.resize(at + kLayerHeaderSize, 0);
    out[at + kAttributeAt] = static_cast<std::uint8_t>(layer.attribute);
    std::memcpy(out.data() + at + kDescriptionAt, layer.description.data(), description);
    put<std::uint32_t>(out, at + kParameterCountAt, static_cast<std::uint32_t>(parameters));
    put<std::uint32_t>(out, at + kCommandLineLengthAt, static_cast<std::uint32_t>(command_line));
    put<std::uint64_t>(out, at + kRunCountAt, layer.runs.size());
    put<std::uint64_t>(out, at + kChangeCountAt, layer.change_count);
    put<std::uint64_t>(out, at + kRunCodeSizeAt, code.size());
    for (std::size_t p = 0; p < parameters; p++) {
      std::uint64_t bits;
      std::memcpy(&bits, &layer.parameters[p], sizeof(bits));
      const std::size_t place = out.size();
      out.resize(place + 8);
      put<std::uint64_t>(out, place, bits);
    }
    out.insert(out.end(), layer.command_line.begin(), layer.command_line.begin() + command_line);
    out.insert(out.end(), code.begin(), code.end());
    put<std::uint32_t>(out, at + kLayerChecksumAt,
                       checksum_around(out.data(), at, at + kLayerChecksumAt, out.size()));
  }
  put<std::uint32_t>(out, kHeaderChecksumAt,
                     checksum_around(out.data(), 0, kHeaderChecksumAt, kFileHeaderSize));
  return out;
}

bool decode_lay_header(const std::uint8_t* data, std::size_t size, LAYidentity& identity,
                       std::uint32_t& layer_count, std::size_t& layers_at, std::string& failure) {
  if (size < kFileHeaderSize || std::memcmp(data, kSignature, sizeof(kSignature)) != 0) {
    failure = size < kFileHeaderSize ? "too short for a LAY file" : "no LAY file signature";
    return false;
  }
  if (data[kVersionMajorAt] != kVersionMajor && data[kVersionMajorAt] != kUncheckedVersionMajor) {
    failure = "LAY version " + std::to_string(data[kVersionMajorAt]) + "." +
              std::to_string(data[kVersionMinorAt]) + " is not readable by this version";
    return false;
  }
  const std::uint16_t header_size = get<std::uint16_t>(data + kHeaderSizeAt);
  if (header_size < kFileHeaderSize || header_size > size) {
    failure = "file header size " + std::to_string(header_size) + " does not fit";
    return false;
  }
  // Checked before anything of it is believed: a damaged identity must not pass for
  // another file's.
  if (lay_file_checked(data) && checksum_around(data, 0, kHeaderChecksumAt, header_size) !=
                                    get<std::uint32_t>(data + kHeaderChecksumAt)) {
    failure = "the file header fails its checksum";
    return false;
  }
  identity.file_size = get<std::uint64_t>(data + kFileSizeAt);
  identity.point_count = get<std::uint64_t>(data + kPointCountAt);
  identity.point_format = data[kPointFormatAt];
  identity.record_length = get<std::uint16_t>(data + kRecordLengthAt);
  identity.point_offset = get<std::uint32_t>(data + kPointOffsetAt);
  identity.hash = get<std::uint64_t>(data + kHashAt);
  identity.head_block = get<std::uint32_t>(data + kHeadBlockAt);
  identity.tail_block = get<std::uint32_t>(data + kTailBlockAt);
  layer_count = get<std::uint32_t>(data + kLayerCountAt);
  layers_at = header_size;
  return true;
}

bool lay_file_checked(const std::uint8_t* data) {
  return data[kVersionMajorAt] != kUncheckedVersionMajor;
}

bool decode_lay_layers(const std::uint8_t* data, std::size_t size, std::size_t layers_at,
                       std::uint32_t layer_count, std::uint64_t point_count,
                       std::uint32_t max_layers, std::vector<LAYlayer>& layers,
                       std::string& failure) {
  layers.clear();
  const bool checked = lay_file_checked(data);
  const std::size_t header_size = checked ? kLayerHeaderSize : kUncheckedLayerHeaderSize;
  if (layer_count > kMaxLayers || layer_count > (size - layers_at) / header_size) {
    failure = std::to_string(layer_count) + " layers do not fit the file";
    return false;
  }
  std::size_t at = layers_at;
  std::vector<LAYlayer> decoded;
  for (std::uint32_t l = 0; l < layer_count; l++) {
    const std::string which = "layer " + std::to_string(l + 1) + ": ";
    if (size - at < header_size) {
      failure = which + "cut short";
      return false;
    }
    const std::size_t layer_at = at;
    const std::uint8_t* header = data + at;
    LAYlayer layer;
    if (!known_attribute(header[kAttributeAt])) {
      failure = which + "unknown attribute " + std::to_string(header[kAttributeAt]);
      return false;
    }
    layer.attribute = static_cast<LAYattribute>(header[kAttributeAt]);
    const char* text = reinterpret_cast<const char*>(header + kDescriptionAt);
    layer.description.assign(text, strnlen(text, lay_format::kDescriptionSize));
    const std::uint32_t parameters = get<std::uint32_t>(header + kParameterCountAt);
    const std::uint32_t command_line = get<std::uint32_t>(header + kCommandLineLengthAt);
    const std::uint64_t run_count = get<std::uint64_t>(header + kRunCountAt);
    layer.change_count = get<std::uint64_t>(header + kChangeCountAt);
    const std::uint64_t code_size = get<std::uint64_t>(header + kRunCodeSizeAt);
    at += header_size;
    if (parameters > kMaxParameters || command_line > kMaxCommandLine) {
      failure =
          which + (parameters > kMaxParameters ? "too many parameters" : "command line too long");
      return false;
    }
    const std::uint64_t left = size - at;
    const std::uint64_t fixed = static_cast<std::uint64_t>(parameters) * 8 + command_line;
    if (fixed > left || code_size > left - fixed) {
      failure = which + "cut short";
      return false;
    }
    // Before any count of the layer is believed (they have been bounded by the bytes only).
    const std::size_t layer_end = at + static_cast<std::size_t>(fixed + code_size);
    if (checked && checksum_around(data, layer_at, layer_at + kLayerChecksumAt, layer_end) !=
                       get<std::uint32_t>(header + kLayerChecksumAt)) {
      failure = which + "fails its checksum";
      return false;
    }
    if (layer.change_count > point_count) {
      failure = which + std::to_string(layer.change_count) + " changed points in a file of " +
                std::to_string(point_count);
      return false;
    }
    for (std::uint32_t p = 0; p < parameters; p++) {
      const std::uint64_t bits = get<std::uint64_t>(data + at + 8 * p);
      double value;
      std::memcpy(&value, &bits, sizeof(value));
      layer.parameters.push_back(value);
    }
    at += static_cast<std::size_t>(parameters) * 8;
    layer.command_line.assign(reinterpret_cast<const char*>(data + at), command_line);
    at += command_line;
    const std::uint8_t* code = data + at;
    at += static_cast<std::size_t>(code_size);
    if (l >= max_layers) continue;  // checked for size only
    std::string reason;
    if (!decode_runs(code, data + at, layer, run_count, point_count, reason)) {
      failure = which + reason;
      return false;
    }
    decoded.push_back(std::move(layer));
  }
  if (at != size) {
    failure = std::to_string(size - at) + " bytes after the last layer";
    return false;
  }
  layers = std::move(decoded);
  return true;
}

std::string lay_file_name(const std::string& point_file_name, const char* directory) {
  const std::size_t separator = point_file_name.find_last_of("/\\:");
  const std::size_t base = separator == std::string::npos ? 0 : separator + 1;
  std::string stem = point_file_name;
  const std::size_t dot = point_file_name.rfind('.');
  // A leading dot names a hidden file, not an extension.
  if (dot != std::string::npos && dot > base) stem.resize(dot);
  stem += kExtension;
  if (directory == nullptr || directory[0] == '\0') return stem;
  std::string name = directory;
  const char last = name.back();
  if (last != '/' && last != '\\' && last != ':') name += '/';
  return name + stem.substr(base);
}

bool read_whole_file(const std::string& file_name, std::vector<std::uint8_t>& bytes,
                     std::string& failure) {
  struct stat info {};
  if (stat(file_name.c_str(), &info) != 0) {
    failure = "no LAY file '" + file_name + "'";
    return false;
  }
  File file(S_ISREG(info.st_mode) ? std::fopen(file_name.c_str(), "rb") : nullptr);
  if (!file) {
    failure = "cannot read LAY file '" + file_name + "'";
    return false;
  }
  bytes.assign(static_cast<std::size_t>(info.st_size), 0);
  if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    failure = "cannot read LAY file '" + file_name + "'";
    bytes.clear();
    return false;
  }
  return true;
}
