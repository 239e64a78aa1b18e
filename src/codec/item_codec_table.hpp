#pragma once

#include <cstdint>
#include <memory>

#include "codec/item_coder.hpp"
#include "model/las_item.hpp"

class EntropyEncoder;
class EntropyDecoder;

// The one place that knows which compressed codec class codes which item in which codec
// version. The engines ask it once per file, in `setup`.
//
// What a codec is made with:
// - `encoder` / `decoder`: the engine's one entropy coder, owned by the engine and alive as
//   long as the codec. The codecs of compressor kinds 1 and 2 (item versions 1 and 2) code
//   into it; the layered codecs (kind 3, versions 2 to 4 of the items of point types 6-10)
//   ignore it and make their own per layer.
// - `item.size`: the byte count of the byte items.
// - `decompress_selective` (readers): the selective-decoding flags of the read engine
//   (codec/las_read_engine.hpp); only the layered readers use them.
//
// Both return nullptr for a type and version that no codec handles; `setup` then fails.
std::unique_ptr<LASwriteItemCompressed> create_compressed_item_writer(const LASitem& item,
                                                                      EntropyEncoder& encoder);
std::unique_ptr<LASreadItemCompressed> create_compressed_item_reader(
    const LASitem& item, EntropyDecoder& decoder, std::uint32_t decompress_selective);

// Where an engine gets its compressed codecs: the table above unless a test hands in
// stand-ins.
struct LASitemCodecFactory {
  std::unique_ptr<LASwriteItemCompressed> (*make_writer)(const LASitem& item,
                                                         EntropyEncoder& encoder);
  std::unique_ptr<LASreadItemCompressed> (*make_reader)(const LASitem& item,
                                                        EntropyDecoder& decoder,
                                                        std::uint32_t decompress_selective);
};

inline constexpr LASitemCodecFactory kItemCodecTable{create_compressed_item_writer,
                                                     create_compressed_item_reader};
