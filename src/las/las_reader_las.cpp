#include "las/las_reader_las.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "codec/pakrel.hpp"
#include "model/header_layout.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_in_file.hpp"

namespace {

LASreaderLAS::EmbeddedIndexLoader g_embedded_index_loader = nullptr;

// One little-endian header field; a missing one prints "ERROR: reading header.<name>".
template <typename T>
bool read_field(ByteStreamIn& stream, T& value, const char* name) {
  try {
    stream.read_bytes(&value, sizeof(T));
    return true;
  } catch (const ByteStreamEndOfData&) {
    std::fprintf(stderr, "ERROR: reading header.%s\n", name);
    return false;
  }
}

// Reads `length` bytes into `data`. The length comes from the file and is not believed: the
// buffer grows only as far as bytes arrive, so a record that claims gigabytes in a short
// file costs no more memory than the file holds.
bool read_payload(ByteStreamIn& stream, std::vector<std::uint8_t>& data, std::uint64_t length) {
  constexpr std::uint64_t kStep = 1 << 20;
  data.clear();
  try {
    while (data.size() < length) {
      const std::size_t have = data.size();
      const std::size_t more = static_cast<std::size_t>(std::min(kStep, length - have));
      data.resize(have + more);
      stream.read_bytes(data.data() + have, more);
    }
    return true;
  } catch (const ByteStreamEndOfData&) {
    data.clear();
    data.shrink_to_fit();
    return false;
  }
}

template <typename T>
T load(const std::uint8_t* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

LASvlrTiling unpack_tiling(const std::uint8_t* payload) {
  LASvlrTiling tiling;
  tiling.level = load<std::uint32_t>(payload);
  tiling.level_index = load<std::uint32_t>(payload + 4);
  tiling.unpack_levels(load<std::uint32_t>(payload + 8));
  tiling.min_x = load<float>(payload + 12);
  tiling.max_x = load<float>(payload + 16);
  tiling.min_y = load<float>(payload + 20);
  tiling.max_y = load<float>(payload + 24);
  return tiling;
}

LASvlrOriginal unpack_original(const std::uint8_t* payload) {
  LASvlrOriginal original;
  original.number_of_point_records = load<std::uint64_t>(payload);
  for (int i = 0; i < kExtendedReturnCount; i++) {
    original.number_of_points_by_return[i] = load<std::uint64_t>(payload + 8 + 8 * i);
  }
  const std::uint8_t* bounds = payload + 8 + 8 * kExtendedReturnCount;
  original.min_x = load<double>(bounds);
  original.max_x = load<double>(bounds + 8);
  original.min_y = load<double>(bounds + 16);
  original.max_y = load<double>(bounds + 24);
  original.min_z = load<double>(bounds + 32);
  original.max_z = load<double>(bounds + 40);
  return original;
}

// The codec record from its payload. The field messages name what the payload lacks.
bool parse_codec(const std::vector<std::uint8_t>& payload, LASheader& header) {
  ByteStreamInArray bytes(payload.data(), static_cast<std::int64_t>(payload.size()));
  auto codec = std::make_shared<Pakrel>();
  if (!read_pakrel_record(bytes, *codec)) return false;
  header.codec = std::move(codec);
  return true;
}

}  // namespace

void LASreaderLAS::set_embedded_index_loader(EmbeddedIndexLoader loader) {
  g_embedded_index_loader = loader;
}

LASreaderLAS::LASreaderLAS() = default;

LASreaderLAS::~LASreaderLAS() {
  if (engine_ || stream_) close_reader(true);
}

int LASreaderLAS::format_code() const {
  return compressed_ ? 2 : 1;
}

void LASreaderLAS::release_stream() {
  stream_ = nullptr;
  owned_stream_.reset();
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

bool LASreaderLAS::open_file(const char* file_name, int stream_buffer_size, bool header_only,
                             std::uint32_t selective_decoding) {
  if (file_name == nullptr) {
    std::fprintf(stderr, "ERROR: file name pointer is zero\n");
    return false;
  }
  close_reader(true);
  file_ = std::fopen(file_name, "rb");
  if (file_ == nullptr) {
    std::fprintf(stderr, "ERROR: cannot open file '%s' for read: %s\n", file_name,
                 std::strerror(errno));
    return false;
  }
  file_name_ = file_name;
  if (stream_buffer_size > 0 &&
      std::setvbuf(file_, nullptr, _IOFBF, static_cast<std::size_t>(stream_buffer_size)) != 0) {
    std::fprintf(stderr, "WARNING: setvbuf() failed with buffer size %d\n", stream_buffer_size);
  }
  owned_stream_ = std::make_unique<ByteStreamInFileLE>(file_);
  return open_stream(owned_stream_.get(), header_only, selective_decoding);
}

bool LASreaderLAS::open_handle(std::FILE* file, bool header_only,
                               std::uint32_t selective_decoding) {
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: file pointer is zero\n");
    return false;
  }
  // Standard input is already untranslated on the systems we build for.
  close_reader(true);
  owned_stream_ = std::make_unique<ByteStreamInFileLE>(file);
  return open_stream(owned_stream_.get(), header_only, selective_decoding);
}

bool LASreaderLAS::open_stream(std::unique_ptr<ByteStreamIn> stream, bool header_only,
                               std::uint32_t selective_decoding) {
  if (!stream) {
    std::fprintf(stderr, "ERROR: ByteStreamIn* pointer is zero\n");
    return false;
  }
  close_reader(true);
  owned_stream_ = std::move(stream);
  return open_stream(owned_stream_.get(), header_only, selective_decoding);
}

bool LASreaderLAS::open_stream(ByteStreamIn* stream, bool header_only,
                               std::uint32_t selective_decoding) {
  if (stream == nullptr) {
    std::fprintf(stderr, "ERROR: ByteStreamIn* pointer is zero\n");
    return false;
  }
  engine_.reset();
  if (stream != owned_stream_.get()) {
    // A borrowed stream: whatever this reader owned belonged to an earlier file.
    release_stream();
    file_name_.clear();
  }
  stream_ = stream;
  header.reset();
  point.reset();
  // An index belongs to the file it was made for: a stale one would hide points.
  attach_index(nullptr);
  points_total = 0;
  points_done = 0;
  end_tested_ = false;
  compressed_ = false;
  read_failed_ = false;

  if (!read_header_fields()) return false;
  // A count beyond any file would turn negative and hide every point: the reader then
  // reads what is there and reports the shortfall.
  points_total = static_cast<std::int64_t>(
      std::min<std::uint64_t>(header.point_count(), std::numeric_limits<std::int64_t>::max()));
  points_done = 0;
  if (header_only) {
    header.point_data_format &= 0x7F;
    return true;
  }
  if (!read_vlrs()) return false;
  if (!read_evlrs()) return false;

  Pakrel* codec = header.codec.get();
  if (codec != nullptr && !codec->validate(header.point_data_record_length)) {
    std::fprintf(stderr, "ERROR: %s\n", codec->error_text() ? codec->error_text() : "");
    std::fprintf(stderr, "       please upgrade to the latest release of Brindlex (with Pakrel)\n");
    return false;
  }
  if (header.point_data_format > 63) {
    if (codec == nullptr) {
      std::fprintf(stderr,
                   "ERROR: this file was compressed with an experimental version of "
                   "pakrel\n");
      return false;
    }
    header.point_data_format &= 0x7F;
  }
  compressed_ = codec != nullptr && codec->compressor != Pakrel::COMPRESSOR_RAW;
  if (!open_point_engine(selective_decoding)) return false;
  if (compressed_) read_special_evlrs();
  if (!engine_->attach(stream_)) {
    std::fprintf(stderr, "ERROR: cannot start reading the points\n");
    return false;
  }
  end_tested_ = false;
  choose_read_routines();
  return true;
}

bool LASreaderLAS::read_header_fields() {
  ByteStreamIn& in = *stream_;
  LASheader& h = header;
  if (!read_field(in, h.file_signature, "file_signature")) return false;
  if (!read_field(in, h.file_source_ID, "file_source_ID")) return false;
  if (!read_field(in, h.global_encoding, "global_encoding")) return false;
  if (!read_field(in, h.project_ID_GUID_data_1, "project_ID_GUID_data_1")) return false;
  if (!read_field(in, h.project_ID_GUID_data_2, "project_ID_GUID_data_2")) return false;
  if (!read_field(in, h.project_ID_GUID_data_3, "project_ID_GUID_data_3")) return false;
  if (!read_field(in, h.project_ID_GUID_data_4, "project_ID_GUID_data_4")) return false;
  if (!read_field(in, h.version_major, "version_major")) return false;
  if (!read_field(in, h.version_minor, "version_minor")) return false;
  if (!read_field(in, h.system_identifier, "system_identifier")) return false;
  if (!read_field(in, h.generating_software, "generating_software")) return false;
  if (!read_field(in, h.file_creation_day, "file_creation_day")) return false;
  if (!read_field(in, h.file_creation_year, "file_creation_year")) return false;
  if (!read_field(in, h.header_size, "header_size")) return false;
  if (!read_field(in, h.offset_to_point_data, "offset_to_point_data")) return false;
  if (!read_field(in, h.number_of_variable_length_records, "number_of_variable_length_records")) {
    return false;
  }
  if (!read_field(in, h.point_data_format, "point_data_format")) return false;
  if (!read_field(in, h.point_data_record_length, "point_data_record_length")) return false;
  if (!read_field(in, h.number_of_point_records, "number_of_point_records")) return false;
  for (int i = 0; i < kLegacyReturnCount; i++) {
    try {
      in.read32_le(&h.number_of_points_by_return[i]);
    } catch (const ByteStreamEndOfData&) {
      std::fprintf(stderr, "ERROR: reading header.number_of_points_by_return %d\n", i);
      return false;
    }
  }
  if (!read_field(in, h.x_scale_factor, "x_scale_factor")) return false;
  if (!read_field(in, h.y_scale_factor, "y_scale_factor")) return false;
  if (!read_field(in, h.z_scale_factor, "z_scale_factor")) return false;
  if (!read_field(in, h.x_offset, "x_offset")) return false;
  if (!read_field(in, h.y_offset, "y_offset")) return false;
  if (!read_field(in, h.z_offset, "z_offset")) return false;
  if (!read_field(in, h.max_x, "max_x")) return false;
  if (!read_field(in, h.min_x, "min_x")) return false;
  if (!read_field(in, h.max_y, "max_y")) return false;
  if (!read_field(in, h.min_y, "min_y")) return false;
  if (!read_field(in, h.max_z, "max_z")) return false;
  if (!read_field(in, h.min_z, "min_z")) return false;

  if (!h.verify()) return false;

  int user_data_size = h.header_size - kHeaderSize10;
  if (h.version_major == 1 && h.version_minor >= 3) {
    if (h.header_size < kHeaderSize13) {
      std::fprintf(stderr,
                   "WARNING: for LAS 1.%d header_size should at least be 235 but it is only %d\n",
                   h.version_minor, h.header_size);
    } else {
      if (!read_field(in, h.start_of_waveform_data_packet_record,
                      "start_of_waveform_data_packet_record")) {
        return false;
      }
      user_data_size = h.header_size - kHeaderSize13;
    }
  }
  if (h.version_major == 1 && h.version_minor >= 4) {
    if (h.header_size < kHeaderSize14) {
      std::fprintf(stderr,
                   "ERROR: for LAS 1.%d header_size should at least be 375 but it is only %d\n",
                   h.version_minor, h.header_size);
      return false;
    }
    if (!read_field(in, h.start_of_first_extended_variable_length_record,
                    "start_of_first_extended_variable_length_record")) {
      return false;
    }
    if (!read_field(in, h.number_of_extended_variable_length_records,
                    "number_of_extended_variable_length_records")) {
      return false;
    }
    if (!read_field(in, h.extended_number_of_point_records, "extended_number_of_point_records")) {
      return false;
    }
    for (int i = 0; i < kExtendedReturnCount; i++) {
      try {
        in.read64_le(&h.extended_number_of_points_by_return[i]);
      } catch (const ByteStreamEndOfData&) {
        std::fprintf(stderr, "ERROR: reading header.extended_number_of_points_by_return[%d]\n", i);
        return false;
      }
    }
    user_data_size = h.header_size - kHeaderSize14;
  }
  if (user_data_size > 0 &&
      !read_payload(in, h.user_data_in_header, static_cast<std::uint64_t>(user_data_size))) {
    std::fprintf(stderr, "ERROR: reading %d bytes of data into header.user_data_in_header\n",
                 user_data_size);
    return false;
  }
  return true;
}

bool LASreaderLAS::read_vlrs() {
  ByteStreamIn& in = *stream_;
  LASheader& h = header;
  std::int64_t vlrs_size = 0;
  // Bytes the VLRs may still take before the points begin.
  auto room = [&] {
    return static_cast<std::int64_t>(h.offset_to_point_data) - h.header_size - vlrs_size;
  };
  for (std::uint32_t i = 0; i < h.number_of_variable_length_records;) {
    if (room() < kVlrHeadSize) {
      std::fprintf(stderr,
                   "WARNING: only %d bytes until point block after reading %d of %d vlrs. "
                   "skipping remaining vlrs ...\n",
                   static_cast<int>(room()), static_cast<int>(i),
                   static_cast<int>(h.number_of_variable_length_records));
      h.number_of_variable_length_records = i;
      break;
    }
    LASvlrEntry vlr;
    const char* missing = nullptr;
    try {
      missing = "reserved";
      in.read16_le(&vlr.reserved);
      missing = "user_id";
      in.read_bytes(vlr.user_id, kUserIdSize);
      missing = "record_id";
      in.read16_le(&vlr.record_id);
      missing = "record_length_after_header";
      in.read16_le(&vlr.record_length_after_header);
      missing = "description";
      in.read_bytes(vlr.description, kDescriptionSize);
    } catch (const ByteStreamEndOfData&) {
      std::fprintf(stderr, "ERROR: reading header.vlrs[%d].%s\n", static_cast<int>(i), missing);
      return false;
    }
    vlrs_size += kVlrHeadSize;
    if (vlr.record_length_after_header > room()) {
      std::fprintf(stderr,
                   "WARNING: only %d bytes until point block when trying to read %d bytes into "
                   "header.vlrs[%d].data\n",
                   static_cast<int>(room()), vlr.record_length_after_header, static_cast<int>(i));
      vlr.record_length_after_header = static_cast<std::uint16_t>(room());
    }
    const std::uint16_t length = vlr.record_length_after_header;
    if (length > 0) {
      if (!read_payload(in, vlr.data, length)) {
        std::fprintf(stderr, "ERROR: reading %d bytes of data into header.vlrs[%d].data\n", length,
                     static_cast<int>(i));
        return false;
      }
      if (vlr.has_user_id(kUserIdCodec)) {
        if (!parse_codec(vlr.data, h)) return false;
      } else if ((vlr.is(kUserIdSuite, kRecordTiling)) || vlr.has_user_id(kUserIdSuiteTile)) {
        if (length != kTilingPayloadSize) {
          std::fprintf(stderr,
                       "ERROR: record_length_after_header of VLR %s (%d) is %d instead of 28\n",
                       std::string(vlr.user_id_text()).c_str(), vlr.record_id, length);
          return false;
        }
        h.vlr_rivudover = unpack_tiling(vlr.data.data());
      } else if (vlr.is(kUserIdSuite, kRecordOriginal)) {
        if (length != kOriginalPayloadSize) {
          std::fprintf(stderr,
                       "ERROR: record_length_after_header of VLR %s (%d) is %d instead of 176\n",
                       std::string(vlr.user_id_text()).c_str(), vlr.record_id, length);
          return false;
        }
        h.vlr_lasoriginal = unpack_original(vlr.data.data());
      }
    }
    vlrs_size += length;
    const bool absorbed = LASheader::is_absorbed_vlr(vlr);
    if (absorbed) vlr.data = {};  // its contents live in the header's typed members now
    h.vlrs.push_back(std::move(vlr));
    if (absorbed) {
      // Taken out again: the header describes the file without it, and the next VLR of the
      // file is read into this slot.
      h.drop_vlr_at(h.vlrs.size() - 1);
      vlrs_size -= kVlrHeadSize + length;
      continue;
    }
    h.interpret_vlr(h.vlrs.size() - 1);
    i++;
  }
  const std::int64_t trailing = room();
  if (trailing > 0 &&
      !read_payload(in, h.user_data_after_header, static_cast<std::uint64_t>(trailing))) {
    std::fprintf(stderr, "ERROR: reading %d bytes of data into header.user_data_after_header\n",
                 static_cast<int>(trailing));
    return false;
  }
  return true;
}

bool LASreaderLAS::read_evlrs() {
  LASheader& h = header;
  if (!(h.version_major == 1 && h.version_minor >= 4) ||
      h.number_of_extended_variable_length_records == 0) {
    return true;
  }
  ByteStreamIn& in = *stream_;
  if (!in.can_seek()) {
    std::fprintf(stderr, "WARNING: LAS %d.%d file has %d EVLRs but stream is not seekable ...\n",
                 h.version_major, h.version_minor,
                 static_cast<int>(h.number_of_extended_variable_length_records));
    // Skipped: the header lists none, so a copy does not announce records it lacks.
    h.number_of_extended_variable_length_records = 0;
    return true;
  }
  const std::int64_t points_start = in.position();
  const auto evlrs_start =
      static_cast<std::int64_t>(h.start_of_first_extended_variable_length_record);
  if (!in.seek_to(evlrs_start)) {
    // A stream held in memory refuses a seek past its end: the records were cut off, which
    // fails the open as it does for a file.
    if (in.seek_from_end(0) && in.position() < evlrs_start) {
      std::fprintf(stderr, "ERROR: reading header.evlrs[0]: the stream ends at byte %lld\n",
                   static_cast<long long>(in.position()));
      return false;
    }
    // A stream that claims to seek but cannot (a pipe handed over as a FILE).
    std::fprintf(stderr, "WARNING: LAS %d.%d file has %d EVLRs but stream is not seekable ...\n",
                 h.version_major, h.version_minor,
                 static_cast<int>(h.number_of_extended_variable_length_records));
    h.number_of_extended_variable_length_records = 0;
    return true;
  }
  for (std::uint32_t i = 0; i < h.number_of_extended_variable_length_records;) {
    LASevlrEntry evlr;
    const char* missing = nullptr;
    try {
      missing = "reserved";
      in.read16_le(&evlr.reserved);
      missing = "user_id";
      in.read_bytes(evlr.user_id, kUserIdSize);
      missing = "record_id";
      in.read16_le(&evlr.record_id);
      missing = "record_length_after_header";
      in.read64_le(&evlr.record_length_after_header);
      missing = "description";
      in.read_bytes(evlr.description, kDescriptionSize);
    } catch (const ByteStreamEndOfData&) {
      std::fprintf(stderr, "ERROR: reading header.evlrs[%d].%s\n", static_cast<int>(i), missing);
      return false;
    }
    const std::uint64_t length = evlr.record_length_after_header;
    if (length > 0) {
      if (evlr.is(kUserIdSuite, kRecordTiling) && length != kTilingPayloadSize) {
        std::fprintf(stderr,
                     "ERROR: record_length_after_header of EVLR %s (%d) is %u instead of 28\n",
                     std::string(evlr.user_id_text()).c_str(), evlr.record_id,
                     static_cast<unsigned>(length));
        return false;
      }
      if (!read_payload(in, evlr.data, length)) {
        std::fprintf(stderr, "ERROR: reading %d bytes of data into header.evlrs[%d].data\n",
                     static_cast<int>(length), static_cast<int>(i));
        return false;
      }
      if (evlr.has_user_id(kUserIdCodec)) {
        if (!parse_codec(evlr.data, h)) return false;
      } else if (evlr.is(kUserIdSuite, kRecordTiling)) {
        h.vlr_rivudover = unpack_tiling(evlr.data.data());
      }
    }
    const bool absorbed = LASheader::is_absorbed_evlr(evlr);
    if (absorbed) evlr.data = {};
    h.evlrs.push_back(std::move(evlr));
    if (absorbed) {
      h.drop_evlr_at(h.evlrs.size() - 1);
      continue;
    }
    h.interpret_evlr(h.evlrs.size() - 1);
    i++;
  }
  if (!in.seek_to(points_start)) {
    std::fprintf(stderr, "ERROR: cannot seek back to the points after reading the EVLRs\n");
    return false;
  }
  return true;
}

void LASreaderLAS::read_special_evlrs() {
  const Pakrel& codec = *header.codec;
  ByteStreamIn& in = *stream_;
  if (codec.number_of_special_evlrs <= 0 ||
      codec.offset_to_special_evlrs < static_cast<std::int64_t>(header.offset_to_point_data) ||
      !in.can_seek()) {
    return;
  }
  const std::int64_t points_start = in.position();
  try {
    std::int64_t head = codec.offset_to_special_evlrs;
    for (std::int64_t i = 0; i < codec.number_of_special_evlrs; i++) {
      if (!in.seek_to(head + 2)) throw ByteStreamEndOfData{};
      char user_id[kUserIdSize];
      in.read_bytes(user_id, kUserIdSize);
      std::uint16_t record_id = 0;
      in.read16_le(&record_id);
      std::uint64_t length = 0;
      in.read64_le(&length);
      const bool index_record = LASevlrEntry::fixed_text(user_id, kUserIdSize) == kUserIdSuite &&
                                record_id == kRecordSpatialIndex;
      if (index_record && g_embedded_index_loader != nullptr) {
        if (!in.seek_to(head + kEvlrHeadSize)) throw ByteStreamEndOfData{};
        if (std::unique_ptr<LASindexHook> index = g_embedded_index_loader(in, file_name_)) {
          attach_index(std::move(index));
        }
        break;
      }
      // Without an index class the index record is passed over like any other.
      if (length > static_cast<std::uint64_t>(INT64_MAX - head - kEvlrHeadSize)) {
        throw ByteStreamEndOfData{};
      }
      head += kEvlrHeadSize + static_cast<std::int64_t>(length);
    }
  } catch (...) {
    std::fprintf(stderr, "ERROR: trying to read %u internal EVLRs. ignoring ...\n",
                 static_cast<unsigned>(codec.number_of_special_evlrs));
  }
  in.seek_to(points_start);
}

bool LASreaderLAS::open_point_engine(std::uint32_t selective_decoding) {
  engine_ = std::make_unique<LASreadEngine>(selective_decoding);
  engine_->set_worker_pool(worker_pool_);
  const Pakrel* codec = header.codec.get();
  if (codec != nullptr) {
    if (!point.init_layout(&header, codec->num_items, codec->items.data(), &header)) {
      std::fprintf(stderr, "ERROR: cannot lay out the %d items of the codec record\n",
                   codec->num_items);
      return false;
    }
  } else if (!point.init_for_point_type(&header, header.point_data_format,
                                        header.point_data_record_length, &header)) {
    return false;
  }
  if (!engine_->setup(point.num_items, point.items.data(), codec, *item_codecs_)) {
    // Without a codec for these items (or with a malformed item list) no point can be read.
    if (codec != nullptr) {
      std::fprintf(stderr, "ERROR: point type %d of size %d not supported (with Pakrel)\n",
                   header.point_data_format, header.point_data_record_length);
    } else {
      std::fprintf(stderr, "ERROR: point type %d of size %d not supported\n",
                   header.point_data_format, header.point_data_record_length);
    }
    return false;
  }
  return true;
}

bool LASreaderLAS::read_raw_point() {
  if (engine_ && points_done < points_total) {
    if (engine_->read(point.item_data.data())) {
      points_done++;
      return true;
    }
    return report_read_failure();
  }
  return finish_reading();
}

// Out of line so that the per-point path above saves no registers for the messages.
bool LASreaderLAS::report_read_failure() {
  // A trial read says nothing: the points are read again, and then it is said.
  if (trial_reads) return false;
  if (const char* warning = engine_->warning_text()) {
    std::fprintf(stderr, "WARNING: '%s' for '%s'\n", warning, file_name_.c_str());
  }
  const char* error = engine_->error_text();
  // Raw records that simply run out are a cut file, not a decoding error.
  if (error != nullptr && std::strcmp(error, "end-of-file") == 0) error = nullptr;
  if (error != nullptr) {
    read_failed_ = true;
    std::fprintf(stderr, "ERROR: '%s' after %" PRId64 " of %" PRId64 " points for '%s'\n", error,
                 points_done, points_total, file_name_.c_str());
  } else if (warn_when_cut) {
    std::fprintf(stderr, "WARNING: end-of-file after %" PRId64 " of %" PRId64 " points for '%s'\n",
                 points_done, points_total, file_name_.c_str());
  }
  return false;
}

bool LASreaderLAS::finish_reading() {
  if (!end_tested_ && engine_) {
    if (!engine_->verify_end()) {
      read_failed_ = true;
      std::fprintf(stderr, "ERROR: '%s' when reaching end of encoding\n",
                   engine_->error_text() ? engine_->error_text() : "");
      points_done--;
    }
    if (const char* warning = engine_->warning_text()) {
      std::fprintf(stderr, "WARNING: '%s'\n", warning);
    }
    end_tested_ = true;
  }
  return false;
}

bool LASreaderLAS::set_selective_decoding(std::uint32_t selective_decoding) {
  if (!engine_ || stream_ == nullptr || points_done != 0) return false;
  // Nothing was read since the open attached the engine: the stream is where it was.
  engine_->detach();
  if (!open_point_engine(selective_decoding) || !engine_->attach(stream_)) {
    engine_.reset();
    return false;
  }
  return true;
}

bool LASreaderLAS::read_records_from(ByteStreamIn* records) {
  if (!engine_ || !compressed_ || points_done != 0 || records == nullptr) return false;
  auto engine = std::make_unique<LASreadEngine>(kDecompressAll);
  if (!engine->setup(point.num_items, point.items.data()) || !engine->attach(records)) {
    return false;
  }
  engine_->detach();
  engine_ = std::move(engine);
  end_tested_ = false;
  return true;
}

bool LASreaderLAS::seek_point(std::int64_t index) {
  if (!engine_ || index < 0 || index >= points_total) return false;
  if (!engine_->seek(points_done, index)) return false;
  points_done = index;
  return true;
}

void LASreaderLAS::close_reader(bool close_stream) {
  if (engine_) {
    engine_->detach();
    engine_.reset();
  }
  if (close_stream) {
    release_stream();
    file_name_.clear();
  }
}

std::size_t LASreaderLAS::take_filtered_records(const std::uint8_t*& records, std::size_t max) {
  LASfilterHook& filter = *get_filter();
  const std::size_t size = engine_->point_size();
  std::uint8_t* const* items = point.item_data.data();
  while (points_done < points_total) {
    const std::uint64_t left = static_cast<std::uint64_t>(points_total - points_done);
    std::size_t count = left < max ? static_cast<std::size_t>(left) : max;
    const std::uint8_t* run = engine_->peek_raw_records(count);
    if (run == nullptr) return 0;
    std::size_t kept = 0;
    while (kept < count) {
      engine_->scatter_raw_record(run + kept * size, items);
      if (filter.filter(point)) break;
      kept++;
    }
    // Each record meets the filter once: the dropped one that ended the run goes too.
    const std::size_t consumed = kept < count ? kept + 1 : kept;
    engine_->skip_raw_records(consumed);
    points_done += static_cast<std::int64_t>(consumed);
    if (kept > 0) {
      records = run;
      return kept;
    }
  }
  return 0;
}

bool LASreaderLAS::locate_stored_chunks(std::uint32_t& chunks) {
  chunks = 0;
  if (!engine_ || !compressed_ || !reads_plain() || points_done != 0) return false;
  return engine_->locate_stored_chunks(chunks);
}

bool LASreaderLAS::take_stored_chunk(const LASreadEngine::StoredChunk& where, std::uint32_t points,
                                     std::uint8_t* bytes) {
  if (!engine_ || !engine_->read_stored_chunk(where, bytes)) return false;
  points_done += points;
  return true;
}
