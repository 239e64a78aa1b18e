#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "stream/bytestream_in_array.hpp"
#include "stream/bytestream_out_array.hpp"

class ByteStreamIn;
class ByteStreamOut;

// The layers of the layered item codecs. A layer is coded by its own entropy coder into
// memory during a chunk and reaches the file only when the chunk ends, after the layer sizes
// of every item: a reader can then skip the layers it does not need, and a layer whose
// values never changed in the chunk costs no bytes at all.

// The layered codecs keep their predictions apart per scanner channel.
inline constexpr std::uint32_t kLayeredContexts = 4;

// One layer being written: its bytes and its encoder. The allocations of both are made once
// and reused by every chunk. Both start small: an extra-bytes item has a layer per byte, up
// to 65535 of them, and most layers of a chunk hold a few bytes or none (the bytes grow as
// needed; the encoder's buffer only holds bytes back for carries).
inline constexpr std::uint32_t kLayerCoderBufferSize = 256;
inline constexpr std::size_t kLayerInitialBytes = 64;

struct LayerOut {
  ByteStreamOutArray bytes{kLayerInitialBytes};
  EntropyEncoder encoder{kLayerCoderBufferSize};
  // Whether the layer's values changed in this chunk; an unchanged layer is left out.
  bool changed = false;

  // Starts a chunk: no bytes, a fresh encoder, nothing changed.
  void start() {
    bytes.clear();
    encoder.init(&bytes);
    changed = false;
  }
  // Ends the coding of the chunk; false when memory ran out on the way.
  bool finish() { return encoder.done(); }
  std::uint32_t size() const { return static_cast<std::uint32_t>(bytes.size()); }
};

// Writes the sizes of `layers` (0 for a layer left out, `keep(i)` false), then nothing else.
// `write_layer_bytes` writes the bytes of the kept layers in order. Both false when the
// stream refused bytes.
bool write_layer_sizes(ByteStreamOut& stream, std::span<LayerOut> layers, const bool* kept);
bool write_layer_bytes(ByteStreamOut& stream, std::span<LayerOut> layers, const bool* kept);

// One layer being read: its bytes inside the chunk buffer and its decoder. A layer that is
// not `present` (not requested, or empty because its values never changed) is not decoded:
// its fields keep the reference values.
struct LayerIn {
  ByteStreamInArray bytes;
  EntropyDecoder decoder;
  std::uint32_t size = 0;  // as the file says
  bool requested = true;   // by the selective-decoding flags
  bool present = false;
};

// Holds the bytes of the loaded layers of one chunk of one item. Grows as the bytes
// actually arrive, so that a size in a damaged file cannot make it allocate more than the
// data holds; once grown it is reused by every later chunk.
class LayerBuffer {
 public:
  // Reads the requested layers of non-zero size from `stream` in layer order, skips the
  // others, and starts a decoder on each loaded layer. Throws ByteStreamEndOfData when the
  // stream ends inside a layer; false when a loaded layer is too short to start its decoder
  // (the data is corrupt).
  bool load(ByteStreamIn& stream, std::span<LayerIn> layers);

 private:
  void reserve(std::size_t needed, std::size_t keep);

  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t capacity_ = 0;
};
