#pragma once

#include <cstdint>
#include <memory>

#include "las/las_reader.hpp"

class ByteStreamOutBlocks;
class ByteStreamInBlocks;
class LASwriterLAS;
class WorkerPool;

// Makes an input that can be read only once (standard input, a FIFO) readable again.
//
// While the points pass through it the first time, the stored reader writes them,
// compressed, into memory; `reopen` then reads them back from there, as often as asked,
// in the same order and with the same values. It presents the inner reader's header and
// points as its own: filter, transform and area belong to the inner reader (the factory sets
// them before wrapping), so the stored points are those that passed them, and they are not
// applied again to the replay.
//
// Memory grows with the compressed size of the points, in blocks, never with what the
// input's header claims.
//
// Which inputs are stored: piped text, any other input that can be read only once, and
// every input with "-stored". A piped LAS or PKZ stream is not: the factory keeps its bytes
// as they arrived and reads them again as a file (las_reader_factory.hpp, kPipedMemoryLimit,
// says why). The inner reader must decode every layer of its points, since all of them are
// stored; the factory opens it so.
//
// Owns the inner reader and the memory. Failures print one "ERROR: " line and return false.
class LASreaderStored : public LASreader {
 public:
  LASreaderStored();
  ~LASreaderStored() override;

  // Workers (borrowed) that encode the stored chunks and decode them in the replays; null:
  // alone. Set before `open`.
  void set_worker_pool(WorkerPool* pool) { worker_pool_ = pool; }
  // Takes `inner` over and lays out the header and point as its own.
  bool open(std::unique_ptr<LASreader> inner);
  // Positions the reader at the first stored point. Before the first pass has ended this
  // fails, as nothing complete is stored yet.
  bool reopen();

  int format_code() const override;
  bool seek_point(std::int64_t index) override;
  ByteStreamIn* stream_of() const override;
  void close_reader(bool close_stream = true) override;
  bool read_raw_point() override;

  // Bytes the stored points take in memory, for reports and tests.
  std::int64_t stored_bytes() const;
  std::int64_t stored_allocation() const;

 private:
  bool store_point();
  bool finish_storing();

  std::unique_ptr<LASreader> inner_;  // the wrapped reader, then the reader over memory
  std::unique_ptr<ByteStreamOutBlocks> memory_out_;
  std::unique_ptr<LASwriterLAS> memory_writer_;
  std::unique_ptr<ByteStreamInBlocks> memory_in_;
  WorkerPool* worker_pool_ = nullptr;
  int inner_format_code_ = 0;
  bool stored_complete_ = false;
  bool inner_failed_ = false;
};
