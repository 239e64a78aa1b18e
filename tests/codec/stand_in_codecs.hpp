#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "codec/item_codec_table.hpp"
#include "model/las_point.hpp"
#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out_array.hpp"

// Stand-in item codecs that let the engines' chunk machinery be tested on its own: they
// "code" every item as its bytes plus a check byte, so a damaged chunk is noticed. Items of
// version 3 and 4 get layered stand-ins (one layer each over an in-memory stream), the
// others code through the engine's shared entropy coder.
namespace stand_in {

inline std::uint32_t last_selective_flags = 0;

// The item's bytes as stored (POINT14 converted).
inline const std::uint8_t* item_bytes(const LASitem& item, const std::uint8_t* data,
                                      std::uint8_t* scratch) {
  if (item.type != LASitem::POINT14) return data;
  LASpoint::from_item(data).write_point14(scratch);
  return scratch;
}

inline void store_item(const LASitem& item, const std::uint8_t* bytes, std::uint8_t* data) {
  if (item.type == LASitem::POINT14) {
    LASpoint::from_item(data).read_point14(bytes);
  } else {
    std::memcpy(data, bytes, item.size);
  }
}

class SharedWriter : public LASwriteItemCompressed {
 public:
  SharedWriter(const LASitem& item, EntropyEncoder& encoder) : item_(item), encoder_(encoder) {}
  bool init(const std::uint8_t*, std::uint32_t&) override { return true; }
  bool write(const std::uint8_t* data, std::uint32_t&) override {
    std::uint8_t scratch[64];
    const std::uint8_t* bytes = item_bytes(item_, data, scratch);
    std::uint8_t check = 0;
    for (int k = 0; k < item_.size; k++) {
      encoder_.write_bits(8, bytes[k]);
      check = static_cast<std::uint8_t>(check * 31 + bytes[k]);
    }
    encoder_.write_bits(8, check);
    return true;
  }

 private:
  LASitem item_;
  EntropyEncoder& encoder_;
};

class SharedReader : public LASreadItemCompressed {
 public:
  SharedReader(const LASitem& item, EntropyDecoder& decoder) : item_(item), decoder_(decoder) {}
  bool init(ByteStreamIn&, const std::uint8_t*, std::uint32_t&) override { return true; }
  void read(std::uint8_t* data, std::uint32_t&) override {
    std::uint8_t bytes[64];
    std::uint8_t check = 0;
    for (int k = 0; k < item_.size; k++) {
      bytes[k] = static_cast<std::uint8_t>(decoder_.read_bits(8));
      check = static_cast<std::uint8_t>(check * 31 + bytes[k]);
    }
    if (decoder_.read_bits(8) != check) throw CodecCorruptData{};
    store_item(item_, bytes, data);
  }

 private:
  LASitem item_;
  EntropyDecoder& decoder_;
};

class LayeredWriter : public LASwriteItemCompressed {
 public:
  explicit LayeredWriter(const LASitem& item) : item_(item) {}
  bool init(const std::uint8_t*, std::uint32_t&) override {
    layer_.clear();
    return true;
  }
  bool write(const std::uint8_t* data, std::uint32_t&) override {
    std::uint8_t scratch[64];
    const std::uint8_t* bytes = item_bytes(item_, data, scratch);
    std::uint8_t check = 0;
    for (int k = 0; k < item_.size; k++)
      check = static_cast<std::uint8_t>(check * 31 + bytes[k]);
    return layer_.write_bytes(bytes, item_.size) && layer_.write_byte(check);
  }
  bool write_layer_sizes(ByteStreamOut& stream) override {
    const auto size = static_cast<std::uint32_t>(layer_.size());
    return stream.write32_le(&size);
  }
  bool write_layers(ByteStreamOut& stream) override {
    return stream.write_bytes(layer_.data(), static_cast<std::size_t>(layer_.size()));
  }

 private:
  LASitem item_;
  ByteStreamOutArray layer_;
};

class LayeredReader : public LASreadItemCompressed {
 public:
  explicit LayeredReader(const LASitem& item) : item_(item) {}
  bool read_layer_sizes(ByteStreamIn& stream) override {
    stream.read32_le(&size_);
    return size_ <= (1u << 24);
  }
  bool init(ByteStreamIn& stream, const std::uint8_t*, std::uint32_t&) override {
    layer_.resize(size_);
    stream.read_bytes(layer_.data(), size_);
    at_ = 0;
    return true;
  }
  void read(std::uint8_t* data, std::uint32_t&) override {
    if (at_ + item_.size + 1 > layer_.size()) throw CodecCorruptData{};
    const std::uint8_t* bytes = layer_.data() + at_;
    std::uint8_t check = 0;
    for (int k = 0; k < item_.size; k++)
      check = static_cast<std::uint8_t>(check * 31 + bytes[k]);
    if (bytes[item_.size] != check) throw CodecCorruptData{};
    store_item(item_, bytes, data);
    at_ += item_.size + 1u;
  }

 private:
  LASitem item_;
  std::uint32_t size_ = 0;
  std::vector<std::uint8_t> layer_;
  std::size_t at_ = 0;
};

inline std::unique_ptr<LASwriteItemCompressed> make_writer(const LASitem& item,
                                                           EntropyEncoder& encoder) {
  if (item.version >= 3) return std::make_unique<LayeredWriter>(item);
  return std::make_unique<SharedWriter>(item, encoder);
}

inline std::unique_ptr<LASreadItemCompressed> make_reader(const LASitem& item,
                                                          EntropyDecoder& decoder,
                                                          std::uint32_t selective) {
  last_selective_flags = selective;
  if (item.version >= 3) return std::make_unique<LayeredReader>(item);
  return std::make_unique<SharedReader>(item, decoder);
}

inline constexpr LASitemCodecFactory kCodecs{make_writer, make_reader};

}  // namespace stand_in
