#include "codec/las_write_engine.hpp"

#include <algorithm>

#include "codec/entropy_encoder.hpp"
#include "codec/item_codec_table.hpp"
#include "codec/pakrel.hpp"
#include "stream/bytestream_out.hpp"

namespace {
constexpr std::size_t kFirstTableAllocation = 1024;
}  // namespace

LASwriteEngine::LASwriteEngine() = default;
LASwriteEngine::~LASwriteEngine() = default;

bool LASwriteEngine::setup(std::uint32_t num_items, const LASitem* items, const Pakrel* codec,
                           const LASitemCodecFactory& factory) {
  // A second setup starts from nothing.
  outstream_ = nullptr;
  current_ = WriterSet::NONE;
  raw_writers_.clear();
  compressed_writers_.clear();
  encoder_.reset();
  layered_ = false;
  chunked_ = false;
  chunk_size_ = kVariableChunkSize;
  points_in_chunk_ = 0;
  chunks_written_ = 0;
  chunk_point_counts_.clear();
  chunk_byte_lengths_.clear();
  chunk_begin_ = 0;
  table_pointer_pos_ = kChunkTablePointerAtEnd;
  table_pointer_written_ = false;
  num_items_ = 0;

  if (num_items == 0 || items == nullptr) return false;
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
  for (const LASitem& item : item_list) {
    raw_writers_.push_back(create_raw_item_writer(item));
  }

  if (compressing) {
    encoder_ = std::make_unique<EntropyEncoder>();
    layered_ = codec->compressor == Pakrel::COMPRESSOR_LAYERED;
    for (const LASitem& item : item_list) {
      auto writer = factory.make_writer(item, *encoder_);
      if (!writer) return false;
      compressed_writers_.push_back(std::move(writer));
    }
    if (codec->compressor != Pakrel::COMPRESSOR_PER_POINT) {
      chunked_ = true;
      if (codec->chunk_size != 0) chunk_size_ = codec->chunk_size;
      points_in_chunk_ = 0;
    }
  }
  num_items_ = num_items;
  return true;
}

bool LASwriteEngine::attach(ByteStreamOut* stream) {
  if (stream == nullptr || num_items_ == 0) return false;
  outstream_ = stream;
  if (chunked_ && !table_pointer_written_) {
    chunks_written_ = 0;
    table_pointer_pos_ = stream->can_seek() ? stream->position() : kChunkTablePointerAtEnd;
    if (!stream->write64_le(&table_pointer_pos_)) return false;
    table_pointer_written_ = true;
    chunk_begin_ = stream->position();
  }
  for (auto& writer : raw_writers_)
    writer->init(stream);
  current_ = encoder_ ? WriterSet::NONE : WriterSet::RAW;
  return true;
}

bool LASwriteEngine::write_other(const std::uint8_t* const* point_items) {
  if (current_ == WriterSet::RAW) {
    raw_layout_.gather(point_items, record_.data());
    return outstream_->write_bytes(record_.data(), record_.size());
  }
  bool ok = true;
  if (chunked_ && points_in_chunk_ == chunk_size_) {
    ok = end_chunk();
    points_in_chunk_ = 0;
  }
  points_in_chunk_++;
  std::uint32_t context = 0;
  if (current_ == WriterSet::NONE) {
    // The first point of a chunk is stored raw and seeds the codecs.
    for (std::uint32_t i = 0; i < num_items_; i++) {
      if (!raw_writers_[i]->write(point_items[i], context)) ok = false;
      if (!compressed_writers_[i]->init(point_items[i], context)) ok = false;
    }
    current_ = WriterSet::COMPRESSED;
    if (!encoder_->init(outstream_)) ok = false;
  } else {
    for (std::uint32_t i = 0; i < num_items_; i++) {
      if (!compressed_writers_[i]->write(point_items[i], context)) ok = false;
    }
  }
  return ok;
}

bool LASwriteEngine::end_chunk() {
  bool ok = true;
  if (layered_) {
    if (!outstream_->write32_le(&points_in_chunk_)) ok = false;
    for (auto& writer : compressed_writers_) {
      if (!writer->write_layer_sizes(*outstream_)) ok = false;
    }
    for (auto& writer : compressed_writers_) {
      if (!writer->write_layers(*outstream_)) ok = false;
    }
  } else {
    if (!encoder_->done()) ok = false;
  }
  add_chunk_to_table();
  if (!attach(outstream_)) ok = false;
  return ok;
}

void LASwriteEngine::add_chunk_to_table() {
  if (chunk_byte_lengths_.capacity() == 0) {
    chunk_byte_lengths_.reserve(kFirstTableAllocation);
    if (chunk_size_ == kVariableChunkSize) chunk_point_counts_.reserve(kFirstTableAllocation);
  }
  const std::int64_t position = outstream_->position();
  if (chunk_size_ == kVariableChunkSize) chunk_point_counts_.push_back(points_in_chunk_);
  chunk_byte_lengths_.push_back(static_cast<std::uint32_t>(position - chunk_begin_));
  chunk_begin_ = position;
  chunks_written_++;
}

bool LASwriteEngine::close_chunk() {
  if (!chunked_ || chunk_size_ != kVariableChunkSize || !table_pointer_written_) return false;
  // Ending a chunk that holds no point would end an encoder that never started.
  if (current_ != WriterSet::COMPRESSED) return true;
  const bool ok = end_chunk();
  points_in_chunk_ = 0;
  return ok;
}

bool LASwriteEngine::finish() {
  // Nothing attached, or finished already: nothing more to write.
  if (outstream_ == nullptr) return true;
  const bool ok = finish_block();
  outstream_ = nullptr;
  return ok;
}

bool LASwriteEngine::finish_block() {
  if (current_ == WriterSet::COMPRESSED) {
    bool ok = true;
    if (layered_) {
      if (!outstream_->write32_le(&points_in_chunk_)) ok = false;
      for (auto& writer : compressed_writers_) {
        if (!writer->write_layer_sizes(*outstream_)) ok = false;
      }
      for (auto& writer : compressed_writers_) {
        if (!writer->write_layers(*outstream_)) ok = false;
      }
    } else {
      if (!encoder_->done()) ok = false;
    }
    current_ = WriterSet::NONE;
    if (!table_pointer_written_) return ok;
    if (points_in_chunk_ > 0) add_chunk_to_table();
    points_in_chunk_ = 0;
    return write_chunk_table() && ok;
  }
  if (current_ == WriterSet::NONE && encoder_ && table_pointer_written_) {
    return write_chunk_table();
  }
  return true;
}

bool LASwriteEngine::write_chunk_table() {
  const std::int64_t table_position = outstream_->position();
  if (table_pointer_pos_ != kChunkTablePointerAtEnd) {
    if (!outstream_->seek_to(table_pointer_pos_)) return false;
    if (!outstream_->write64_le(&table_position)) return false;
    if (!outstream_->seek_to(table_position)) return false;
  }
  if (!write_chunk_table_entries(*outstream_, *encoder_, chunk_size_ == kVariableChunkSize,
                                 chunk_point_counts_, chunk_byte_lengths_)) {
    return false;
  }
  if (table_pointer_pos_ == kChunkTablePointerAtEnd) {
    if (!outstream_->write64_le(&table_position)) return false;
  }
  return true;
}
