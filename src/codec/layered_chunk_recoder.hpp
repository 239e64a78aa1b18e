#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "codec/item_point14_layered.hpp"
#include "codec/layered_layers.hpp"
#include "model/las_item.hpp"

class ByteStreamOut;
class SymbolModel;

// Rewrites the classification layer or the flags layer of one chunk of the layered
// compressor (point types 6-10) and copies every other layer's bytes as they lie.
//
// Why this is sound: each layer of a layered chunk is a coded stream of its own. The
// classification of a point is coded with the models of its scanner channel's context,
// chosen by the context's reference classification and by the point's return position
// (return number and number of returns, layer 0); the flags with a model chosen by the
// reference's flags alone. Nothing else is predicted from either value, and the items
// after POINT14 depend on their own values and the channel only. So, with the points'
// channels and returns decoded from layer 0, the one layer can be coded anew exactly as the
// full writer would code it (contexts initialised at the first point and at a channel's
// first point in the chunk, from the context left, with fresh models), and the other
// layers are the bytes the full writer would make again from the same values.
//
// What it keeps: the chunk's first record stored raw (its class or flag byte patched), the
// point count, the layer sizes (only the rewritten layer's changes: 0 when no point's value
// differs from its reference), the layers. The copied layers are the full writer's bytes
// only when the input was coded as this system codes; another producer's bytes decode to
// the same points either way.
//
// Use: `setup` once; per chunk `decode` (the values the caller needs per point), then the
// caller changes classification (or flags) of the points it wants, then `encode`. The two
// may run on different threads, one after the other; distinct recoders run in parallel.
class LASlayeredChunkRecoder {
 public:
  enum class Layer { kClassification, kFlags };

  // One decoded point: what the noise tool needs for its verdict, the header's tally and
  // the rewritten layer.
  struct Point {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    std::int32_t Z = 0;
    std::uint16_t point_source_ID = 0;  // decoded only when asked for in `setup`
    std::uint8_t returns = 0;           // return number bits 0-3, number of returns bits 4-7
    // As the stored record's byte 15: classification flags bits 0-3 (synthetic, keypoint,
    // withheld, overlap), scanner channel bits 4-5, scan direction 6, edge of flight line 7.
    // Decoded (beyond the channel) only when the flags layer is the one rewritten.
    std::uint8_t flags = 0;
    std::uint8_t classification = 0;  // decoded only when its layer is the one rewritten
  };

  LASlayeredChunkRecoder();
  ~LASlayeredChunkRecoder();
  LASlayeredChunkRecoder(const LASlayeredChunkRecoder&) = delete;
  LASlayeredChunkRecoder& operator=(const LASlayeredChunkRecoder&) = delete;

  // False unless `items` begin with a layered POINT14 (versions 2 to 4) followed only by
  // layered RGB14, RGBNIR14, WAVEPACKET14 or BYTE14 items.
  bool setup(std::span<const LASitem> items, Layer layer, bool with_point_source);

  // Takes the chunk as stored (`length` bytes from its first record to the next chunk) and
  // decodes its `count` points into `points`. False when the chunk is not one of `count`
  // points whose layers fill it exactly, or when the layers it decodes are corrupt: the
  // caller then leaves the chunk to the ordinary reader. `chunk` must stay as it is until
  // `encode` has run.
  bool decode(const std::uint8_t* chunk, std::size_t length, std::uint32_t count,
              std::vector<Point>& points);

  // As `decode` for points whose X, Y, Z, returns, flag byte (its channel bits) and, when
  // asked for in `setup`, point source the caller took from an earlier decoding of the same
  // chunk (`count` of them in `points`): decodes only the layer to rewrite, which is coded
  // from the channels and returns alone, and sets the points' classification or flags. The
  // same refusals as `decode`.
  bool decode_layer(const std::uint8_t* chunk, std::size_t length, std::uint32_t count,
                    std::vector<Point>& points);

  // Appends the chunk of the last `decode` (or `decode_layer`) to `out` with the layer coded from
  // `points` (their classification, or flags, as the caller left them; nothing else may differ).
  // False when `out` refused bytes.
  bool encode(std::span<const Point> points, ByteStreamOut& out);

 private:
  struct Context;
  bool parse(const std::uint8_t* chunk, std::size_t length, std::uint32_t count);
  void code_layer(std::span<const Point> points);
  // Resets the contexts of `set` for a chunk that starts with `first`; gives its channel.
  std::uint32_t start_contexts(std::span<std::unique_ptr<Context>> set, const Point& first,
                               bool encoding);
  SymbolModel& model(Context& context, std::uint32_t index);

  Layer layer_ = Layer::kClassification;
  std::uint32_t rewritten_ = 2;  // layer index in POINT14's nine
  std::uint32_t record_size_ = 0;
  std::uint32_t extra_layers_ = 0;  // layers of the items after POINT14
  std::unique_ptr<LASreadItemCompressed_POINT14_layered> reader_;

  // The chunk of the last decode.
  const std::uint8_t* chunk_ = nullptr;
  std::size_t length_ = 0;
  std::uint32_t count_ = 0;
  std::vector<std::uint32_t> sizes_;  // every layer of every item, in chunk order
  std::size_t layers_at_ = 0;         // where the layer bytes begin

  LayerOut out_layer_;
  std::array<std::unique_ptr<Context>, kLayeredContexts> contexts_;
  std::array<std::unique_ptr<Context>, kLayeredContexts> decode_contexts_;
};
