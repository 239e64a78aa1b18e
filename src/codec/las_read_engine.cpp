#include "codec/las_read_engine.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "codec/entropy_decoder.hpp"
#include "codec/item_codec_table.hpp"
#include "codec/las_read_parallel.hpp"
#include "codec/pakrel.hpp"
#include "stream/bytestream_in.hpp"

LASreadEngine::LASreadEngine(std::uint32_t decompress_selective)
    : decompress_selective_(decompress_selective) {}

LASreadEngine::~LASreadEngine() = default;

void LASreadEngine::fail(const char* format, ...) {
  char text[128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  error_ = text;
}

bool LASreadEngine::setup(std::uint32_t num_items, const LASitem* items, const Pakrel* codec,
                          const LASitemCodecFactory& factory) {
  // A second setup starts from nothing.
  pipeline_.reset();
  decoded_next_ = decoded_end_ = nullptr;
  table_spans_ = 0;
  items_.clear();
  codec_.reset();
  factory_ = factory;
  instream_ = nullptr;
  num_items_ = 0;
  current_ = ReaderSet::NONE;
  raw_readers_.clear();
  compressed_readers_.clear();
  decoder_.reset();
  layered_ = false;
  chunked_ = false;
  variable_chunks_ = false;
  table_read_ = false;
  table_failed_ = false;
  chunk_size_ = kVariableChunkSize;
  points_in_chunk_ = 0;
  current_chunk_ = 0;
  chunks_ = ChunkIndex{};
  point_size_ = 0;
  chunk_open_ = false;
  decoder_stopped_ = false;
  skip_point_.reset();
  copy_ = nullptr;
  copy_whole_ = false;

  if (num_items == 0 || num_items > UINT16_MAX || items == nullptr) return false;
  const std::span<const LASitem> item_list(items, num_items);
  if (codec != nullptr) {
    if (codec->items.size() != num_items ||
        !std::equal(item_list.begin(), item_list.end(), codec->items.begin())) {
      return false;
    }
  }
  const bool compressing = codec != nullptr && codec->compressor != Pakrel::COMPRESSOR_RAW;
  if (compressing && codec->coder != Pakrel::CODER_ENTROPY) return false;

  if (!raw_layout_.init(item_list)) return false;
  record_.assign(raw_layout_.record_size(), 0);
  point_size_ = raw_layout_.record_size();
  for (const LASitem& item : item_list) {
    raw_readers_.push_back(create_raw_item_reader(item));
  }

  if (compressing) {
    decoder_ = std::make_unique<EntropyDecoder>();
    layered_ = codec->compressor == Pakrel::COMPRESSOR_LAYERED;
    for (const LASitem& item : item_list) {
      auto reader = factory.make_reader(item, *decoder_, decompress_selective_);
      if (!reader) return false;
      compressed_readers_.push_back(std::move(reader));
    }
    // The record that skipped points are decoded into: bound to the same items, so that
    // the POINT14 codecs find a whole point behind their item pointer.
    if (!skip_point_.init_layout(nullptr, static_cast<std::uint16_t>(num_items), items, nullptr)) {
      return false;
    }
    if (codec->compressor == Pakrel::COMPRESSOR_PER_POINT) {
      table_read_ = true;  // one coded stream, no table
    } else {
      chunked_ = true;
      // Descriptor chunk size 0 (ours) and all bits set (other producers) both mean
      // variable chunks; the engine keeps the latter, as the writer does.
      if (codec->chunk_size != 0) chunk_size_ = codec->chunk_size;
      variable_chunks_ = chunk_size_ == kVariableChunkSize;
    }
  }
  items_.assign(item_list.begin(), item_list.end());
  if (codec != nullptr) codec_ = std::make_unique<Pakrel>(*codec);
  num_items_ = num_items;
  return true;
}

bool LASreadEngine::attach(ByteStreamIn* stream) {
  if (stream == nullptr || num_items_ == 0) return false;
  // The slots belong to the pool of the last attach.
  leave_parallel();
  pipeline_.reset();
  instream_ = stream;
  for (auto& reader : raw_readers_)
    reader->init(stream);
  if (decoder_) {
    // The first read starts a chunk.
    points_in_chunk_ = chunk_size_;
    chunk_open_ = false;
    decoder_stopped_ = false;
    point_start_ = 0;
    current_ = ReaderSet::NONE;
  } else {
    point_start_ = stream->position();
    current_ = ReaderSet::RAW;
  }
  return true;
}

bool LASreadEngine::read_other(std::uint8_t* const* point_items) {
  if (current_ == ReaderSet::RAW) {
    try {
      instream_->read_bytes(record_.data(), record_.size());
    } catch (const ByteStreamEndOfData&) {
      fail("end-of-file");
      return false;
    }
    raw_layout_.scatter(record_.data(), point_items);
    return true;
  }
  if (current_ == ReaderSet::PARALLEL) return read_next_decoded_chunk(point_items);
  if (!decoder_ || instream_ == nullptr) return false;
  return read_compressed(point_items);
}

bool LASreadEngine::end_chunk_and_check() {
  decoder_->done();
  current_chunk_++;
  if (current_chunk_ < chunks_.tabled && chunks_.starts[current_chunk_] != instream_->position()) {
    current_chunk_--;
    return false;
  }
  return true;
}

bool LASreadEngine::start_chunk() {
  if (!table_read_) {
    // A table that could not be read stays unread: reading it again from wherever the
    // stream now stands would take chunk bytes for a table pointer.
    if (table_failed_) return false;
    if (!read_chunk_index(*instream_, *decoder_, variable_chunks_, point_size_, chunks_, error_,
                          warning_)) {
      table_failed_ = true;
      return false;
    }
    table_read_ = true;
    current_chunk_ = 0;
    // Chunks learnt while reading (beyond the table) have no known end.
    table_spans_ = chunks_.starts.empty()
                       ? 0
                       : std::min<std::uint32_t>(
                             chunks_.tabled, static_cast<std::uint32_t>(chunks_.starts.size() - 1));
  }
  point_start_ = instream_->position();
  chunk_open_ = true;
  decoder_stopped_ = false;
  current_ = ReaderSet::NONE;
  if (current_chunk_ >= chunks_.tabled) {
    // Variable chunks have their sizes only in the table.
    if (variable_chunks_) throw CodecCorruptData{};
    // No table, or one that ends before this chunk: learn its start as it is read.
    if (chunks_.starts.size() > current_chunk_) {
      chunks_.starts[current_chunk_] = point_start_;
    } else {
      chunks_.starts.push_back(point_start_);
    }
    chunks_.tabled = current_chunk_ + 1;
  } else if (variable_chunks_) {
    chunk_size_ = static_cast<std::uint32_t>(chunks_.totals[current_chunk_ + 1] -
                                             chunks_.totals[current_chunk_]);
  }
  points_in_chunk_ = 0;
  return true;
}

bool LASreadEngine::read_compressed(std::uint8_t* const* point_items) {
  // The decoder was left in the middle of an operation: only a new chunk (a seek) can
  // go on. The error text of the failure stays.
  if (decoder_stopped_) return false;
  try {
    // A per-point stream (no chunks) starts once and never ends.
    if (points_in_chunk_ == chunk_size_ && (chunked_ || !chunk_open_)) {
      if (chunk_open_ && !end_chunk_and_check()) throw CodecCorruptData{};
      if (!start_chunk()) return false;
      if (pool_ != nullptr && start_parallel()) return take_decoded_chunk(point_items);
    }
    points_in_chunk_++;
    std::uint32_t context = 0;
    if (current_ == ReaderSet::COMPRESSED) {
      for (std::uint32_t i = 0; i < num_items_; i++) {
        compressed_readers_[i]->read(point_items[i], context);
      }
      return true;
    }
    // The first point of a chunk is stored raw and seeds the codecs.
    for (std::uint32_t i = 0; i < num_items_; i++) {
      raw_readers_[i]->read(point_items[i], context);
    }
    start_coded_chunk(point_items, context);
    current_ = ReaderSet::COMPRESSED;
    return true;
  } catch (const ByteStreamEndOfData&) {
    fail("end-of-file during chunk with index %u", current_chunk_);
    decoder_stopped_ = current_ == ReaderSet::COMPRESSED;
    return false;
  } catch (const CodecCorruptData&) {
    fail("chunk with index %u of %u is corrupt", current_chunk_, chunks_.tabled);
    // Only the rest of this chunk is lost: the next read starts the next chunk.
    if (chunked_ && current_chunk_ + 1 < chunks_.tabled &&
        instream_->seek_to(chunks_.starts[current_chunk_ + 1])) {
      points_in_chunk_ = chunk_size_;
    } else {
      decoder_stopped_ = current_ == ReaderSet::COMPRESSED;
    }
    return false;
  }
}

void LASreadEngine::start_coded_chunk(std::uint8_t* const* point_items, std::uint32_t& context) {
  if (layered_) {
    if (!decoder_->init(instream_, false)) throw CodecCorruptData{};
    std::uint32_t chunk_point_count;  // known from the table already
    instream_->read32_le(&chunk_point_count);
    for (auto& reader : compressed_readers_) {
      if (!reader->read_layer_sizes(*instream_)) throw CodecCorruptData{};
    }
    for (std::uint32_t i = 0; i < num_items_; i++) {
      if (!compressed_readers_[i]->init(*instream_, point_items[i], context)) {
        throw CodecCorruptData{};
      }
    }
  } else {
    for (std::uint32_t i = 0; i < num_items_; i++) {
      if (!compressed_readers_[i]->init(*instream_, point_items[i], context)) {
        throw CodecCorruptData{};
      }
    }
    if (!decoder_->init(instream_)) throw CodecCorruptData{};
  }
}

bool LASreadEngine::copy_records_to(ByteStreamOut* copy) {
  if (copy == nullptr) {
    copy_ = nullptr;
    return true;
  }
  if (!decoder_) return false;
  copy_ = copy;
  copy_whole_ = true;
  return true;
}

bool LASreadEngine::seek(std::int64_t current, std::int64_t target) {
  if (copy_) break_copy();
  if (instream_ == nullptr || !instream_->can_seek() || target < 0) return false;
  if (!decoder_) {
    if (current == target) return true;
    // A target from a header's point count may lie beyond any stream.
    if (point_size_ == 0 || target > (INT64_MAX - point_start_) / point_size_) return false;
    return instream_->seek_to(point_start_ + static_cast<std::int64_t>(point_size_) * target);
  }
  std::int64_t delta = 0;
  // With the workers decoding, the place in the current chunk is the records handed out.
  if (current_ == ReaderSet::PARALLEL) points_in_chunk_ = decoded_points_taken();
  try {
    if (!chunk_open_ && !start_chunk()) return false;
    if (chunked_) {
      std::uint32_t target_chunk;
      if (variable_chunks_) {
        // Variable chunks have their sizes only in the table: without one, no seek.
        if (chunks_.tabled == 0) throw CodecCorruptData{};
        // The last tabled chunk that begins at or before the target.
        const auto begin = chunks_.totals.begin();
        const auto end = begin + chunks_.tabled;
        auto after = std::upper_bound(begin, end, static_cast<std::uint64_t>(target));
        target_chunk = after == begin ? 0 : static_cast<std::uint32_t>(after - begin - 1);
        chunk_size_ = static_cast<std::uint32_t>(chunks_.totals[target_chunk + 1] -
                                                 chunks_.totals[target_chunk]);
        delta = target - static_cast<std::int64_t>(chunks_.totals[target_chunk]);
      } else {
        target_chunk = static_cast<std::uint32_t>(target / chunk_size_);
        delta = target % chunk_size_;
      }
      if (target_chunk >= chunks_.tabled) {
        // Beyond what the table knows: decode forward from the last known chunk.
        if (current_chunk_ + 1 < chunks_.tabled) {
          leave_parallel();
          decoder_->done();
          current_chunk_ = chunks_.tabled - 1;
          if (!instream_->seek_to(chunks_.starts[current_chunk_])) return false;
          if (!start_chunk()) return false;
        }
        delta += static_cast<std::int64_t>(chunk_size_) * (target_chunk - current_chunk_) -
                 points_in_chunk_;
      } else if (current_chunk_ != target_chunk || current > target) {
        leave_parallel();
        decoder_->done();
        current_chunk_ = target_chunk;
        if (!instream_->seek_to(chunks_.starts[target_chunk])) return false;
        if (!start_chunk()) return false;
      } else {
        delta = target - current;
      }
    } else if (current > target) {
      decoder_->done();
      if (!instream_->seek_to(point_start_)) return false;
      if (!start_chunk()) return false;
      delta = target;
    } else {
      delta = target - current;
    }
  } catch (const ByteStreamEndOfData&) {
    fail("end-of-file during chunk with index %u", current_chunk_);
    return false;
  } catch (const CodecCorruptData&) {
    fail("chunk with index %u of %u is corrupt", current_chunk_, chunks_.tabled);
    return false;
  }
  std::uint8_t* const* skip_items = skip_point_.item_data.data();
  for (; delta > 0; delta--) {
    if (!read(skip_items)) return false;
  }
  return true;
}

bool LASreadEngine::verify_end() {
  bool result = true;
  if (current_ == ReaderSet::PARALLEL && verify_end_parallel(result)) return result;
  if (current_ == ReaderSet::COMPRESSED && decoder_) {
    if (!end_chunk_and_check()) {
      fail("chunk with index %u of %u is corrupt", current_chunk_, chunks_.tabled);
      return false;
    }
  }
  return true;
}

bool LASreadEngine::detach() {
  leave_parallel();
  instream_ = nullptr;
  return true;
}

bool LASreadEngine::locate_stored_chunks(std::uint32_t& chunks) {
  chunks = 0;
  if (!chunked_ || instream_ == nullptr || !instream_->can_seek() || chunk_open_ ||
      current_ != ReaderSet::NONE) {
    return false;
  }
  try {
    if (!start_chunk()) return false;
  } catch (const ByteStreamEndOfData&) {
    return false;
  } catch (const CodecCorruptData&) {
    return false;
  }
  chunks = table_spans_;
  return continue_at_chunk(0);
}

bool LASreadEngine::stored_chunk(std::uint32_t chunk, StoredChunk& where) const {
  if (chunk >= table_spans_) return false;
  where.start = chunks_.starts[chunk];
  where.length = chunks_.starts[chunk + 1] - where.start;
  const std::uint64_t points = variable_chunks_ ? chunks_.totals[chunk + 1] - chunks_.totals[chunk]
                                                : std::uint64_t{chunk_size_};
  if (where.length <= 0 || points == 0 || points > UINT32_MAX) return false;
  where.points = static_cast<std::uint32_t>(points);
  return true;
}

bool LASreadEngine::read_stored_chunk(const StoredChunk& where, std::uint8_t* bytes) {
  if (instream_ == nullptr) return false;
  if (copy_) break_copy();
  try {
    if (instream_->position() != where.start && !instream_->seek_to(where.start)) return false;
    instream_->read_bytes(bytes, static_cast<std::size_t>(where.length));
  } catch (const ByteStreamEndOfData&) {
    return false;
  }
  return true;
}

bool LASreadEngine::continue_at_chunk(std::uint32_t chunk) {
  if (copy_) break_copy();
  if (!chunked_ || instream_ == nullptr || chunk >= chunks_.starts.size()) return false;
  leave_parallel();
  if (!instream_->seek_to(chunks_.starts[chunk])) return false;
  // The state of an engine whose last chunk ended just before this one.
  current_chunk_ = chunk;
  chunk_open_ = false;
  decoder_stopped_ = false;
  point_start_ = 0;
  points_in_chunk_ = chunk_size_;
  current_ = ReaderSet::NONE;
  return true;
}
