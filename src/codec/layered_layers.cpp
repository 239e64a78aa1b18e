#include "codec/layered_layers.hpp"

#include <algorithm>
#include <cstring>

#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

namespace {

// Pieces in which layer bytes are read and skipped: memory is committed only for bytes that
// were really there.
constexpr std::size_t kReadPiece = std::size_t{1} << 20;

void skip_bytes(ByteStreamIn& stream, std::uint64_t n) {
  if (n == 0) return;
  if (stream.can_seek()) {
    if (!stream.skip(static_cast<std::int64_t>(n))) throw ByteStreamEndOfData{};
    return;
  }
  std::uint8_t scratch[4096];
  while (n > 0) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(n, sizeof(scratch)));
    stream.read_bytes(scratch, piece);
    n -= piece;
  }
}

}  // namespace

bool write_layer_sizes(ByteStreamOut& stream, std::span<LayerOut> layers, const bool* kept) {
  bool ok = true;
  for (std::size_t i = 0; i < layers.size(); i++) {
    const std::uint32_t size = kept[i] ? layers[i].size() : 0;
    if (!stream.write32_le(&size)) ok = false;
  }
  return ok;
}

bool write_layer_bytes(ByteStreamOut& stream, std::span<LayerOut> layers, const bool* kept) {
  bool ok = true;
  for (std::size_t i = 0; i < layers.size(); i++) {
    if (kept[i] && !stream.write_bytes(layers[i].bytes.data(), layers[i].size())) ok = false;
  }
  return ok;
}

void LayerBuffer::reserve(std::size_t needed, std::size_t keep) {
  if (needed <= capacity_) return;
  const std::size_t grown = std::max(needed, capacity_ * 2);
  auto bigger = std::make_unique_for_overwrite<std::uint8_t[]>(grown);
  if (keep) std::memcpy(bigger.get(), buffer_.get(), keep);
  buffer_ = std::move(bigger);
  capacity_ = grown;
}

bool LayerBuffer::load(ByteStreamIn& stream, std::span<LayerIn> layers) {
  std::size_t filled = 0;
  for (LayerIn& layer : layers) {
    layer.present = layer.requested && layer.size > 0;
    if (!layer.present) {
      skip_bytes(stream, layer.size);
      continue;
    }
    std::size_t left = layer.size;
    while (left > 0) {
      const std::size_t piece = std::min(left, kReadPiece);
      reserve(filled + piece, filled);
      stream.read_bytes(buffer_.get() + filled, piece);
      filled += piece;
      left -= piece;
    }
  }
  // Only now are the layers' addresses final.
  std::size_t at = 0;
  for (LayerIn& layer : layers) {
    if (!layer.present) continue;
    layer.bytes.init(buffer_.get() + at, layer.size);
    at += layer.size;
    try {
      layer.decoder.init(&layer.bytes);
    } catch (const ByteStreamEndOfData&) {
      return false;
    }
  }
  return true;
}
