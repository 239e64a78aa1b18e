#pragma once

#include <cstdint>

class ByteStreamIn;
class ByteStreamOut;

// Thrown by a decoder or an item reader that meets data no encoder can have written. The
// read engine catches it (and ByteStreamEndOfData) around each point and reports the chunk.
struct CodecCorruptData {};

// The item readers and writers of the point engines. Each item of a point is handed over as
// a pointer to its bytes inside the point record (`LASpoint::item_data`; for POINT10 and
// POINT14 the point itself, see LASpoint::from_item) together with a context that the engine
// sets to 0 before every point and that all items of one point share: the layered core codec
// sets it to the point's scanner channel and the later items of the point read it.

class LASwriteItem {
 public:
  virtual ~LASwriteItem() = default;
  // Writes (or codes) one item; false when the stream refused the bytes.
  virtual bool write(const std::uint8_t* item, std::uint32_t& context) = 0;
};

// Copies an item to the output stream, converting where the record layout asks for it.
class LASwriteItemRaw : public LASwriteItem {
 public:
  void init(ByteStreamOut* stream) { outstream = stream; }

 protected:
  ByteStreamOut* outstream = nullptr;
};

// Codes an item against the items before it. `init` is called with the first point of a
// chunk (which was written raw).
// The codecs of compressor kinds 1 and 2 code into the engine's one EntropyEncoder, which
// they were made with (codec/item_codec_table.hpp); the engine starts and ends it around
// each chunk. The layered codecs (kind 3) own an encoder per layer over in-memory streams
// and meet the engine's output stream only at the end of the chunk: first every item's
// `write_layer_sizes`, then every item's `write_layers`, both onto `stream`.
class LASwriteItemCompressed : public LASwriteItem {
 public:
  virtual bool init(const std::uint8_t* item, std::uint32_t& context) = 0;
  // Whether `write_raw` may be used instead of `write`: it codes the item from its raw
  // record bytes, as `write` codes the item that the raw reader fills from them.
  virtual bool writes_raw() const { return false; }
  virtual bool write_raw(const std::uint8_t* record, std::uint32_t& context) {
    (void)record;
    (void)context;
    return false;
  }
  virtual bool write_layer_sizes(ByteStreamOut& stream) {
    (void)stream;
    return false;
  }
  virtual bool write_layers(ByteStreamOut& stream) {
    (void)stream;
    return false;
  }
};

class LASreadItem {
 public:
  virtual ~LASreadItem() = default;
  // Reads (or decodes) one item. Throws ByteStreamEndOfData when the input ends and
  // CodecCorruptData on impossible data.
  virtual void read(std::uint8_t* item, std::uint32_t& context) = 0;
};

class LASreadItemRaw : public LASreadItem {
 public:
  void init(ByteStreamIn* stream) { instream = stream; }

 protected:
  ByteStreamIn* instream = nullptr;
};

// The reading twin. Codecs of kinds 1 and 2 decode from the engine's EntropyDecoder, which
// the engine starts after their `init`. At the start of a layered chunk the engine reads the
// raw first point and the chunk's point count, calls every item's `read_layer_sizes`, then
// every item's `init`: a layered codec reads (or skips, when the selective-decoding flags
// it was made with do not ask for them) its layer bytes from `stream` there, in item order.
// Non-layered codecs ignore `stream`.
class LASreadItemCompressed : public LASreadItem {
 public:
  virtual bool read_layer_sizes(ByteStreamIn& stream) {
    (void)stream;
    return false;
  }
  // Starts a chunk with its first point, which was read raw. Returns false when the chunk
  // cannot be started (the engine reports the chunk as corrupt).
  virtual bool init(ByteStreamIn& stream, const std::uint8_t* item, std::uint32_t& context) = 0;
  // Whether `read_raw` may be used instead of `read`: it stores the next point's item
  // straight as the raw record bytes that the raw writer makes of the item `read` fills,
  // for a caller that wants records, not points. Fails as `read` does.
  virtual bool reads_raw() const { return false; }
  virtual void read_raw(std::uint8_t* record, std::uint32_t& context) {
    (void)record;
    (void)context;
  }
};
