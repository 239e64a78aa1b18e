#include "formats/las_reader_buffered.hpp"

#include <cmath>
#include <cstdio>

#include "codec/pakrel.hpp"
#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "stream/bytestream_blocks.hpp"

namespace {

constexpr int kBufferChunkSize = 50000;

bool meets(const LASreaderBuffered::Rectangle& a, const LASreaderBuffered::Rectangle& b) {
  return a.min_x <= b.max_x && b.min_x <= a.max_x && a.min_y <= b.max_y && b.min_y <= a.max_y;
}

}  // namespace

LASreaderBuffered::LASreaderBuffered(Opener opener, double buffer_size)
    : opener_(std::move(opener)), buffer_size_(buffer_size) {}

LASreaderBuffered::~LASreaderBuffered() {
  close_reader(true);
}

void LASreaderBuffered::add_buffer_source(std::string file_name, std::optional<Rectangle> bounds) {
  sources_.push_back(Source{std::move(file_name), bounds});
}

bool LASreaderBuffered::open() {
  main_ = opener_(main_name_, false, nullptr, nullptr);
  if (!main_) return false;
  main_format_code_ = main_->format_code();
  header = main_->header;
  point = main_->point;
  point.scaling = &header;
  point.attribute_set = &header;
  main_points_ = static_cast<std::int64_t>(header.point_count());
  read_failed_ = false;
  if (!gather_buffer()) return false;
  deliver_buffer_ = buffer_points_ > 0;
  reading_buffer_ = false;
  points_total = main_points_ + buffer_points_;
  points_done = 0;
  choose_read_routines();
  return true;
}

// Reads the neighbours' points within the buffer into memory, at the main file's scaling.
bool LASreaderBuffered::gather_buffer() {
  buffer_.reset();
  buffer_reader_.reset();
  buffer_points_ = 0;
  const Rectangle grown{header.min_x - buffer_size_, header.min_y - buffer_size_,
                        header.max_x + buffer_size_, header.max_y + buffer_size_};
  // The buffer copy has the main file's layout; its own bounds are of no interest.
  LASheader buffer_header = header;
  buffer_header.vlrs.clear();
  buffer_header.evlrs.clear();
  buffer_header.number_of_variable_length_records = 0;
  buffer_header.number_of_extended_variable_length_records = 0;
  buffer_header.offset_to_point_data = buffer_header.header_size;
  buffer_header.user_data_after_header.clear();
  buffer_header.vlr_rivudover.reset();
  buffer_header.vlr_lasoriginal.reset();
  const std::uint16_t compressor = (header.point_data_format & 0x7F) >= 6
                                       ? Pakrel::COMPRESSOR_LAYERED
                                       : Pakrel::COMPRESSOR_CHUNKED;
  auto memory = std::make_unique<ByteStreamOutBlocks>();
  LASwriterLAS writer;
  if (!writer.open_stream(memory.get(), &buffer_header, compressor, 0, kBufferChunkSize)) {
    std::fprintf(stderr, "ERROR: cannot store the buffer points of '%s'\n", main_name_.c_str());
    return false;
  }
  LASpoint stored = point;
  stored.scaling = &buffer_header;
  stored.attribute_set = &buffer_header;
  const std::array<double, 3> scale{header.x_scale_factor, header.y_scale_factor,
                                    header.z_scale_factor};
  const std::array<double, 3> offset{header.x_offset, header.y_offset, header.z_offset};
  for (const Source& source : sources_) {
    if (source.bounds && !meets(*source.bounds, grown)) continue;
    std::unique_ptr<LASreader> reader = opener_(source.name, false, &scale, &offset);
    if (!reader) return false;
    const LASheader& h = reader->header;
    if (h.point_count() > 0 && !meets(Rectangle{h.min_x, h.min_y, h.max_x, h.max_y}, grown)) {
      continue;
    }
    // The far edges are part of the buffer: the rectangle query is half-open.
    if (reader->inside_rectangle(grown.min_x, grown.min_y, std::nextafter(grown.max_x, 1e308),
                                 std::nextafter(grown.max_y, 1e308))) {
      while (reader->read_next()) {
        stored.copy_values_from(reader->point);
        if (!writer.write_point(stored)) return false;
        writer.count_point(stored);
        buffer_points_++;
      }
    }
    const bool failed = reader->read_failed();
    reader->close_reader(true);
    if (failed) {
      std::fprintf(stderr, "         buffer points of '%s' could not be read.\n",
                   source.name.c_str());
      return false;
    }
  }
  writer.update_header(&buffer_header, true);
  if (writer.close_writer(true) == 0) return false;
  if (buffer_points_ > 0) buffer_ = std::make_unique<ByteStreamInBlocks>(memory->take_blocks());
  return true;
}

bool LASreaderBuffered::start_buffer_replay() {
  buffer_reader_.reset();
  if (!buffer_ || !buffer_->seek_to(0)) return false;
  buffer_reader_ = std::make_unique<LASreaderLAS>();
  if (!buffer_reader_->open_stream(buffer_.get(), false, kDecompressAll)) {
    buffer_reader_.reset();
    return false;
  }
  return true;
}

bool LASreaderBuffered::read_raw_point() {
  if (!reading_buffer_) {
    if (main_ && main_->read_next()) {
      point.copy_values_from(main_->point);
      points_done++;
      return true;
    }
    if (main_ && main_->read_failed()) {
      read_failed_ = true;
      return false;
    }
    if (!deliver_buffer_ || !start_buffer_replay()) return false;
    reading_buffer_ = true;
  }
  if (buffer_reader_ && buffer_reader_->read_next()) {
    point.copy_values_from(buffer_reader_->point);
    points_done++;
    return true;
  }
  if (buffer_reader_ && buffer_reader_->read_failed()) read_failed_ = true;
  return false;
}

bool LASreaderBuffered::reopen(bool remain_buffered) {
  close_reader(true);
  if (!remain_buffered) buffer_.reset();
  main_ = opener_(main_name_, false, nullptr, nullptr);
  if (!main_) return false;
  deliver_buffer_ = false;
  reading_buffer_ = false;
  points_total = main_points_;
  points_done = 0;
  read_failed_ = false;
  return true;
}

std::int64_t LASreaderBuffered::buffer_bytes() const {
  return buffer_ ? static_cast<std::int64_t>(buffer_->allocated()) : 0;
}

int LASreaderBuffered::format_code() const {
  return main_format_code_;
}

bool LASreaderBuffered::seek_point(std::int64_t /*index*/) {
  return false;
}

ByteStreamIn* LASreaderBuffered::stream_of() const {
  return main_ ? main_->stream_of() : nullptr;
}

void LASreaderBuffered::close_reader(bool close_stream) {
  if (main_) main_->close_reader(close_stream);
  main_.reset();
  buffer_reader_.reset();
}
