#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class ByteStreamIn;
class ByteStreamOut;
class EntropyDecoder;
class EntropyEncoder;

// The point data block of a chunked compressed file (compressor kinds 2 and 3):
//
//   offset 0   int64   chunk table pointer: absolute stream position T of the table, or -1
//                      when the table is followed by a copy of T
//   offset 8   ...     chunk 0, chunk 1, ...
//   T          uint32  table version, 0
//   T + 4      uint32  number of chunks
//   T + 8      ...     coded entries: per chunk, with variable chunks its point count
//                      (context 0, predicted by the previous count), then its byte length
//                      (context 1, predicted by the previous length); 0 predicts the first
//   end        int64   T, only when the pointer at offset 0 is -1
//
// A chunk's byte length runs from its first byte to the first byte of the next chunk.

inline constexpr int kChunkTablePointerSize = 8;
inline constexpr std::int64_t kChunkTablePointerAtEnd = -1;
inline constexpr std::uint32_t kChunkTableVersion = 0;
inline constexpr std::uint32_t kChunkTableCoderBits = 32;
inline constexpr std::uint32_t kChunkTableCoderContexts = 2;
inline constexpr std::uint32_t kChunkTableCoderHighBits = 8;
inline constexpr std::uint32_t kChunkTableCoderRange = 0;
inline constexpr std::uint32_t kChunkContextPointCount = 0;
inline constexpr std::uint32_t kChunkContextByteLength = 1;

// `chunk_size` of the engines for chunks of variable size: a descriptor chunk size of 0, or
// this value itself, as other producers write it.
inline constexpr std::uint32_t kVariableChunkSize = 0xFFFFFFFF;

// Where a reader knows the chunks to start.
struct ChunkIndex {
  // starts[i] for i < tabled: first byte of chunk i. After a complete table there is one
  // more entry, starts[tabled], where the last chunk ends (the table position).
  std::vector<std::int64_t> starts;
  // Variable chunks only: totals[i] = points before chunk i; tabled + 1 entries.
  std::vector<std::uint64_t> totals;
  std::uint32_t tabled = 0;
};

// Writes version, number of chunks and the coded entries at the stream's position, coding
// with `encoder` (started and ended here). `point_counts` is used with `variable_chunks`
// only and then has as many entries as `byte_lengths`. False when the stream refused bytes.
bool write_chunk_table_entries(ByteStreamOut& stream, EntropyEncoder& encoder, bool variable_chunks,
                               std::span<const std::uint32_t> point_counts,
                               std::span<const std::uint32_t> byte_lengths);

// Reads the chunk table of a point data block whose pointer is at the stream's position,
// and leaves the stream at the start of chunk 0. `min_chunk_bytes` (the raw first point of
// every chunk) bounds how many chunks the block can hold, so a lying count allocates
// nothing. The outcomes:
// - the table: `index` complete, true.
// - the pointer still holds its own position (the writer was interrupted): fixed chunks get
//   chunk 0 only and the warning "compressor was interrupted before writing chunk table of
//   PKZ file" (true); variable chunks the error "compressor was interrupted before writing
//   adaptive chunk table of PKZ file" (false).
// - a stream that cannot seek: fixed chunks an empty index (true); variable chunks false
//   with "cannot read adaptive chunk table of PKZ file from a stream that cannot seek".
// - a table that cannot be read: fixed chunks keep the chunks decoded before the fault (or
//   chunk 0 only) with the warning "corrupt chunk table" (table inside the stream), "chunk
//   table and %lld bytes are missing. PKZ file truncated during copy or transfer?" (table
//   beyond its end) or "chunk table is missing. improper use of PKZ compressor?" (table
//   exactly at its end), true; variable chunks the same text as error, false.
// Throws ByteStreamEndOfData when not even the pointer can be read.
bool read_chunk_index(ByteStreamIn& stream, EntropyDecoder& decoder, bool variable_chunks,
                      std::uint32_t min_chunk_bytes, ChunkIndex& index, std::string& error,
                      std::string& warning);
