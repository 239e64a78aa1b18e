#include "codec/layered_chunk_recoder.hpp"

#include <cstring>

#include "codec/entropy_models.hpp"
#include "codec/las_read_engine.hpp"
#include "codec/layered_tables.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out.hpp"

namespace {

constexpr std::uint32_t kClassificationLayer = 2;
constexpr std::uint32_t kFlagsLayer = 3;
constexpr std::uint32_t kClassSymbols = 256;
constexpr std::uint32_t kFlagSymbols = 64;
// Bytes of the stored POINT14 record that hold the flags and the classification.
constexpr std::size_t kFlagsByte = 15;
constexpr std::size_t kClassificationByte = 16;

std::uint32_t channel_of(std::uint8_t flags) {
  return (flags >> 4) & 0x03;
}

// (scan direction + 2 x edge of flight line) x 16 + the four classification flags.
std::uint32_t flag_value(std::uint8_t flags) {
  return ((flags >> 6) << 4) | (flags & 0x0F);
}

std::uint32_t read32(const std::uint8_t* bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

}  // namespace

// The part of a POINT14 context that the rewritten layer uses: its reference value and its
// models, made on first use and reset whenever the context starts.
struct LASlayeredChunkRecoder::Context {
  bool encoding = true;  // the kind of models made
  bool in_use = false;
  std::uint8_t reference = 0;
  std::array<std::unique_ptr<SymbolModel>, 64> models;

  void start(std::uint8_t value) {
    for (auto& each : models)
      if (each) each->init();
    reference = value;
    in_use = true;
  }
};

LASlayeredChunkRecoder::LASlayeredChunkRecoder() = default;
LASlayeredChunkRecoder::~LASlayeredChunkRecoder() = default;

bool LASlayeredChunkRecoder::setup(std::span<const LASitem> items, Layer layer,
                                   bool with_point_source) {
  reader_.reset();
  if (items.empty() || items[0].type != LASitem::POINT14 || items[0].version < 2 ||
      items[0].version > 4) {
    return false;
  }
  record_size_ = 0;
  extra_layers_ = 0;
  for (std::size_t i = 0; i < items.size(); i++) {
    const LASitem& item = items[i];
    record_size_ += item.size;
    if (i == 0) continue;
    if (item.version < 2 || item.version > 4) return false;
    switch (item.type) {
      case LASitem::RGB14:
      case LASitem::WAVEPACKET14:
        extra_layers_ += 1;
        break;
      case LASitem::RGBNIR14:
        extra_layers_ += 2;
        break;
      case LASitem::BYTE14:
        extra_layers_ += item.size;
        break;
      default:
        return false;
    }
  }
  layer_ = layer;
  rewritten_ = layer == Layer::kClassification ? kClassificationLayer : kFlagsLayer;
  const std::uint32_t selective =
      kDecompressZ | (with_point_source ? kDecompressPointSource : 0u) |
      (layer == Layer::kClassification ? kDecompressClassification : kDecompressFlags);
  if (items[0].version == 4) {
    reader_ = std::make_unique<LASreadItemCompressed_POINT14_v4>(selective);
  } else {
    reader_ = std::make_unique<LASreadItemCompressed_POINT14_v3>(selective);
  }
  return true;
}

bool LASlayeredChunkRecoder::parse(const std::uint8_t* chunk, std::size_t length,
                                   std::uint32_t count) {
  const std::size_t layers = kPoint14Layers + extra_layers_;
  const std::size_t head = std::size_t{record_size_} + 4;
  if (count == 0 || length < head + 4 * layers) return false;
  // The full writer stores the chunk's true count; a chunk that says otherwise is left to
  // the ordinary reader.
  if (read32(chunk + record_size_) != count) return false;
  sizes_.resize(layers);
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < layers; i++) {
    sizes_[i] = read32(chunk + head + 4 * i);
    total += sizes_[i];
  }
  layers_at_ = head + 4 * layers;
  if (total != length - layers_at_) return false;
  chunk_ = chunk;
  length_ = length;
  count_ = count;
  return true;
}

bool LASlayeredChunkRecoder::decode(const std::uint8_t* chunk, std::size_t length,
                                    std::uint32_t count, std::vector<Point>& points) {
  if (!reader_ || !parse(chunk, length, count)) return false;
  points.resize(count);
  ByteStreamInArray stream(chunk, static_cast<std::int64_t>(length));
  try {
    stream.seek_to(record_size_ + 4);
    reader_->read_layer_sizes(stream);
    if (!stream.seek_to(static_cast<std::int64_t>(layers_at_))) return false;
    std::uint32_t context = 0;
    if (!reader_->init_record(stream, chunk, context)) return false;
    Point& first = points[0];
    std::memcpy(&first.X, chunk + 0, 4);
    std::memcpy(&first.Y, chunk + 4, 4);
    std::memcpy(&first.Z, chunk + 8, 4);
    first.returns = chunk[14];
    first.flags = chunk[kFlagsByte];
    first.classification = chunk[kClassificationByte];
    std::memcpy(&first.point_source_ID, chunk + 20, 2);
    for (std::uint32_t i = 1; i < count; i++) {
      const Point14Item& item = reader_->read_item(context);
      Point& point = points[i];
      point.X = item.X;
      point.Y = item.Y;
      point.Z = item.Z;
      point.point_source_ID = item.point_source_ID;
      point.returns = item.returns;
      point.flags = item.flags;
      point.classification = item.classification;
    }
  } catch (const ByteStreamEndOfData&) {
    return false;
  } catch (const CodecCorruptData&) {
    return false;
  }
  return true;
}

SymbolModel& LASlayeredChunkRecoder::model(Context& context, std::uint32_t index) {
  std::unique_ptr<SymbolModel>& each = context.models[index];
  if (!each) {
    each = std::make_unique<SymbolModel>(
        layer_ == Layer::kClassification ? kClassSymbols : kFlagSymbols, context.encoding);
    each->init();
  }
  return *each;
}

std::uint32_t LASlayeredChunkRecoder::start_contexts(std::span<std::unique_ptr<Context>> set,
                                                     const Point& first, bool encoding) {
  for (auto& context : set) {
    if (!context) {
      context = std::make_unique<Context>();
      context->encoding = encoding;
    }
    context->in_use = false;
  }
  const std::uint32_t channel = channel_of(first.flags);
  set[channel]->start(layer_ == Layer::kClassification
                          ? first.classification
                          : static_cast<std::uint8_t>(flag_value(first.flags)));
  return channel;
}

bool LASlayeredChunkRecoder::decode_layer(const std::uint8_t* chunk, std::size_t length,
                                          std::uint32_t count, std::vector<Point>& points) {
  if (!reader_ || points.size() != count || !parse(chunk, length, count)) return false;
  const bool classes = layer_ == Layer::kClassification;
  Point& first = points[0];
  first.flags = chunk[kFlagsByte];
  first.classification = chunk[kClassificationByte];
  std::size_t at = layers_at_;
  for (std::uint32_t i = 0; i < rewritten_; i++)
    at += sizes_[i];
  const std::uint32_t size = sizes_[rewritten_];
  ByteStreamInArray bytes(chunk + at, size);
  EntropyDecoder decoder;
  try {
    // An empty layer: every point keeps its context's reference, as the reader keeps it.
    if (size != 0) decoder.init(&bytes);
    std::uint32_t current = start_contexts(decode_contexts_, first, false);
    for (std::uint32_t i = 1; i < count; i++) {
      Point& point = points[i];
      const std::uint32_t channel = channel_of(point.flags);
      if (channel != current) {
        if (!decode_contexts_[channel]->in_use) {
          decode_contexts_[channel]->start(decode_contexts_[current]->reference);
        }
        current = channel;
      }
      Context& context = *decode_contexts_[current];
      std::uint32_t value = context.reference;
      if (size != 0) {
        std::uint32_t index = context.reference;
        if (classes) {
          index = class_model_index(context.reference,
                                    return_position(point.returns & 0x0F, point.returns >> 4));
        }
        value = decoder.decode_symbol(model(context, index));
      }
      if (classes) {
        point.classification = static_cast<std::uint8_t>(value);
      } else {
        point.flags =
            static_cast<std::uint8_t>((value & 0x0F) | (point.flags & 0x30) | ((value >> 4) << 6));
      }
      context.reference = static_cast<std::uint8_t>(value);
    }
  } catch (const ByteStreamEndOfData&) {
    return false;
  } catch (const CodecCorruptData&) {
    return false;
  }
  return true;
}

// The full writer's handling of the layer, step for step: the context follows the channel,
// a channel first met in the chunk starts from the reference of the context left, and each
// point is coded with the model of its context's reference value.
void LASlayeredChunkRecoder::code_layer(std::span<const Point> points) {
  const bool classes = layer_ == Layer::kClassification;
  auto value_of = [classes](const Point& point) -> std::uint8_t {
    return classes ? point.classification : static_cast<std::uint8_t>(flag_value(point.flags));
  };
  out_layer_.start();
  std::uint32_t current = start_contexts(contexts_, points[0], true);
  for (std::size_t i = 1; i < points.size(); i++) {
    const Point& point = points[i];
    const std::uint32_t channel = channel_of(point.flags);
    if (channel != current) {
      if (!contexts_[channel]->in_use) contexts_[channel]->start(contexts_[current]->reference);
      current = channel;
    }
    Context& context = *contexts_[current];
    const std::uint8_t value = value_of(point);
    std::uint32_t index = context.reference;
    if (classes) {
      index = class_model_index(context.reference,
                                return_position(point.returns & 0x0F, point.returns >> 4));
    }
    if (value != context.reference) out_layer_.changed = true;
    out_layer_.encoder.encode_symbol(model(context, index), value);
    context.reference = value;
  }
}

bool LASlayeredChunkRecoder::encode(std::span<const Point> points, ByteStreamOut& out) {
  if (chunk_ == nullptr || points.size() != count_) return false;
  code_layer(points);
  bool ok = !out_layer_.changed || out_layer_.finish();
  const std::uint32_t new_size = out_layer_.changed ? out_layer_.size() : 0;

  // The first record, raw, with the value its point has now.
  const std::size_t head = std::size_t{record_size_} + 4;
  std::size_t patched = kClassificationByte;
  std::uint8_t value = points[0].classification;
  if (layer_ == Layer::kFlags) {
    patched = kFlagsByte;
    value = points[0].flags;
  }
  if (!out.write_bytes(chunk_, patched) || !out.write_bytes(&value, 1) ||
      !out.write_bytes(chunk_ + patched + 1, head - patched - 1)) {
    return false;
  }
  // The sizes, the rewritten one replaced.
  for (std::size_t i = 0; i < sizes_.size(); i++) {
    const std::uint32_t size = i == rewritten_ ? new_size : sizes_[i];
    if (!out.write32_le(&size)) return false;
  }
  // The layers before the rewritten one, the rewritten one, the ones after.
  std::size_t before = 0;
  for (std::uint32_t i = 0; i < rewritten_; i++)
    before += sizes_[i];
  const std::size_t after_at = layers_at_ + before + sizes_[rewritten_];
  if (!out.write_bytes(chunk_ + layers_at_, before)) return false;
  if (new_size != 0 && !out.write_bytes(out_layer_.bytes.data(), new_size)) return false;
  if (!out.write_bytes(chunk_ + after_at, length_ - after_at)) return false;
  return ok;
}
