#include "codec/item_codec_table.hpp"

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

// Versions that exist (the codec classes add their rows here):
//   BYTE, POINT10, GPSTIME11, RGB12        versions 1, 2 (write and read)
//   WAVEPACKET13                           version 1
//   POINT14, RGB14, RGBNIR14, BYTE14       write 3, 4; read 2 and 3 with the version 3
//                                          class, 4 with the version 4 class
//   WAVEPACKET14                           versions 3, 4
// A row looks like
//   {LASitem::POINT10, 2,
//    [](const LASitem&, EntropyEncoder& e) -> std::unique_ptr<LASwriteItemCompressed> {
//      return std::make_unique<LASwriteItemCompressed_POINT10_v2>(e); },
//    [](const LASitem&, EntropyDecoder& d, std::uint32_t) -> ... },
constexpr CompressedItemCodec kCompressedItemCodecs[] = {
    // Version 0 is raw and never coded; this row keeps the table non-empty.
    {LASitem::BYTE, 0, nullptr, nullptr},
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
