#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stream/bytestream_in_file.hpp"
#include "stream/bytestream_out_file.hpp"
#include "stream/bytestream_piped.hpp"

class LASreader;
class LASreaderLAS;

// The points of a compressed file as the first pass decoded them, kept as raw records in a
// temporary file without a name (unlinked the moment it is made, so nothing is left behind
// however the run ends), so that the second pass reads them instead of decoding the file
// a second time: decoding is most of the work of a compressed file.
//
// It is an optimisation that may always step aside: a file that does not qualify, a
// temporary folder without room, a refused write, a seek or anything the decoder read past
// in the first pass leaves the second pass to decode the file as it would have. The records
// read back are the records the decoder delivered, in order, so the second pass sees the
// same points either way.
//
// Use: `start` after the open for the first pass, `finish` after that pass (before the
// reader closes), `replay` after every open for the second pass.
class DecodedSpill {
 public:
  // The default most bytes one file's records may take: an eighth of the machine's memory,
  // so that they normally stay in the page cache while the file is processed.
  static std::uint64_t default_limit();

  DecodedSpill() = default;
  ~DecodedSpill();
  DecodedSpill(const DecodedSpill&) = delete;
  DecodedSpill& operator=(const DecodedSpill&) = delete;

  // Starts copying the records that `reader` delivers when it is a LAS reader of a
  // compressed file by name or stream (not merged, buffered, read by area or layered
  // through a LAY file) and its points take at most `limit` bytes, with room to spare in
  // the temporary folder. False, with nothing started, otherwise. Without `whole` the
  // reader decodes only some fields (selective decoding): what the layer copy needs of each
  // point is kept (condense_for_layer_copy) for `partial_records`, and `replay` refuses.
  bool start(LASreader& reader, std::uint64_t limit, bool area, bool whole);
  // After the first pass: keeps the records when they are every point of the file, as
  // delivered, and the file has no name; otherwise lets them go. True when kept.
  bool finish(LASreader& reader);
  bool kept() const { return kept_; }
  // After an open for the second pass: the reader reads the kept records from their first.
  // False (the reader decodes as usual) when nothing is kept or the reader refuses.
  bool replay(LASreader& reader);
  // The kept points of a spill started without `whole`, from their first; null otherwise.
  // Valid until the next call or the destruction.
  ByteStreamIn* partial_records();

 private:
  // A stream at the first record, in place of the last one.
  bool rewind();

  LASreaderLAS* reader_ = nullptr;  // the reader of `start`, not to be used after it
  UniqueFile file_;
  std::unique_ptr<ByteStreamOutFile> out_;
  std::unique_ptr<ByteStreamOut> condensing_;  // in front of out_ for the layer copy
  std::unique_ptr<ByteStreamInFile> in_;
  std::uint64_t bytes_ = 0;  // of every point's record
  bool kept_ = false;
  bool whole_ = false;
};
