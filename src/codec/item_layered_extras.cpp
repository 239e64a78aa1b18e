#include "codec/item_layered_extras.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "codec/byte_model_family.hpp"
#include "codec/integer_coder.hpp"
#include "codec/las_read_engine.hpp"
#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

// The contexts of one layered item codec and the rule that picks the models and the
// reference of each point (see the header). A Context has `in_use` and
// `start(from_reference_bytes)` and `reference_bytes()`.
template <class Context>
class LayeredContextSet {
 public:
  template <class Make>
  LayeredContextSet(std::uint32_t version, Make make_context)
      : reference_follows_current_(version >= 4) {
    for (auto& context : contexts_)
      context = make_context();
  }

  // A new chunk, started from its first item.
  void start_chunk(std::uint32_t context, const std::uint8_t* item) {
    for (auto& each : contexts_)
      each->in_use = false;
    current_ = reference_ = context & 3;
    contexts_[current_]->start(item);
  }

  // The context argument of the point.
  void select(std::uint32_t context) {
    context &= 3;
    if (context != current_) {
      current_ = context;
      if (!contexts_[context]->in_use) {
        contexts_[context]->start(contexts_[reference_]->reference_bytes());
        reference_ = context;
      }
    }
    if (reference_follows_current_) reference_ = current_;
  }

  Context& models() { return *contexts_[current_]; }
  Context& reference() { return *contexts_[reference_]; }

 private:
  bool reference_follows_current_;
  std::array<std::unique_ptr<Context>, kLayeredContexts> contexts_;
  std::uint32_t current_ = 0;
  std::uint32_t reference_ = 0;
};

namespace {

constexpr std::uint32_t kRgbBytes = 6;
constexpr std::uint32_t kRgbNirBytes = 8;
enum ColourLayer : std::uint32_t { LAYER_RGB = 0, LAYER_NIR = 1 };

// Bits of the colour change symbol: which bytes differ from the reference, and whether the
// colour is not a gray (a gray codes only red).
constexpr std::uint32_t kRedLow = 1u << 0;
constexpr std::uint32_t kRedHigh = 1u << 1;
constexpr std::uint32_t kGreenLow = 1u << 2;
constexpr std::uint32_t kGreenHigh = 1u << 3;
constexpr std::uint32_t kBlueLow = 1u << 4;
constexpr std::uint32_t kBlueHigh = 1u << 5;
constexpr std::uint32_t kNotGray = 1u << 6;

std::uint8_t clamp_byte(int value) {
  return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}
std::uint32_t low(std::uint16_t value) {
  return value & 0xFF;
}
std::uint32_t high(std::uint16_t value) {
  return value >> 8;
}

void load_u16(std::uint16_t* values, const std::uint8_t* bytes, std::uint32_t count) {
  std::memcpy(values, bytes, 2 * count);
}

}  // namespace

template <class Coder>
struct ColourContext {
  ColourContext(bool encoding, bool with_nir) : change(128, encoding), nir_change(4, encoding) {
    bytes.reserve(6);
    for (int i = 0; i < 6; i++)
      bytes.emplace_back(256, encoding);
    if (with_nir) {
      nir_low = std::make_unique<SymbolModel>(256, encoding);
      nir_high = std::make_unique<SymbolModel>(256, encoding);
    }
  }
  void start(const std::uint8_t* from) {
    std::memcpy(reference, from, sizeof(reference));
    change.init();
    for (SymbolModel& model : bytes)
      model.init();
    nir_change.init();
    if (nir_low) {
      nir_low->init();
      nir_high->init();
    }
    in_use = true;
  }
  const std::uint8_t* reference_bytes() const { return reference; }

  bool in_use = false;
  std::uint8_t reference[kRgbNirBytes] = {};
  SymbolModel change;
  std::vector<SymbolModel> bytes;  // red low, red high, green low, green high, blue low, high
  SymbolModel nir_change;
  std::unique_ptr<SymbolModel> nir_low, nir_high;
};

namespace {

// The colour coding of the chunked colour codec: red by its byte differences, green and blue
// predicted from red's change.
std::uint32_t encode_rgb(EntropyEncoder& encoder, ColourContext<EntropyEncoder>& m,
                         const std::uint16_t* last, const std::uint16_t* colour) {
  const std::uint32_t change = (low(last[0]) != low(colour[0]) ? kRedLow : 0) |
                               (high(last[0]) != high(colour[0]) ? kRedHigh : 0) |
                               (low(last[1]) != low(colour[1]) ? kGreenLow : 0) |
                               (high(last[1]) != high(colour[1]) ? kGreenHigh : 0) |
                               (low(last[2]) != low(colour[2]) ? kBlueLow : 0) |
                               (high(last[2]) != high(colour[2]) ? kBlueHigh : 0) |
                               (colour[0] != colour[1] || colour[0] != colour[2] ? kNotGray : 0);
  encoder.encode_symbol(m.change, change);
  const int diff_low = static_cast<int>(low(colour[0])) - static_cast<int>(low(last[0]));
  const int diff_high = static_cast<int>(high(colour[0])) - static_cast<int>(high(last[0]));
  if (change & kRedLow) encoder.encode_symbol(m.bytes[0], static_cast<std::uint8_t>(diff_low));
  if (change & kRedHigh) encoder.encode_symbol(m.bytes[1], static_cast<std::uint8_t>(diff_high));
  if (!(change & kNotGray)) return change;
  if (change & kGreenLow) {
    const int predicted = clamp_byte(diff_low + static_cast<int>(low(last[1])));
    encoder.encode_symbol(m.bytes[2], static_cast<std::uint8_t>(low(colour[1]) - predicted));
  }
  if (change & kBlueLow) {
    const int e =
        (diff_low + static_cast<int>(low(colour[1])) - static_cast<int>(low(last[1]))) / 2;
    const int predicted = clamp_byte(e + static_cast<int>(low(last[2])));
    encoder.encode_symbol(m.bytes[4], static_cast<std::uint8_t>(low(colour[2]) - predicted));
  }
  if (change & kGreenHigh) {
    const int predicted = clamp_byte(diff_high + static_cast<int>(high(last[1])));
    encoder.encode_symbol(m.bytes[3], static_cast<std::uint8_t>(high(colour[1]) - predicted));
  }
  if (change & kBlueHigh) {
    const int e =
        (diff_high + static_cast<int>(high(colour[1])) - static_cast<int>(high(last[1]))) / 2;
    const int predicted = clamp_byte(e + static_cast<int>(high(last[2])));
    encoder.encode_symbol(m.bytes[5], static_cast<std::uint8_t>(high(colour[2]) - predicted));
  }
  return change;
}

void decode_rgb(EntropyDecoder& decoder, ColourContext<EntropyDecoder>& m,
                const std::uint16_t* last, std::uint16_t* colour) {
  const std::uint32_t change = decoder.decode_symbol(m.change);
  std::uint32_t red_low = low(last[0]);
  std::uint32_t red_high = high(last[0]);
  if (change & kRedLow) red_low = (red_low + decoder.decode_symbol(m.bytes[0])) & 0xFF;
  if (change & kRedHigh) red_high = (red_high + decoder.decode_symbol(m.bytes[1])) & 0xFF;
  colour[0] = static_cast<std::uint16_t>(red_low | (red_high << 8));
  if (!(change & kNotGray)) {
    colour[1] = colour[2] = colour[0];
    return;
  }
  const int diff_low = static_cast<int>(red_low) - static_cast<int>(low(last[0]));
  const int diff_high = static_cast<int>(red_high) - static_cast<int>(high(last[0]));
  std::uint32_t green_low = low(last[1]);
  std::uint32_t blue_low = low(last[2]);
  std::uint32_t green_high = high(last[1]);
  std::uint32_t blue_high = high(last[2]);
  if (change & kGreenLow) {
    const int predicted = clamp_byte(diff_low + static_cast<int>(low(last[1])));
    green_low = (decoder.decode_symbol(m.bytes[2]) + predicted) & 0xFF;
  }
  if (change & kBlueLow) {
    const int e = (diff_low + static_cast<int>(green_low) - static_cast<int>(low(last[1]))) / 2;
    const int predicted = clamp_byte(e + static_cast<int>(low(last[2])));
    blue_low = (decoder.decode_symbol(m.bytes[4]) + predicted) & 0xFF;
  }
  if (change & kGreenHigh) {
    const int predicted = clamp_byte(diff_high + static_cast<int>(high(last[1])));
    green_high = (decoder.decode_symbol(m.bytes[3]) + predicted) & 0xFF;
  }
  if (change & kBlueHigh) {
    const int e = (diff_high + static_cast<int>(green_high) - static_cast<int>(high(last[1]))) / 2;
    const int predicted = clamp_byte(e + static_cast<int>(high(last[2])));
    blue_high = (decoder.decode_symbol(m.bytes[5]) + predicted) & 0xFF;
  }
  colour[1] = static_cast<std::uint16_t>(green_low | (green_high << 8));
  colour[2] = static_cast<std::uint16_t>(blue_low | (blue_high << 8));
}

// Ends every layer and writes their sizes, 0 for the unchanged ones.
template <std::size_t N>
bool finish_layers(ByteStreamOut& stream, std::array<LayerOut, N>& layers, std::uint32_t count) {
  bool ok = true;
  bool keep[N];
  for (std::uint32_t i = 0; i < count; i++) {
    keep[i] = layers[i].changed;
    if (!layers[i].finish()) ok = false;
  }
  return write_layer_sizes(stream, std::span<LayerOut>(layers.data(), count), keep) && ok;
}

template <std::size_t N>
bool write_changed_layers(ByteStreamOut& stream, std::array<LayerOut, N>& layers,
                          std::uint32_t count) {
  bool keep[N];
  for (std::uint32_t i = 0; i < count; i++)
    keep[i] = layers[i].changed;
  return write_layer_bytes(stream, std::span<LayerOut>(layers.data(), count), keep);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// RGB14, RGBNIR14

LASwriteItemCompressed_RGB14_layered::LASwriteItemCompressed_RGB14_layered(std::uint32_t version,
                                                                           bool with_nir)
    : with_nir_(with_nir),
      contexts_(std::make_unique<LayeredContextSet<ColourContext<EntropyEncoder>>>(
          version,
          [with_nir] { return std::make_unique<ColourContext<EntropyEncoder>>(true, with_nir); })) {
}

LASwriteItemCompressed_RGB14_layered::~LASwriteItemCompressed_RGB14_layered() = default;

bool LASwriteItemCompressed_RGB14_layered::init(const std::uint8_t* item, std::uint32_t& context) {
  for (LayerOut& layer : layers_)
    layer.start();
  std::uint8_t first[kRgbNirBytes] = {};
  std::memcpy(first, item, with_nir_ ? kRgbNirBytes : kRgbBytes);
  contexts_->start_chunk(context, first);
  return true;
}

bool LASwriteItemCompressed_RGB14_layered::write(const std::uint8_t* item, std::uint32_t& context) {
  contexts_->select(context);
  ColourContext<EntropyEncoder>& m = contexts_->models();
  std::uint8_t* reference = contexts_->reference().reference;
  std::uint16_t last[4];
  std::uint16_t colour[4];
  const std::uint32_t words = with_nir_ ? 4 : 3;
  load_u16(last, reference, words);
  load_u16(colour, item, words);
  if (encode_rgb(layers_[LAYER_RGB].encoder, m, last, colour) != 0) {
    layers_[LAYER_RGB].changed = true;
  }
  if (with_nir_) {
    const std::uint32_t change =
        (low(last[3]) != low(colour[3]) ? 1u : 0u) | (high(last[3]) != high(colour[3]) ? 2u : 0u);
    EntropyEncoder& nir = layers_[LAYER_NIR].encoder;
    nir.encode_symbol(m.nir_change, change);
    if (change & 1) nir.encode_symbol(*m.nir_low, (low(colour[3]) - low(last[3])) & 0xFF);
    if (change & 2) nir.encode_symbol(*m.nir_high, (high(colour[3]) - high(last[3])) & 0xFF);
    if (change) layers_[LAYER_NIR].changed = true;
  }
  std::memcpy(reference, item, 2 * words);
  return true;
}

bool LASwriteItemCompressed_RGB14_layered::write_layer_sizes(ByteStreamOut& stream) {
  return finish_layers(stream, layers_, with_nir_ ? 2 : 1);
}

bool LASwriteItemCompressed_RGB14_layered::write_layers(ByteStreamOut& stream) {
  return write_changed_layers(stream, layers_, with_nir_ ? 2 : 1);
}

LASreadItemCompressed_RGB14_layered::LASreadItemCompressed_RGB14_layered(
    std::uint32_t version, bool with_nir, std::uint32_t decompress_selective)
    : with_nir_(with_nir),
      contexts_(
          std::make_unique<LayeredContextSet<ColourContext<EntropyDecoder>>>(version, [with_nir] {
            return std::make_unique<ColourContext<EntropyDecoder>>(false, with_nir);
          })) {
  layers_[LAYER_RGB].requested = (decompress_selective & kDecompressRgb) != 0;
  layers_[LAYER_NIR].requested = (decompress_selective & kDecompressNir) != 0;
}

LASreadItemCompressed_RGB14_layered::~LASreadItemCompressed_RGB14_layered() = default;

bool LASreadItemCompressed_RGB14_layered::read_layer_sizes(ByteStreamIn& stream) {
  for (std::uint32_t i = 0; i < (with_nir_ ? 2u : 1u); i++)
    stream.read32_le(&layers_[i].size);
  return true;
}

bool LASreadItemCompressed_RGB14_layered::init(ByteStreamIn& stream, const std::uint8_t* item,
                                               std::uint32_t& context) {
  if (!buffer_.load(stream, std::span<LayerIn>(layers_.data(), with_nir_ ? 2 : 1))) return false;
  std::uint8_t first[kRgbNirBytes] = {};
  std::memcpy(first, item, with_nir_ ? kRgbNirBytes : kRgbBytes);
  contexts_->start_chunk(context, first);
  return true;
}

void LASreadItemCompressed_RGB14_layered::read(std::uint8_t* item, std::uint32_t& context) {
  contexts_->select(context);
  ColourContext<EntropyDecoder>& m = contexts_->models();
  std::uint8_t* reference = contexts_->reference().reference;
  const std::uint32_t words = with_nir_ ? 4 : 3;
  std::uint16_t last[4];
  load_u16(last, reference, words);
  std::uint16_t colour[4] = {last[0], last[1], last[2], last[3]};
  try {
    if (layers_[LAYER_RGB].present) decode_rgb(layers_[LAYER_RGB].decoder, m, last, colour);
    if (with_nir_ && layers_[LAYER_NIR].present) {
      EntropyDecoder& nir = layers_[LAYER_NIR].decoder;
      const std::uint32_t change = nir.decode_symbol(m.nir_change);
      std::uint32_t nir_low = low(last[3]);
      std::uint32_t nir_high = high(last[3]);
      if (change & 1) nir_low = (nir_low + nir.decode_symbol(*m.nir_low)) & 0xFF;
      if (change & 2) nir_high = (nir_high + nir.decode_symbol(*m.nir_high)) & 0xFF;
      colour[3] = static_cast<std::uint16_t>(nir_low | (nir_high << 8));
    }
  } catch (const ByteStreamEndOfData&) {
    throw CodecCorruptData{};
  }
  std::memcpy(reference, colour, 2 * words);
  std::memcpy(item, colour, 2 * words);
}

// ---------------------------------------------------------------------------------------
// BYTE14

template <class Coder>
struct ByteContext {
  ByteContext(bool encoding, std::uint32_t size) : reference(size), models(size, encoding) {}
  void start(const std::uint8_t* from) {
    if (from != reference.data()) std::memcpy(reference.data(), from, reference.size());
    models.init();
    in_use = true;
  }
  const std::uint8_t* reference_bytes() const { return reference.data(); }

  bool in_use = false;
  std::vector<std::uint8_t> reference;
  ByteModelRow models;  // one per byte, made when its layer is first coded
};

LASwriteItemCompressed_BYTE14_layered::LASwriteItemCompressed_BYTE14_layered(std::uint32_t version,
                                                                             std::uint32_t size)
    : size_(size),
      contexts_(std::make_unique<LayeredContextSet<ByteContext<EntropyEncoder>>>(
          version, [size] { return std::make_unique<ByteContext<EntropyEncoder>>(true, size); })) {}

LASwriteItemCompressed_BYTE14_layered::~LASwriteItemCompressed_BYTE14_layered() = default;

bool LASwriteItemCompressed_BYTE14_layered::init(const std::uint8_t* item, std::uint32_t& context) {
  // Made with the first chunk: a writer opened for a header that claims many extra bytes
  // but never given a point costs nothing.
  if (!layers_) {
    layers_ = std::make_unique<LayerOut[]>(size_);
    kept_ = std::make_unique<bool[]>(size_);
  }
  for (std::uint32_t i = 0; i < size_; i++)
    layers_[i].start();
  contexts_->start_chunk(context, item);
  return true;
}

bool LASwriteItemCompressed_BYTE14_layered::write(const std::uint8_t* item,
                                                  std::uint32_t& context) {
  contexts_->select(context);
  ByteContext<EntropyEncoder>& m = contexts_->models();
  std::uint8_t* reference = contexts_->reference().reference.data();
  for (std::uint32_t i = 0; i < size_; i++) {
    const std::uint8_t difference = static_cast<std::uint8_t>(item[i] - reference[i]);
    layers_[i].encoder.encode_symbol(m.models[i], difference);
    if (difference != 0) {
      layers_[i].changed = true;
      reference[i] = item[i];
    }
  }
  return true;
}

bool LASwriteItemCompressed_BYTE14_layered::write_layer_sizes(ByteStreamOut& stream) {
  bool ok = true;
  for (std::uint32_t i = 0; i < size_; i++) {
    kept_[i] = layers_[i].changed;
    if (!layers_[i].finish()) ok = false;
  }
  return ::write_layer_sizes(stream, std::span<LayerOut>(layers_.get(), size_), kept_.get()) && ok;
}

bool LASwriteItemCompressed_BYTE14_layered::write_layers(ByteStreamOut& stream) {
  for (std::uint32_t i = 0; i < size_; i++)
    kept_[i] = layers_[i].changed;
  return write_layer_bytes(stream, std::span<LayerOut>(layers_.get(), size_), kept_.get());
}

LASreadItemCompressed_BYTE14_layered::LASreadItemCompressed_BYTE14_layered(
    std::uint32_t version, std::uint32_t size, std::uint32_t decompress_selective)
    : size_(size),
      layers_(std::make_unique<LayerIn[]>(size)),
      contexts_(std::make_unique<LayeredContextSet<ByteContext<EntropyDecoder>>>(
          version, [size] { return std::make_unique<ByteContext<EntropyDecoder>>(false, size); })) {
  // Bytes 16 and above have no flag of their own and are always decoded.
  for (std::uint32_t i = 0; i < size && i < 16; i++) {
    layers_[i].requested = (decompress_selective & (kDecompressByte0 << i)) != 0;
  }
}

LASreadItemCompressed_BYTE14_layered::~LASreadItemCompressed_BYTE14_layered() = default;

bool LASreadItemCompressed_BYTE14_layered::read_layer_sizes(ByteStreamIn& stream) {
  for (std::uint32_t i = 0; i < size_; i++)
    stream.read32_le(&layers_[i].size);
  return true;
}

bool LASreadItemCompressed_BYTE14_layered::init(ByteStreamIn& stream, const std::uint8_t* item,
                                                std::uint32_t& context) {
  if (!buffer_.load(stream, std::span<LayerIn>(layers_.get(), size_))) return false;
  contexts_->start_chunk(context, item);
  return true;
}

void LASreadItemCompressed_BYTE14_layered::read(std::uint8_t* item, std::uint32_t& context) {
  contexts_->select(context);
  ByteContext<EntropyDecoder>& m = contexts_->models();
  std::uint8_t* reference = contexts_->reference().reference.data();
  try {
    for (std::uint32_t i = 0; i < size_; i++) {
      if (layers_[i].present) {
        reference[i] =
            static_cast<std::uint8_t>(reference[i] + layers_[i].decoder.decode_symbol(m.models[i]));
      }
      item[i] = reference[i];
    }
  } catch (const ByteStreamEndOfData&) {
    throw CodecCorruptData{};
  }
}

// ---------------------------------------------------------------------------------------
// WAVEPACKET14

namespace {

// The 29-byte wave packet: descriptor index, byte offset to the waveform data, packet size,
// return point location and the X(t), Y(t), Z(t) parameters (floats, coded by bit pattern).
struct WavePacket {
  std::uint8_t index;
  std::uint64_t offset;
  std::uint32_t packet_size;
  std::int32_t return_point;
  std::int32_t xyz[3];
};

WavePacket unpack_wave_packet(const std::uint8_t* bytes) {
  WavePacket packet;
  packet.index = bytes[0];
  std::memcpy(&packet.offset, bytes + 1, 8);
  std::memcpy(&packet.packet_size, bytes + 9, 4);
  std::memcpy(&packet.return_point, bytes + 13, 4);
  std::memcpy(packet.xyz, bytes + 17, 12);
  return packet;
}

void pack_wave_packet(const WavePacket& packet, std::uint8_t* bytes) {
  bytes[0] = packet.index;
  std::memcpy(bytes + 1, &packet.offset, 8);
  std::memcpy(bytes + 9, &packet.packet_size, 4);
  std::memcpy(bytes + 13, &packet.return_point, 4);
  std::memcpy(bytes + 17, packet.xyz, 12);
}

// How the waveform offset follows the last one.
enum OffsetKind : std::uint32_t {
  OFFSET_SAME = 0,
  OFFSET_AFTER_LAST_PACKET,  // last offset + last packet size
  OFFSET_DIFFERENCE,         // a 32-bit difference, predicted by the last one
  OFFSET_FULL,               // the whole 64-bit offset, raw
};

}  // namespace

template <class Coder>
struct WavePacketContext {
  WavePacketContext(Coder* coder, bool encoding)
      : index(256, encoding),
        offset(coder, 32, 1),
        packet_size(coder, 32, 1),
        return_point(coder, 32, 1),
        xyz(coder, 32, 3) {
    offset_kind_models.reserve(4);
    for (int i = 0; i < 4; i++)
      offset_kind_models.emplace_back(4, encoding);
  }
  void start(const std::uint8_t* from) {
    if (from != reference) std::memcpy(reference, from, kWavePacketBytes);
    index.init();
    for (SymbolModel& model : offset_kind_models)
      model.init();
    offset.init();
    packet_size.init();
    return_point.init();
    xyz.init();
    offset_step = 0;
    offset_kind = OFFSET_SAME;
    in_use = true;
  }
  const std::uint8_t* reference_bytes() const { return reference; }

  static constexpr std::uint32_t kWavePacketBytes = 29;
  bool in_use = false;
  std::uint8_t reference[kWavePacketBytes] = {};
  std::int32_t offset_step = 0;
  std::uint32_t offset_kind = OFFSET_SAME;
  SymbolModel index;
  std::vector<SymbolModel> offset_kind_models;  // by the last offset kind
  IntegerCoder offset, packet_size, return_point, xyz;
};

LASwriteItemCompressed_WAVEPACKET14_layered::LASwriteItemCompressed_WAVEPACKET14_layered(
    std::uint32_t version)
    : contexts_(
          std::make_unique<LayeredContextSet<WavePacketContext<EntropyEncoder>>>(version, [this] {
            return std::make_unique<WavePacketContext<EntropyEncoder>>(&layers_[0].encoder, true);
          })) {}

LASwriteItemCompressed_WAVEPACKET14_layered::~LASwriteItemCompressed_WAVEPACKET14_layered() =
    default;

bool LASwriteItemCompressed_WAVEPACKET14_layered::init(const std::uint8_t* item,
                                                       std::uint32_t& context) {
  layers_[0].start();
  contexts_->start_chunk(context, item);
  return true;
}

bool LASwriteItemCompressed_WAVEPACKET14_layered::write(const std::uint8_t* item,
                                                        std::uint32_t& context) {
  contexts_->select(context);
  WavePacketContext<EntropyEncoder>& m = contexts_->models();
  std::uint8_t* reference = contexts_->reference().reference;
  if (std::memcmp(item, reference, m.kWavePacketBytes) != 0) layers_[0].changed = true;
  const WavePacket last = unpack_wave_packet(reference);
  const WavePacket packet = unpack_wave_packet(item);
  EntropyEncoder& encoder = layers_[0].encoder;
  encoder.encode_symbol(m.index, packet.index);

  const std::int64_t difference = static_cast<std::int64_t>(packet.offset - last.offset);
  std::uint32_t kind;
  if (difference != static_cast<std::int32_t>(difference)) {
    kind = OFFSET_FULL;
  } else if (difference == 0) {
    kind = OFFSET_SAME;
  } else if (difference == static_cast<std::int64_t>(last.packet_size)) {
    kind = OFFSET_AFTER_LAST_PACKET;
  } else {
    kind = OFFSET_DIFFERENCE;
  }
  encoder.encode_symbol(m.offset_kind_models[m.offset_kind], kind);
  if (kind == OFFSET_FULL) {
    encoder.write_int64(packet.offset);
  } else if (kind == OFFSET_DIFFERENCE) {
    m.offset.compress(m.offset_step, static_cast<std::int32_t>(difference));
    m.offset_step = static_cast<std::int32_t>(difference);
  }
  m.offset_kind = kind;
  m.packet_size.compress(static_cast<std::int32_t>(last.packet_size),
                         static_cast<std::int32_t>(packet.packet_size));
  m.return_point.compress(last.return_point, packet.return_point);
  for (std::uint32_t i = 0; i < 3; i++)
    m.xyz.compress(last.xyz[i], packet.xyz[i], i);
  std::memcpy(reference, item, m.kWavePacketBytes);
  return true;
}

bool LASwriteItemCompressed_WAVEPACKET14_layered::write_layer_sizes(ByteStreamOut& stream) {
  return finish_layers(stream, layers_, 1);
}

bool LASwriteItemCompressed_WAVEPACKET14_layered::write_layers(ByteStreamOut& stream) {
  return write_changed_layers(stream, layers_, 1);
}

LASreadItemCompressed_WAVEPACKET14_layered::LASreadItemCompressed_WAVEPACKET14_layered(
    std::uint32_t version, std::uint32_t decompress_selective)
    : contexts_(
          std::make_unique<LayeredContextSet<WavePacketContext<EntropyDecoder>>>(version, [this] {
            return std::make_unique<WavePacketContext<EntropyDecoder>>(&layers_[0].decoder, false);
          })) {
  layers_[0].requested = (decompress_selective & kDecompressWavePacket) != 0;
}

LASreadItemCompressed_WAVEPACKET14_layered::~LASreadItemCompressed_WAVEPACKET14_layered() = default;

bool LASreadItemCompressed_WAVEPACKET14_layered::read_layer_sizes(ByteStreamIn& stream) {
  stream.read32_le(&layers_[0].size);
  return true;
}

bool LASreadItemCompressed_WAVEPACKET14_layered::init(ByteStreamIn& stream,
                                                      const std::uint8_t* item,
                                                      std::uint32_t& context) {
  if (!buffer_.load(stream, layers_)) return false;
  contexts_->start_chunk(context, item);
  return true;
}

void LASreadItemCompressed_WAVEPACKET14_layered::read(std::uint8_t* item, std::uint32_t& context) {
  contexts_->select(context);
  WavePacketContext<EntropyDecoder>& m = contexts_->models();
  std::uint8_t* reference = contexts_->reference().reference;
  if (layers_[0].present) {
    try {
      const WavePacket last = unpack_wave_packet(reference);
      WavePacket packet;
      EntropyDecoder& decoder = layers_[0].decoder;
      packet.index = static_cast<std::uint8_t>(decoder.decode_symbol(m.index));
      const std::uint32_t kind = decoder.decode_symbol(m.offset_kind_models[m.offset_kind]);
      switch (kind) {
        case OFFSET_SAME:
          packet.offset = last.offset;
          break;
        case OFFSET_AFTER_LAST_PACKET:
          packet.offset = last.offset + last.packet_size;
          break;
        case OFFSET_DIFFERENCE:
          m.offset_step = m.offset.decompress(m.offset_step);
          packet.offset =
              last.offset + static_cast<std::uint64_t>(static_cast<std::int64_t>(m.offset_step));
          break;
        default:
          packet.offset = decoder.read_int64();
          break;
      }
      m.offset_kind = kind;
      packet.packet_size = static_cast<std::uint32_t>(
          m.packet_size.decompress(static_cast<std::int32_t>(last.packet_size)));
      packet.return_point = m.return_point.decompress(last.return_point);
      for (std::uint32_t i = 0; i < 3; i++)
        packet.xyz[i] = m.xyz.decompress(last.xyz[i], i);
      pack_wave_packet(packet, reference);
    } catch (const ByteStreamEndOfData&) {
      throw CodecCorruptData{};
    }
  }
  std::memcpy(item, reference, m.kWavePacketBytes);
}
