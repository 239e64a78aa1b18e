#include "formats/las_reader_pipe_on.hpp"

#include <cstdio>

#include "codec/pakrel.hpp"
#include "las/las_writer_las.hpp"

namespace {
constexpr int kPipeChunkSize = 50000;
}

LASreaderPipeOn::LASreaderPipeOn() = default;

LASreaderPipeOn::~LASreaderPipeOn() {
  close_reader(true);
}

bool LASreaderPipeOn::open(std::unique_ptr<LASreader> inner) {
  if (!inner) {
    std::fprintf(stderr, "ERROR: no lasreader\n");
    return false;
  }
  inner_ = std::move(inner);
  header = inner_->header;
  point = inner_->point;
  point.scaling = &header;
  point.attribute_set = &header;
  points_total = static_cast<std::int64_t>(header.point_count());
  points_done = 0;
  read_failed_ = false;
  writer_ = std::make_unique<LASwriterLAS>();
  if (!writer_->open_handle(stdout, &header, Pakrel::COMPRESSOR_RAW, 0, kPipeChunkSize)) {
    std::fprintf(stderr, "ERROR: opening laswriterlas to stdout\n");
    writer_.reset();
    return false;
  }
  choose_read_routines();
  return true;
}

bool LASreaderPipeOn::read_raw_point() {
  if (!inner_) return false;
  if (!inner_->read_next()) {
    read_failed_ = inner_->read_failed();
    close_writer();
    point.clear_values();
    return false;
  }
  point.copy_values_from(inner_->point);
  points_done++;
  if (writer_) {
    if (!writer_->write_point(point)) {
      read_failed_ = true;
      writer_.reset();
      return false;
    }
    writer_->count_point(point);
  }
  return true;
}

void LASreaderPipeOn::close_writer() {
  if (!writer_) return;
  writer_->update_header(&header, true);
  writer_->close_writer(true);
  writer_.reset();
}

int LASreaderPipeOn::format_code() const {
  return inner_ ? inner_->format_code() : 0;
}

bool LASreaderPipeOn::seek_point(std::int64_t /*index*/) {
  return false;
}

ByteStreamIn* LASreaderPipeOn::stream_of() const {
  return inner_ ? inner_->stream_of() : nullptr;
}

void LASreaderPipeOn::close_reader(bool close_stream) {
  close_writer();
  if (inner_) inner_->close_reader(close_stream);
}
