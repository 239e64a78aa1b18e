// Piped LAS and PKZ input: read once from standard input or a FIFO, and read again in the
// tool's second pass.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "index/las_index.hpp"
#include "las/las_reader_las.hpp"
#include "select/las_reader_factory.hpp"
#include "stream/bytestream_blocks.hpp"
#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_piped.hpp"

namespace {

// Enough of the header for the fields below (the LAS 1.4 header is the longest).
constexpr std::int64_t kHeaderPeek = 375;

template <typename T>
T field_at(const ByteBlocks& head, std::int64_t at) {
  T value{};
  if (at + static_cast<std::int64_t>(sizeof(T)) <= head.size) {
    std::memcpy(&value, head.blocks[0].get() + at, sizeof(T));
  }
  return value;
}

// The size of the uncompressed points the header announces. It only chooses the way: an
// input announced larger than the memory limit goes to the temporary file at once, without
// first taking memory up to the limit (fresh memory costs about as much as the file). What
// is held never follows it.
std::int64_t announced_size(const ByteBlocks& head) {
  const auto offset = field_at<std::uint32_t>(head, 96);
  const auto length = field_at<std::uint16_t>(head, 105);
  std::uint64_t count = field_at<std::uint32_t>(head, 107);
  if (field_at<std::uint8_t>(head, 25) >= 4 && count == 0)
    count = field_at<std::uint64_t>(head, 247);
  const std::uint64_t cap = std::uint64_t{1} << 40;
  return static_cast<std::int64_t>(offset + std::min(count, cap) * length);
}

}  // namespace

bool LASreaderFactory::open_piped_las(LASreaderLAS& reader, std::FILE* file, bool owns_file,
                                      std::uint32_t selective_decoding) {
  piped_reader_ = nullptr;
  piped_bytes_.reset();
  piped_spill_.reset();
  piped_spilled_ = 0;
  const UniqueFile owned(owns_file ? file : nullptr);
  ByteBlocks head;
  bool out_of_memory = false;
  bool ended =
      read_into_blocks(head, file, std::min(kHeaderPeek, piped_memory_limit_), &out_of_memory);
  if (!ended && !out_of_memory && announced_size(head) <= piped_memory_limit_)
    ended = read_into_blocks(head, file, piped_memory_limit_, &out_of_memory);
  if (out_of_memory) {
    std::fprintf(stderr, "ERROR: allocating memory for piped input\n");
    return false;
  }
  if (ended) {
    piped_bytes_ = std::make_unique<ByteStreamInBlocks>(std::move(head));
  } else {
    std::string error;
    UniqueFile spill = open_unnamed_temporary_file(error);
    if (!spill || !spill_input(head, file, spill.get(), piped_spilled_, error)) {
      std::fprintf(stderr, "ERROR: %s\n", error.c_str());
      piped_spilled_ = 0;
      return false;
    }
    piped_spill_ = std::move(spill);
    piped_bytes_ = std::make_unique<ByteStreamInFile>(piped_spill_.get());
  }
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
  const auto* held = dynamic_cast<const ByteStreamInBlocks*>(piped_bytes_.get());
  return held ? held->size() : 0;
}

std::int64_t LASreaderFactory::piped_allocation() const {
  const auto* held = dynamic_cast<const ByteStreamInBlocks*>(piped_bytes_.get());
  return held ? static_cast<std::int64_t>(held->allocated()) : 0;
}
