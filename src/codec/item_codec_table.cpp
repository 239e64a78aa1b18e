#include "codec/item_codec_table.hpp"

#include "codec/item_layered_extras.hpp"
#include "codec/item_point14_layered.hpp"
#include "codec/las_item_compressed_byte.hpp"
#include "codec/las_item_compressed_gpstime11.hpp"
#include "codec/las_item_compressed_point10.hpp"
#include "codec/las_item_compressed_rgb12.hpp"
#include "codec/las_item_compressed_wavepacket13.hpp"

namespace {

using WriterFactory = std::unique_ptr<LASwriteItemCompressed> (*)(const LASitem& item,
                                                                  EntropyEncoder& encoder);
using ReaderFactory = std::unique_ptr<LASreadItemCompressed> (*)(
    const LASitem& item, EntropyDecoder& decoder, std::uint32_t decompress_selective);

// One row per (item type, version named in the item list). A null factory: that direction
// does not exist for the version (POINT14 version 2, for example, is read by the version 3
// class but never written).
struct CompressedItemCodec {
  LASitem::Type type;
  std::uint16_t version;
  WriterFactory make_writer;
  ReaderFactory make_reader;
};

// The codec class of a (type, version) row, made with the engine's coder.
template <class Writer>
std::unique_ptr<LASwriteItemCompressed> make_writer(const LASitem&, EntropyEncoder& encoder) {
  return std::make_unique<Writer>(encoder);
}
template <class Reader>
std::unique_ptr<LASreadItemCompressed> make_reader(const LASitem&, EntropyDecoder& decoder,
                                                   std::uint32_t) {
  return std::make_unique<Reader>(decoder);
}
// The byte items take their size; an item of no bytes has nothing to code.
template <class Writer>
std::unique_ptr<LASwriteItemCompressed> make_byte_writer(const LASitem& item,
                                                         EntropyEncoder& encoder) {
  if (item.size == 0) return nullptr;
  return std::make_unique<Writer>(encoder, item.size);
}
template <class Reader>
std::unique_ptr<LASreadItemCompressed> make_byte_reader(const LASitem& item,
                                                        EntropyDecoder& decoder, std::uint32_t) {
  if (item.size == 0) return nullptr;
  return std::make_unique<Reader>(decoder, item.size);
}

// The layered codecs make their own coders per layer.
template <class Writer>
std::unique_ptr<LASwriteItemCompressed> layered_writer(const LASitem&, EntropyEncoder&) {
  return std::make_unique<Writer>();
}
template <class Reader>
std::unique_ptr<LASreadItemCompressed> layered_reader(const LASitem&, EntropyDecoder&,
                                                      std::uint32_t decompress_selective) {
  return std::make_unique<Reader>(decompress_selective);
}
template <class Writer>
std::unique_ptr<LASwriteItemCompressed> layered_byte_writer(const LASitem& item, EntropyEncoder&) {
  return std::make_unique<Writer>(item.size);
}
template <class Reader>
std::unique_ptr<LASreadItemCompressed> layered_byte_reader(const LASitem& item, EntropyDecoder&,
                                                           std::uint32_t decompress_selective) {
  return std::make_unique<Reader>(item.size, decompress_selective);
}

// Versions that exist:
//   BYTE, POINT10, GPSTIME11, RGB12        versions 1, 2 (write and read)
//   WAVEPACKET13                           version 1
//   POINT14, RGB14, RGBNIR14, BYTE14       write 3, 4; read 2 and 3 with the version 3
//                                          class, 4 with the version 4 class
//   WAVEPACKET14                           versions 3, 4
constexpr CompressedItemCodec kCompressedItemCodecs[] = {
    // Codecs of point types 0-5, coding into the engine's one entropy coder.
    {LASitem::POINT10, 1, make_writer<LASwriteItemCompressed_POINT10_v1>,
     make_reader<LASreadItemCompressed_POINT10_v1>},
    {LASitem::POINT10, 2, make_writer<LASwriteItemCompressed_POINT10_v2>,
     make_reader<LASreadItemCompressed_POINT10_v2>},
    {LASitem::GPSTIME11, 1, make_writer<LASwriteItemCompressed_GPSTIME11_v1>,
     make_reader<LASreadItemCompressed_GPSTIME11_v1>},
    {LASitem::GPSTIME11, 2, make_writer<LASwriteItemCompressed_GPSTIME11_v2>,
     make_reader<LASreadItemCompressed_GPSTIME11_v2>},
    {LASitem::RGB12, 1, make_writer<LASwriteItemCompressed_RGB12_v1>,
     make_reader<LASreadItemCompressed_RGB12_v1>},
    {LASitem::RGB12, 2, make_writer<LASwriteItemCompressed_RGB12_v2>,
     make_reader<LASreadItemCompressed_RGB12_v2>},
    {LASitem::BYTE, 1, make_byte_writer<LASwriteItemCompressed_BYTE_v1>,
     make_byte_reader<LASreadItemCompressed_BYTE_v1>},
    {LASitem::BYTE, 2, make_byte_writer<LASwriteItemCompressed_BYTE_v2>,
     make_byte_reader<LASreadItemCompressed_BYTE_v2>},
    {LASitem::WAVEPACKET13, 1, make_writer<LASwriteItemCompressed_WAVEPACKET13_v1>,
     make_reader<LASreadItemCompressed_WAVEPACKET13_v1>},
    // Layered codecs of point types 6-10. Files that name item version 2 are coded as
    // version 3 and read by its classes; nothing writes version 2 any more.
    {LASitem::POINT14, 2, nullptr, layered_reader<LASreadItemCompressed_POINT14_v3>},
    {LASitem::POINT14, 3, layered_writer<LASwriteItemCompressed_POINT14_v3>,
     layered_reader<LASreadItemCompressed_POINT14_v3>},
    {LASitem::POINT14, 4, layered_writer<LASwriteItemCompressed_POINT14_v4>,
     layered_reader<LASreadItemCompressed_POINT14_v4>},
    {LASitem::RGB14, 2, nullptr, layered_reader<LASreadItemCompressed_RGB14_v3>},
    {LASitem::RGB14, 3, layered_writer<LASwriteItemCompressed_RGB14_v3>,
     layered_reader<LASreadItemCompressed_RGB14_v3>},
    {LASitem::RGB14, 4, layered_writer<LASwriteItemCompressed_RGB14_v4>,
     layered_reader<LASreadItemCompressed_RGB14_v4>},
    {LASitem::RGBNIR14, 2, nullptr, layered_reader<LASreadItemCompressed_RGBNIR14_v3>},
    {LASitem::RGBNIR14, 3, layered_writer<LASwriteItemCompressed_RGBNIR14_v3>,
     layered_reader<LASreadItemCompressed_RGBNIR14_v3>},
    {LASitem::RGBNIR14, 4, layered_writer<LASwriteItemCompressed_RGBNIR14_v4>,
     layered_reader<LASreadItemCompressed_RGBNIR14_v4>},
    {LASitem::BYTE14, 2, nullptr, layered_byte_reader<LASreadItemCompressed_BYTE14_v3>},
    {LASitem::BYTE14, 3, layered_byte_writer<LASwriteItemCompressed_BYTE14_v3>,
     layered_byte_reader<LASreadItemCompressed_BYTE14_v3>},
    {LASitem::BYTE14, 4, layered_byte_writer<LASwriteItemCompressed_BYTE14_v4>,
     layered_byte_reader<LASreadItemCompressed_BYTE14_v4>},
    {LASitem::WAVEPACKET14, 3, layered_writer<LASwriteItemCompressed_WAVEPACKET14_v3>,
     layered_reader<LASreadItemCompressed_WAVEPACKET14_v3>},
    {LASitem::WAVEPACKET14, 4, layered_writer<LASwriteItemCompressed_WAVEPACKET14_v4>,
     layered_reader<LASreadItemCompressed_WAVEPACKET14_v4>},
};

const CompressedItemCodec* find(const LASitem& item) {
  for (const CompressedItemCodec& codec : kCompressedItemCodecs) {
    if (codec.type == item.type && codec.version == item.version) return &codec;
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<LASwriteItemCompressed> create_compressed_item_writer(const LASitem& item,
                                                                      EntropyEncoder& encoder) {
  const CompressedItemCodec* codec = find(item);
  if (codec == nullptr || codec->make_writer == nullptr) return nullptr;
  return codec->make_writer(item, encoder);
}

std::unique_ptr<LASreadItemCompressed> create_compressed_item_reader(
    const LASitem& item, EntropyDecoder& decoder, std::uint32_t decompress_selective) {
  const CompressedItemCodec* codec = find(item);
  if (codec == nullptr || codec->make_reader == nullptr) return nullptr;
  return codec->make_reader(item, decoder, decompress_selective);
}
