#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "codec/item_codec_table.hpp"
#include "codec/item_coder.hpp"
#include "codec/las_item_raw.hpp"
#include "model/las_item.hpp"
#include "model/las_point.hpp"

class ByteStreamOut;
class EntropyEncoder;

// Codes one chunk of a chunked compressed point data block (compressor kinds 2 and 3) from
// raw records (RawRecordLayout of the items): the first record stored as it is, the rest
// coded, then the chunk's end (the coder's end bytes, or the layered chunk's point count,
// layer sizes and layers). It makes the same bytes as LASwriteEngine writing the same
// points, because its item codecs see every point through the same raw view.
//
// One encoder per chunk in flight: it owns its own item codecs, entropy encoder and scratch
// point, made once in `setup` and reused for every chunk, so a chunk costs no allocation
// beyond the growth of the stream it codes into. Not thread-safe; distinct encoders may
// run on distinct threads.
class LASchunkEncoder {
 public:
  LASchunkEncoder();
  ~LASchunkEncoder();
  LASchunkEncoder(const LASchunkEncoder&) = delete;
  LASchunkEncoder& operator=(const LASchunkEncoder&) = delete;

  // False for an item without a raw form or a compressed codec from `factory`.
  bool setup(std::span<const LASitem> items, bool layered, const LASitemCodecFactory& factory);
  std::uint32_t record_size() const { return layout_.record_size(); }

  // Appends the chunk of `count` (at least 1) records lying back to back at `records` to
  // `out`. False when `out` refused bytes.
  bool encode(const std::uint8_t* records, std::uint32_t count, ByteStreamOut& out);

  // The same chunk a record at a time: `begin` with the first record, `add` for each further
  // one, `end` with the chunk's point count. `out` must stay alive until `end`.
  bool begin(const std::uint8_t* record, ByteStreamOut& out);
  bool add(const std::uint8_t* record) {
    std::uint32_t context = 0;
    std::uint8_t* const* items = point_.item_data.data();
    bool ok = true;
    std::size_t i = 0;
    if (direct_) {
      // The first item is coded from the record itself, without a point on the way.
      ok = writers_[0]->write_raw(record, context);
      layout_.scatter_after_first(record, items);
      i = 1;
    } else {
      layout_.scatter(record, items);
    }
    for (; i < writers_.size(); i++) {
      if (!writers_[i]->write(items[i], context)) ok = false;
    }
    return ok;
  }
  bool end(std::uint32_t count);

 private:
  std::vector<std::unique_ptr<LASwriteItemCompressed>> writers_;
  std::unique_ptr<EntropyEncoder> encoder_;
  bool layered_ = false;
  bool direct_ = false;  // the first item's codec writes from the raw record
  ByteStreamOut* out_ = nullptr;
  RawRecordLayout layout_;
  // The records are scattered into this point for the codecs, as a read engine would fill
  // it: a POINT14 record in the extended layout, whose raw view is the record itself.
  LASpoint point_;
};
