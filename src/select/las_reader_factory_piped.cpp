// Input that arrives once, from standard input or a FIFO: its first bytes say what it is
// before anything else is read; a binary point stream is kept for the tool's second pass,
// text goes to the text reader with its first bytes handed back.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "las/las_reader_las.hpp"
#include "model/header_layout.hpp"
#include "select/input_signature.hpp"
#include "select/las_reader_factory.hpp"
#include "select/las_text_open.hpp"
#include "stream/bytestream_blocks.hpp"
#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_piped.hpp"

namespace {

using input_formats::Format;

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
  const auto offset = field_at<std::uint32_t>(head, kOffsetOffsetToPointData);
  const auto length = field_at<std::uint16_t>(head, kOffsetPointDataRecordLength);
  std::uint64_t count = field_at<std::uint32_t>(head, kOffsetNumberOfPointRecords);
  if (field_at<std::uint8_t>(head, kOffsetVersionMinor) >= 4 && count == 0)
    count = field_at<std::uint64_t>(head, kOffsetExtendedNumberOfPointRecords);
  const std::uint64_t cap = std::uint64_t{1} << 40;
  return static_cast<std::int64_t>(offset + std::min(count, cap) * length);
}

std::string shown_name(const std::string& file_name) {
  return file_name.empty() ? std::string("standard input") : "'" + file_name + "'";
}

}  // namespace

void LASreaderFactory::release_piped() {
  piped_reader_ = nullptr;
  piped_bytes_.reset();
  piped_spill_.reset();
  piped_spilled_ = 0;
  if (piped_descriptor_ >= 0) ::close(piped_descriptor_);
  piped_descriptor_ = -1;
}

LASreaderFactory::OpenedInput LASreaderFactory::open_fifo(const std::string& file_name) {
  release_piped();
  // Waits for a writer, as any reader of a FIFO does.
  const int descriptor = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    std::fprintf(stderr, "ERROR: cannot open file '%s' for read: %s\n", file_name.c_str(),
                 std::strerror(errno));
    return {};
  }
  piped_descriptor_ = descriptor;
  OpenedInput opened = open_arriving(file_name, descriptor);
  // A refused FIFO is closed at once: its writer learns that nobody reads on.
  if (!opened.reader) release_piped();
  return opened;
}

LASreaderFactory::OpenedInput LASreaderFactory::open_arriving(const std::string& file_name,
                                                              int descriptor) {
  piped_reader_ = nullptr;
  piped_bytes_.reset();
  piped_spill_.reset();
  piped_spilled_ = 0;
  ByteBlocks head;
  bool out_of_memory = false;
  const bool ended = read_descriptor_into_blocks(
      head, descriptor, static_cast<std::int64_t>(input_signature::kHeadSize), &out_of_memory);
  if (out_of_memory) {
    std::fprintf(stderr, "ERROR: allocating memory for piped input\n");
    return {};
  }
  // Nothing came: say so, rather than what a reader makes of no bytes.
  if (head.size == 0) {
    refusal_ = "empty: no point file came through it";
    std::fprintf(stderr, "ERROR: %s is %s\n", shown_name(file_name).c_str(), refusal_.c_str());
    return {};
  }
  const std::uint8_t* bytes = head.blocks[0].get();
  const auto size = static_cast<std::size_t>(head.size);
  const input_signature::Content content = input_signature::classify(bytes, size);
  const input_formats::Row* row = input_formats::choose(file_name, content, text_asked());
  if (row != nullptr && row->open == nullptr) {
    std::fprintf(stderr, "ERROR: reading %s files ('%s') is not supported in this version\n",
                 row->description, file_name.c_str());
    return {};
  }
  // Only a signature sends an input to a binary reader here: its name alone would have it
  // kept whole for a reader that then fails at the first field of its header.
  if (row == nullptr || (row->format != Format::kTXT && !input_signature::is_signature(content))) {
    refusal_ = "not a point file this tool reads: its first bytes are " +
               input_signature::shown(bytes, size);
    std::fprintf(stderr, "ERROR: %s is %s\n", shown_name(file_name).c_str(), refusal_.c_str());
    return {};
  }
  if (row->format == Format::kTXT) {
    std::unique_ptr<LASreader> text =
        las_text_open::open_reader_on(settings_, descriptor, file_name,
                                      std::string_view(reinterpret_cast<const char*>(bytes), size));
    return {std::move(text), row, false};
  }

  // A FIFO is read on through a FILE of its own (the descriptor then belongs to it), standard
  // input through stdin, which has not read anything yet.
  UniqueFile fifo;
  std::FILE* file = stdin;
  if (!file_name.empty()) {
    fifo.reset(fdopen(descriptor, "rb"));
    if (!fifo) {
      std::fprintf(stderr, "ERROR: cannot read '%s': %s\n", file_name.c_str(),
                   std::strerror(errno));
      return {};
    }
    piped_descriptor_ = -1;
    file = fifo.get();
  }
  const bool las = row->format == Format::kLAS;
  const std::int64_t announced = las ? announced_size(head) : 0;
  if (!keep_arriving(std::move(head), ended, file, announced)) return {};
  fifo.reset();
  // A LAS stream is reopened from its bytes; the other formats' readers are stored as
  // their points pass (the caller wraps them).
  LASreaderSettings opening = settings_;
  opening.selective_decoding = opening_layers(!las);
  std::unique_ptr<LASreader> reader = row->open_stream(opening, *piped_bytes_, file_name);
  if (reader && las) piped_reader_ = reader.get();
  return {std::move(reader), row, las};
}

bool LASreaderFactory::keep_arriving(ByteBlocks head, bool ended, std::FILE* file,
                                     std::int64_t announced) {
  bool out_of_memory = false;
  if (!ended && announced <= piped_memory_limit_ && head.size < piped_memory_limit_)
    ended = read_into_blocks(head, file, piped_memory_limit_, &out_of_memory);
  if (out_of_memory) {
    std::fprintf(stderr, "ERROR: allocating memory for piped input\n");
    return false;
  }
  if (ended && head.size <= piped_memory_limit_) {
    piped_bytes_ = std::make_unique<ByteStreamInBlocks>(std::move(head));
    return true;
  }
  std::string error;
  UniqueFile spill = open_unnamed_temporary_file(error);
  if (!spill || !spill_input(head, file, spill.get(), piped_spilled_, error)) {
    std::fprintf(stderr, "ERROR: %s\n", error.c_str());
    piped_spilled_ = 0;
    return false;
  }
  piped_spill_ = std::move(spill);
  piped_bytes_ = std::make_unique<ByteStreamInFile>(piped_spill_.get());
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
