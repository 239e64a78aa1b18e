#include "formats/las_reader_stored.hpp"

#include <cstdio>

#include "codec/pakrel.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "stream/bytestream_blocks.hpp"

namespace {

constexpr int kStoredChunkSize = 50000;

// Point types 6-10 are coded by the layered compressor only.
std::uint16_t compressor_for(const LASheader& header) {
  return (header.point_data_format & 0x7F) >= 6 ? Pakrel::COMPRESSOR_LAYERED
                                                : Pakrel::COMPRESSOR_CHUNKED;
}

}  // namespace

LASreaderStored::LASreaderStored() = default;

LASreaderStored::~LASreaderStored() {
  close_reader(true);
}

bool LASreaderStored::open(std::unique_ptr<LASreader> inner) {
  if (!inner) {
    std::fprintf(stderr, "ERROR: no lasreader\n");
    return false;
  }
  inner_ = std::move(inner);
  inner_format_code_ = inner_->format_code();
  header = inner_->header;
  // The stored copy is laid out like the points the inner reader delivers.
  point = inner_->point;
  point.scaling = &header;
  point.attribute_set = &header;
  points_total = static_cast<std::int64_t>(header.point_count());
  points_done = 0;
  stored_complete_ = false;
  inner_failed_ = false;
  read_failed_ = false;
  ended_cut_ = false;

  memory_out_ = std::make_unique<ByteStreamOutBlocks>();
  memory_writer_ = std::make_unique<LASwriterLAS>();
  memory_writer_->set_worker_pool(worker_pool_);
  if (!memory_writer_->open_stream(memory_out_.get(), &header, compressor_for(header), 0,
                                   kStoredChunkSize)) {
    std::fprintf(stderr, "ERROR: opening laswriterlas to streamoutarray\n");
    memory_writer_.reset();
    memory_out_.reset();
    return false;
  }
  memory_in_.reset();
  choose_read_routines();
  return true;
}

bool LASreaderStored::read_raw_point() {
  if (stored_complete_) {
    if (!inner_ || !inner_->read_next()) {
      if (inner_ && inner_->read_failed()) read_failed_ = true;
      return false;
    }
    point.copy_values_from(inner_->point);
    points_done++;
    return true;
  }
  if (!inner_) return false;
  if (inner_->read_next()) return store_point();
  inner_failed_ = inner_->read_failed();
  read_failed_ = inner_failed_;
  // The stored copy counts what came; that the input was cut must outlive it.
  ended_cut_ = inner_->ended_cut() ||
               (inner_->inside() == kAreaNone && inner_->points_done < inner_->points_total);
  finish_storing();
  return false;
}

bool LASreaderStored::store_point() {
  point.copy_values_from(inner_->point);
  if (!memory_writer_->write_point(point)) {
    read_failed_ = true;
    return false;
  }
  memory_writer_->count_point(point);
  points_done++;
  return true;
}

// The first pass has ended: the inner reader goes, the memory copy is closed and counts what
// came (a cut input stores the points it held).
bool LASreaderStored::finish_storing() {
  if (inner_) inner_->close_reader(true);
  inner_.reset();
  bool ok = true;
  if (memory_writer_) {
    ok = memory_writer_->update_header(&header, true) && memory_writer_->close_writer(true) > 0;
    memory_writer_.reset();
  }
  points_total = points_done;
  stored_complete_ = ok && !inner_failed_;
  point.clear_values();
  return stored_complete_;
}

bool LASreaderStored::reopen() {
  if (!stored_complete_) {
    std::fprintf(stderr, memory_out_ ? "ERROR: nothing stored in streamoutarray\n"
                                     : "ERROR: no streamoutarray\n");
    return false;
  }
  if (!memory_in_) {
    if (!memory_out_ || memory_out_->size() == 0) {
      std::fprintf(stderr, "ERROR: nothing stored in streamoutarray\n");
      return false;
    }
    memory_in_ = std::make_unique<ByteStreamInBlocks>(memory_out_->take_blocks());
    memory_out_.reset();
  }
  if (!memory_in_->seek_to(0)) {
    std::fprintf(stderr, "ERROR: creating streaminarray\n");
    return false;
  }
  auto replay = std::make_unique<LASreaderLAS>();
  replay->set_worker_pool(worker_pool_);
  if (!replay->open_stream(memory_in_.get(), false, kDecompressAll)) {
    std::fprintf(stderr, "ERROR: opening lasreaderlas from streaminarray\n");
    return false;
  }
  inner_ = std::move(replay);
  points_done = 0;
  read_failed_ = false;
  point.clear_values();
  return true;
}

int LASreaderStored::format_code() const {
  return inner_format_code_;
}

bool LASreaderStored::seek_point(std::int64_t index) {
  if (!stored_complete_ || !inner_ || !inner_->seek_point(index)) return false;
  points_done = index;
  return true;
}

ByteStreamIn* LASreaderStored::stream_of() const {
  return inner_ ? inner_->stream_of() : nullptr;
}

void LASreaderStored::close_reader(bool close_stream) {
  if (!stored_complete_ && inner_) {
    // Closed before the first pass ended: what was stored is incomplete and not replayed.
    inner_->close_reader(close_stream);
    inner_.reset();
    if (memory_writer_) memory_writer_->close_writer(false);
    memory_writer_.reset();
    memory_out_.reset();
    return;
  }
  if (inner_) inner_->close_reader(close_stream);
  inner_.reset();
}

std::int64_t LASreaderStored::stored_bytes() const {
  if (memory_in_) return memory_in_->size();
  return memory_out_ ? memory_out_->size() : 0;
}

std::int64_t LASreaderStored::stored_allocation() const {
  if (memory_in_) return static_cast<std::int64_t>(memory_in_->allocated());
  return memory_out_ ? static_cast<std::int64_t>(memory_out_->blocks().allocated()) : 0;
}
