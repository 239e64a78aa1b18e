#include "las/las_writer_las.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "codec/chunk_table.hpp"
#include "codec/pakrel.hpp"
#include "model/header_layout.hpp"
#include "stream/bytestream_out_file.hpp"
#include "stream/bytestream_out_nil.hpp"

// Opening, the points and closing; the header, its records and their updates are in
// las_writer_las_header.cpp.

namespace {

const char* text_or_empty(const char* text) {
  return text != nullptr ? text : "";
}

}  // namespace

LASwriterLAS::LASwriterLAS() = default;

LASwriterLAS::~LASwriterLAS() {
  if (engine_ || stream_) close_writer(true);
}

void LASwriterLAS::report_write_failure() {
  failed_ = true;
  if (failure_reported_) return;
  failure_reported_ = true;
  if (!engine_) {
    std::fprintf(stderr, "ERROR: cannot write point %" PRId64 ": the writer is not open\n",
                 points_done);
    return;
  }
  std::fprintf(stderr, "ERROR: cannot write point %" PRId64 " to '%s' (disk full or I/O error)\n",
               points_done, file_name_.empty() ? "output stream" : file_name_.c_str());
}

bool LASwriterLAS::open_file(const char* file_name, const LASheader* header,
                             std::uint16_t compressor, int requested_version, int chunk_size,
                             int stream_buffer_size) {
  if (file_name == nullptr) {
    std::fprintf(stderr, "ERROR: file name pointer is zero\n");
    return false;
  }
  if (engine_ || stream_) close_writer(true);
  file_ = std::fopen(file_name, "wb");
  if (file_ == nullptr) {
    std::fprintf(stderr, "ERROR: cannot open file '%s' for write\n", file_name);
    return false;
  }
  file_name_ = file_name;
  if (stream_buffer_size > 0 &&
      std::setvbuf(file_, nullptr, _IOFBF, static_cast<std::size_t>(stream_buffer_size)) != 0) {
    std::fprintf(stderr, "WARNING: setvbuf() failed with buffer size %d\n", stream_buffer_size);
  }
  owned_stream_ = std::make_unique<ByteStreamOutFileLE>(file_);
  return open_stream(owned_stream_.get(), header, compressor, requested_version, chunk_size);
}

bool LASwriterLAS::open_handle(std::FILE* file, const LASheader* header, std::uint16_t compressor,
                               int requested_version, int chunk_size) {
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: file pointer is zero\n");
    return false;
  }
  // Standard output is already untranslated on the systems we build for.
  if (engine_ || stream_) close_writer(true);
  file_name_.clear();
  owned_stream_ = std::make_unique<ByteStreamOutFileLE>(file);
  return open_stream(owned_stream_.get(), header, compressor, requested_version, chunk_size);
}

bool LASwriterLAS::open_nil(const LASheader* header, std::uint16_t compressor,
                            int requested_version, int chunk_size) {
  return open_stream(std::make_unique<ByteStreamOutNil>(), header, compressor, requested_version,
                     chunk_size);
}

bool LASwriterLAS::open_stream(std::unique_ptr<ByteStreamOut> stream, const LASheader* header,
                               std::uint16_t compressor, int requested_version, int chunk_size) {
  if (!stream) {
    std::fprintf(stderr, "ERROR: ByteStreamOut pointer is zero\n");
    return false;
  }
  if (engine_ || stream_) close_writer(true);
  file_name_.clear();
  owned_stream_ = std::move(stream);
  return open_stream(owned_stream_.get(), header, compressor, requested_version, chunk_size);
}

bool LASwriterLAS::open_stream(ByteStreamOut* stream, const LASheader* header,
                               std::uint16_t compressor, int requested_version, int chunk_size) {
  if (stream == nullptr) {
    std::fprintf(stderr, "ERROR: ByteStreamOut pointer is zero\n");
    return false;
  }
  if (stream != owned_stream_.get()) {
    if (engine_ || stream_) close_writer(true);
    file_name_.clear();
  }
  stream_ = stream;
  engine_.reset();
  descriptor_.reset();
  // Failed until the open succeeds: a writer left after a failed open never reports success.
  failed_ = true;
  failure_reported_ = false;
  points_total = 0;
  points_done = 0;
  inventory = LAStally{};
  if (header == nullptr) {
    std::fprintf(stderr, "ERROR: LASheader pointer is zero\n");
    return false;
  }
  if (!header->verify()) return false;
  scaling = static_cast<const LASscaling&>(*header);

  // The record layout: from the codec record's items, or from the point type.
  std::vector<LASitem> items;
  std::uint8_t point_type = 127;
  std::uint16_t record_length = 0;
  bool standard = true;
  {
    LASpoint scratch;
    if (header->codec) {
      const Pakrel& codec = *header->codec;
      if (!scratch.init_layout(header, codec.num_items, codec.items.data(), header)) {
        std::fprintf(stderr, "ERROR: cannot lay out the %d items of the codec record\n",
                     codec.num_items);
        return false;
      }
      Pakrel classifier;
      standard =
          classifier.classify_items(codec.num_items, codec.items.data(), point_type, record_length);
    } else {
      if (!scratch.init_for_point_type(header, header->point_data_format,
                                       header->point_data_record_length, header)) {
        return false;
      }
      point_type = header->point_data_format;
      record_length = static_cast<std::uint16_t>(scratch.record_size);
    }
    items = scratch.items;
    record_items_ = items;
    // The records are written raw or with the versions the descriptor chooses below.
    for (LASitem& item : items)
      item.version = 0;
  }

  const bool compressing = compressor != Pakrel::COMPRESSOR_RAW;
  if (compressing && point_type > 5 && compressor != Pakrel::COMPRESSOR_LAYERED) {
    std::fprintf(stderr,
                 "ERROR: point type %d requires using \"native LAS 1.4 extension\" of Pakrel\n",
                 point_type);
    return false;
  }
  std::unique_ptr<Pakrel> descriptor;
  if (compressing || !standard) {
    descriptor = std::make_unique<Pakrel>();
    if (!descriptor->setup(static_cast<std::uint16_t>(items.size()), items.data(), compressor)) {
      std::fprintf(stderr, "ERROR: point type %d of size %d not supported (with Pakrel)\n",
                   header->point_data_format, header->point_data_record_length);
      return false;
    }
    if (chunk_size >= 0) descriptor->change_chunk_size(static_cast<std::uint32_t>(chunk_size));
    if (compressing) {
      if (chunk_size == 0 && point_type <= 5) {
        std::fprintf(stderr,
                     "ERROR: adaptive chunking is depricated for point type %d.\n"
                     "       only available for new LAS 1.4 point types 6 or higher.\n",
                     point_type);
        return false;
      }
      if (!descriptor->choose_version(
              static_cast<std::uint16_t>(requested_version ? requested_version : 2))) {
        std::fprintf(stderr, "ERROR: %s\n", text_or_empty(descriptor->error_text()));
        return false;
      }
    } else if (!descriptor->choose_version(0)) {
      std::fprintf(stderr, "ERROR: %s\n", text_or_empty(descriptor->error_text()));
      return false;
    }
  }

  engine_ = std::make_unique<LASwriteEngine>();
  engine_->set_worker_pool(worker_pool_);
  const bool engine_ready =
      descriptor ? engine_->setup(descriptor->num_items, descriptor->items.data(), descriptor.get(),
                                  *item_codecs_)
                 : engine_->setup(static_cast<std::uint32_t>(items.size()), items.data());
  if (!engine_ready) {
    if (descriptor) {
      std::fprintf(stderr, "ERROR: point type %d of size %d not supported (with Pakrel)\n",
                   header->point_data_format, header->point_data_record_length);
    } else {
      std::fprintf(stderr, "ERROR: point type %d of size %d not supported\n",
                   header->point_data_format, header->point_data_record_length);
    }
    engine_.reset();
    return false;
  }
  written_point_data_format_ =
      static_cast<std::uint8_t>(standard ? point_type : 127) | (compressing ? 0x80 : 0);
  // The points decide, not the header's format byte: a byte with stray high bits must not
  // move the count of a legacy point type out of the legacy field.
  emit_extended_types_ = !items.empty() && items.front().type == LASitem::POINT14;

  header_start_ = stream_->position();
  if (!write_header(*header, descriptor.get())) {
    // No point may reach an engine that has no stream.
    engine_.reset();
    failed_ = true;
    return false;
  }
  if (!engine_->attach(stream_)) {
    std::fprintf(stderr, "ERROR: cannot start writing the points\n");
    engine_.reset();
    failed_ = true;
    return false;
  }
  points_total = static_cast<std::int64_t>(header->point_count());
  points_done = 0;
  failed_ = false;
  if (compressing) descriptor_ = std::move(descriptor);
  return true;
}

bool LASwriterLAS::takes_stored_chunks(const Pakrel& codec) const {
  if (!engine_ || !descriptor_ || points_done != 0) return false;
  const Pakrel& written = *descriptor_;
  // Variable chunks end where the writer's caller says: the stored ones need not.
  const auto fixed = [](std::uint32_t size) { return size != 0 && size != kVariableChunkSize; };
  return written.compressor == Pakrel::COMPRESSOR_LAYERED &&
         codec.compressor == Pakrel::COMPRESSOR_LAYERED && fixed(written.chunk_size) &&
         written.chunk_size == codec.chunk_size && written.items.size() == codec.items.size() &&
         std::equal(written.items.begin(), written.items.end(), codec.items.begin());
}

bool LASwriterLAS::write_stored_chunk(const std::uint8_t* bytes, std::size_t length,
                                      std::uint32_t points) {
  points_done += points;
  if (engine_ && engine_->write_stored_chunk(bytes, length, points)) return true;
  report_write_failure();
  return false;
}

bool LASwriterLAS::chunk() {
  if (!engine_) return false;
  return engine_->close_chunk();
}

std::int64_t LASwriterLAS::close_writer(bool fix_count) {
  if (stream_ == nullptr) {
    engine_.reset();
    return 0;
  }
  bool ok = !failed_;
  // A count that is about to be patched needs no warning.
  if (points_done != points_total && !fix_count) {
    std::fprintf(stderr, "WARNING: written %" PRId64 " points but expected %" PRId64 " points\n",
                 points_done, points_total);
  }
  ByteStreamOut& out = *stream_;
  if (engine_) {
    if (!engine_->finish() && ok) {
      std::fprintf(stderr, "ERROR: writing the end of the point data failed\n");
      ok = false;
    }
    engine_.reset();
    // Buffered bytes may still be refused: a full disk shows here, before any patching.
    if (ok && !out.flush()) {
      report_stream_failure();
      ok = false;
    }
    if (ok && emit_1_4_header_ && number_of_evlrs_ > 0 && evlrs_ != nullptr) ok = write_evlrs();
    if (ok && fix_count && points_done != points_total) {
      if (out.can_seek()) {
        std::uint32_t legacy = 0;
        if (emit_extended_types_) {
          legacy = 0;
        } else if (static_cast<std::uint64_t>(points_done) < kLegacyLimit) {
          legacy = static_cast<std::uint32_t>(points_done);
        } else {
          legacy = emit_1_4_header_ ? 0 : kLegacyCountMax;
        }
        bool patched =
            out.seek_to(header_start_ + kOffsetNumberOfPointRecords) && out.write32_le(&legacy);
        if (patched && emit_1_4_header_) {
          const std::uint64_t extended = static_cast<std::uint64_t>(points_done);
          patched = out.seek_to(header_start_ + kOffsetExtendedNumberOfPointRecords) &&
                    out.write64_le(&extended);
        }
        if (!patched || !out.seek_to_end()) {
          std::fprintf(stderr, "ERROR: updating header->number_of_point_records\n");
          ok = false;
        }
      } else {
        std::fprintf(stderr,
                     "WARNING: stream not seekable. cannot update header from %" PRId64
                     " to %" PRId64 " points.\n",
                     points_total, points_done);
      }
    }
  }
  const std::int64_t bytes = out.position() - header_start_;
  ok = finish_stream(ok);
  points_total = points_done;
  points_done = 0;
  if (!ok) {
    failed_ = true;
    return 0;
  }
  return bytes;
}

void LASwriterLAS::report_stream_failure() {
  std::fprintf(stderr, "ERROR: cannot write to '%s' (disk full or I/O error)\n",
               file_name_.empty() ? "output stream" : file_name_.c_str());
}

bool LASwriterLAS::finish_stream(bool ok) {
  // Buffered bytes may still be refused: a full disk shows here, not before.
  if (!stream_->flush() && ok) {
    report_stream_failure();
    ok = false;
  }
  stream_ = nullptr;
  owned_stream_.reset();
  if (file_ != nullptr) {
    if (std::fclose(file_) != 0 && ok) {
      std::fprintf(stderr, "ERROR: cannot close '%s' (disk full or I/O error)\n",
                   file_name_.c_str());
      ok = false;
    }
    file_ = nullptr;
  }
  return ok;
}

bool LASwriterLAS::takes_raw_records(const LASpoint& point) const {
  if (!engine_ || !engine_->writes_raw_records() || point.record_size < 0 ||
      engine_->raw_record_size() != static_cast<std::size_t>(point.record_size) ||
      point.items.size() != record_items_.size()) {
    return false;
  }
  // Raw items are stored as they are held, whatever their version: the same item types
  // and sizes make the same record.
  for (std::size_t i = 0; i < record_items_.size(); i++) {
    if (point.items[i].type != record_items_[i].type ||
        point.items[i].size != record_items_[i].size) {
      return false;
    }
  }
  return true;
}
