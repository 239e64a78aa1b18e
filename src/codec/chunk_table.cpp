#include "codec/chunk_table.hpp"

#include <cinttypes>
#include <cstdio>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/integer_coder.hpp"
#include "codec/item_coder.hpp"
#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

bool write_chunk_table_entries(ByteStreamOut& stream, EntropyEncoder& encoder, bool variable_chunks,
                               std::span<const std::uint32_t> point_counts,
                               std::span<const std::uint32_t> byte_lengths) {
  const std::uint32_t version = kChunkTableVersion;
  const auto count = static_cast<std::uint32_t>(byte_lengths.size());
  if (!stream.write32_le(&version) || !stream.write32_le(&count)) return false;
  if (count == 0) return true;
  if (!encoder.init(&stream)) return false;
  IntegerCoder coder(&encoder, kChunkTableCoderBits, kChunkTableCoderContexts,
                     kChunkTableCoderHighBits, kChunkTableCoderRange);
  coder.init();
  std::uint32_t previous_count = 0;
  std::uint32_t previous_length = 0;
  for (std::uint32_t i = 0; i < count; i++) {
    if (variable_chunks) {
      coder.compress(static_cast<std::int32_t>(previous_count),
                     static_cast<std::int32_t>(point_counts[i]), kChunkContextPointCount);
      previous_count = point_counts[i];
    }
    coder.compress(static_cast<std::int32_t>(previous_length),
                   static_cast<std::int32_t>(byte_lengths[i]), kChunkContextByteLength);
    previous_length = byte_lengths[i];
  }
  return encoder.done();
}

namespace {

// Reads version, count and entries at the stream's position into `index` (which holds
// chunk 0 at `first_chunk` already). Entries are appended as they are decoded, so after a
// throw the index holds every chunk decoded before the fault.
void read_entries(ByteStreamIn& stream, EntropyDecoder& decoder, bool variable_chunks,
                  std::int64_t table_position, std::uint32_t min_chunk_bytes, ChunkIndex& index) {
  std::uint32_t version;
  std::uint32_t count;
  stream.read32_le(&version);
  stream.read32_le(&count);
  if (version != kChunkTableVersion) throw CodecCorruptData{};
  const std::int64_t first_chunk = index.starts.front();
  const std::int64_t block_bytes = table_position - first_chunk;
  const std::int64_t max_chunks = block_bytes > 0 ? block_bytes / min_chunk_bytes : 0;
  if (count > max_chunks) throw CodecCorruptData{};
  if (count == 0) return;
  index.starts.reserve(count + 1);
  if (variable_chunks) index.totals.reserve(count + 1);

  decoder.init(&stream);
  IntegerCoder coder(&decoder, kChunkTableCoderBits, kChunkTableCoderContexts,
                     kChunkTableCoderHighBits, kChunkTableCoderRange);
  coder.init();
  std::uint32_t previous_count = 0;
  std::uint32_t previous_length = 0;
  for (std::uint32_t i = 0; i < count; i++) {
    if (variable_chunks) {
      const auto points = static_cast<std::uint32_t>(
          coder.decompress(static_cast<std::int32_t>(previous_count), kChunkContextPointCount));
      // Every chunk holds at least its raw first point.
      if (points == 0) throw CodecCorruptData{};
      previous_count = points;
      index.totals.push_back(index.totals.back() + points);
    }
    const auto length = static_cast<std::uint32_t>(
        coder.decompress(static_cast<std::int32_t>(previous_length), kChunkContextByteLength));
    previous_length = length;
    const std::int64_t next_start = index.starts.back() + length;
    // Chunks follow one another and end where the table begins.
    if (length < min_chunk_bytes || next_start > table_position) {
      if (variable_chunks) index.totals.pop_back();
      throw CodecCorruptData{};
    }
    index.starts.push_back(next_start);
    index.tabled++;
  }
  decoder.done();
}

}  // namespace

bool read_chunk_index(ByteStreamIn& stream, EntropyDecoder& decoder, bool variable_chunks,
                      std::uint32_t min_chunk_bytes, ChunkIndex& index, std::string& error,
                      std::string& warning) {
  if (min_chunk_bytes == 0) min_chunk_bytes = 1;
  index = ChunkIndex{};
  std::int64_t table_position;
  stream.read64_le(&table_position);
  const std::int64_t first_chunk = stream.position();
  index.starts.push_back(first_chunk);
  if (variable_chunks) index.totals.push_back(0);

  if (table_position == first_chunk - kChunkTablePointerSize) {
    if (variable_chunks) {
      error = "compressor was interrupted before writing adaptive chunk table of PKZ file";
      return false;
    }
    // The table grows as the chunks are read.
    index.tabled = 1;
    warning = "compressor was interrupted before writing chunk table of PKZ file";
    return true;
  }
  if (!stream.can_seek()) {
    if (variable_chunks) {
      error = "cannot read adaptive chunk table of PKZ file from a stream that cannot seek";
      return false;
    }
    index.starts.clear();
    return true;
  }

  bool complete = false;
  try {
    if (table_position == kChunkTablePointerAtEnd) {
      if (!stream.seek_from_end(kChunkTablePointerSize)) throw CodecCorruptData{};
      stream.read64_le(&table_position);
    }
    if (!stream.seek_to(table_position)) throw CodecCorruptData{};
    read_entries(stream, decoder, variable_chunks, table_position, min_chunk_bytes, index);
    complete = true;
  } catch (const ByteStreamEndOfData&) {
  } catch (const CodecCorruptData&) {
  }

  if (!complete) {
    std::int64_t end = table_position;
    if (stream.seek_from_end(0)) end = stream.position();
    char message[128];
    if (table_position < end) {
      std::snprintf(message, sizeof(message), "corrupt chunk table");
    } else if (table_position > end) {
      std::snprintf(message, sizeof(message),
                    "chunk table and %" PRId64
                    " bytes are missing. PKZ file truncated during copy or transfer?",
                    table_position - end);
    } else {
      std::snprintf(message, sizeof(message),
                    "chunk table is missing. improper use of PKZ compressor?");
    }
    if (variable_chunks) {
      error = message;
      stream.seek_to(first_chunk);
      return false;
    }
    if (index.tabled == 0) {
      index.starts.resize(1);
      index.tabled = 1;
    }
    warning = message;
  }
  if (!stream.seek_to(first_chunk)) {
    error = "cannot seek to the first chunk of PKZ file";
    return false;
  }
  return true;
}
