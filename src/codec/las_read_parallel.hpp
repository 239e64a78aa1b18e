#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "stream/bytestream_in_array.hpp"
#include "stream/worker_pool.hpp"

class ByteStreamIn;
class LASreadEngine;

// The chunks that a LASreadEngine hands to its workers, in file order.
//
// The calling thread reads each chunk's bytes (from its start to the next chunk's start, as
// the chunk table says) into a slot and queues a job that decodes the chunk's points into
// raw records with an engine of the slot's own. A fixed number of slots (two per worker and
// one) bounds what is in flight: one slot is being handed out while the others decode.
//
// The pipeline is the engine's helper and lives inside it; it borrows the engine, the pool
// and, per call, the engine's stream. Nothing here prints or fails loudly: a chunk that
// cannot be queued (not located by the table, too large, unreadable) ends the queue, and a
// chunk that does not decode cleanly says so in its slot; the engine then decodes on the
// calling thread, where every message comes from.
class LASreadPipeline {
 public:
  struct Slot {
    std::unique_ptr<LASreadEngine> engine;  // made on first use, kept for later chunks
    ByteStreamInArray stream;
    std::vector<std::uint8_t> bytes;    // the chunk as stored; grows, never shrinks
    std::vector<std::uint8_t> records;  // the decoded raw records; grows as they come
    std::uint32_t chunk = 0;
    std::int64_t length = 0;   // bytes of the chunk
    std::uint32_t points = 0;  // points the chunk holds by the table or the descriptor
    // Written by the job, read after its ticket was waited for.
    std::uint32_t decoded = 0;
    bool failed = false;               // a read failed after `decoded` points
    std::int64_t end = 0;              // bytes the decoding consumed (when it did not fail)
    std::atomic<bool> dropped{false};  // nobody wants the result: a job not started skips
    WorkerPool::TicketPtr ticket;      // the job, until waited for
  };

  LASreadPipeline(const LASreadEngine& owner, WorkerPool& pool);
  // Waits for every job that still runs: they write into the slots.
  ~LASreadPipeline();
  LASreadPipeline(const LASreadPipeline&) = delete;
  LASreadPipeline& operator=(const LASreadPipeline&) = delete;

  // Forgets what was queued, then queues chunk `first` and those after it while slots and
  // the table allow. False when not even `first` could be queued; the stream position is
  // then anywhere.
  bool begin(ByteStreamIn& stream, std::uint32_t first);
  // The oldest queued chunk, decoded (waits for its job, or runs it).
  Slot& front();
  // Whether the chunk after the front one is queued.
  bool has_successor() const { return queued_ > 1; }
  // The front chunk has been handed out: its slot takes the next chunk.
  void pop_front(ByteStreamIn& stream);
  // Forgets every queued chunk. Jobs that have not started skip their work; the slots are
  // waited for when they are used again.
  void drop();

 private:
  void fill(ByteStreamIn& stream);
  bool queue(Slot& slot, ByteStreamIn& stream);
  void settle(Slot& slot);

  const LASreadEngine& owner_;
  WorkerPool& pool_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::size_t front_ = 0;   // slot of the oldest queued chunk
  std::size_t queued_ = 0;  // queued chunks, the front one included
  std::uint32_t next_chunk_ = 0;
  bool filling_ = false;  // false once a chunk could not be queued
};
