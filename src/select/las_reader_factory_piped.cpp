// Piped LAS and PKZ input: read once from standard input or a FIFO, and read again in the
// tool's second pass.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "index/las_index.hpp"
#include "las/las_reader_las.hpp"
#include "select/las_reader_factory.hpp"
#include "stream/bytestream_blocks.hpp"
#include "stream/bytestream_piped.hpp"

namespace {

// The point data format byte of the header, whose two high bits mark compressed points.
constexpr std::int64_t kPointFormatAt = 104;

// Enough of the header for the fields below (the LAS 1.4 header is the longest).
constexpr std::int64_t kHeaderPeek = 375;

bool marked_compressed(const ByteBlocks& head) {
  return head.size > kPointFormatAt && (head.blocks[0][kPointFormatAt] & 0xC0) != 0;
}

template <typename T>
T field_at(const ByteBlocks& head, std::int64_t at) {
  T value{};
  if (at + static_cast<std::int64_t>(sizeof(T)) <= head.size) {
    std::memcpy(&value, head.blocks[0].get() + at, sizeof(T));
  }
  return value;
}

// The size of the points the header announces. It only chooses the way of reading (an
// announced large stream goes straight to the stored reader, without a head held to find
// out); memory never follows it.
std::int64_t announced_size(const ByteBlocks& head) {
  const auto offset = field_at<std::uint32_t>(head, 96);
  const auto length = field_at<std::uint16_t>(head, 105);
  std::uint64_t count = field_at<std::uint32_t>(head, 107);
  if (field_at<std::uint8_t>(head, 25) >= 4 && count == 0)
    count = field_at<std::uint64_t>(head, 247);
  const std::uint64_t cap = std::uint64_t{1} << 50;
  return static_cast<std::int64_t>(offset + std::min(count, cap) * length);
}

}  // namespace

bool LASreaderFactory::open_piped_las(LASreaderLAS& reader, std::FILE* file, bool owns_file,
                                      std::uint32_t selective_decoding, bool& in_memory) {
  piped_reader_ = nullptr;
  ByteBlocks head;
  bool out_of_memory = false;
  bool ended =
      read_into_blocks(head, file, std::min(kHeaderPeek, piped_raw_limit_), &out_of_memory);
  if (!ended && !out_of_memory) {
    // Compressed input is kept whole however large: it is what storing would make of it.
    if (marked_compressed(head)) {
      ended =
          read_into_blocks(head, file, std::numeric_limits<std::int64_t>::max(), &out_of_memory);
    } else if (announced_size(head) <= piped_raw_limit_) {
      ended = read_into_blocks(head, file, piped_raw_limit_, &out_of_memory);
    }
  }
  if (out_of_memory) {
    std::fprintf(stderr, "ERROR: allocating memory for piped input\n");
    if (owns_file) std::fclose(file);
    return false;
  }
  if (!ended) {
    // Too large to hold raw: read once, from the head already taken on into the rest.
    in_memory = false;
    auto stream = std::make_unique<ByteStreamInBlocksThenFile>(std::move(head), file, owns_file);
    return reader.open_stream(std::move(stream), false, selective_decoding);
  }
  if (owns_file) std::fclose(file);
  in_memory = true;
  piped_bytes_ = std::make_unique<ByteStreamInBlocks>(std::move(head));
  if (!reader.open_stream(piped_bytes_.get(), false, selective_decoding)) return false;
  piped_reader_ = &reader;
  return true;
}

bool LASreaderFactory::reopen_piped(LASreader* reader, bool& handled) {
  handled = piped_bytes_ != nullptr && reader != nullptr && reader == piped_reader_;
  if (!handled) return false;
  auto* las = dynamic_cast<LASreaderLAS*>(reader);
  if (las == nullptr || !piped_bytes_->seek_to(0)) return false;
  las->set_worker_pool(settings_.worker_pool);
  if (!las->open_stream(piped_bytes_.get(), false, decoding_layers())) {
    std::fprintf(stderr, "ERROR: cannot reopen lasreaderlas from piped input\n");
    return false;
  }
  // As for a file by name: the index, the flightline number and the area go on it again.
  if (file_name_) attach_spatial_index(*reader, *file_name_);
  if (file_source_ID_) reader->header.file_source_ID = *file_source_ID_;
  if (has_area()) {
    reader->clear_area();
    apply_area(*reader, true);
  }
  return true;
}

std::int64_t LASreaderFactory::piped_bytes_held() const {
  return piped_bytes_ ? piped_bytes_->size() : 0;
}

std::int64_t LASreaderFactory::piped_allocation() const {
  return piped_bytes_ ? static_cast<std::int64_t>(piped_bytes_->allocated()) : 0;
}
