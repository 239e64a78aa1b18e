// Chunks coded on worker threads: the bytes equal those of the calling thread coding them,
// for every point type, chunking, stream kind and pool, and a refused write still fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "codec_test_support.hpp"
#include "pkz_test_support.hpp"
#include "stream/worker_pool.hpp"

namespace {

// Under ThreadSanitizer (kThreadsOnly) each pool with threads codes points and stored records
// mixed, which go through both calls.
using pkz_test::kThreadsOnly;

using pkz_test::make_codec;
using pkz_test::make_records;
using pkz_test::Records;

// How the points are cut into chunks.
struct Chunking {
  const char* name;
  std::uint32_t chunk_size;              // 0: variable chunks
  std::set<std::size_t> chunk_ends;      // variable: close_chunk before these points
  std::size_t buffer_limit_records = 0;  // non-zero: chunk buffers this many records
  // Points coded: fewer where chunks are small, as every chunk starts its models afresh.
  std::size_t points = 200;
};

const std::vector<Chunking>& chunkings() {
  static const std::vector<Chunking> table = {
      {"fixed 1", 1, {}, 0, 8},
      {"fixed 7", 7, {}, 0, 40},
      {"fixed 100 (a divisor of the count)", 100, {}},
      {"fixed 50000 (one chunk)", 50000, {}},
      {"fixed 120, buffers of 50 records", 120, {}, 50},
      {"variable, never closed", 0, {}},
      {"variable, closed anywhere", 0, {0, 1, 2, 3, 50, 51, 150, 151, 153, 199, 200}},
      {"variable, long chunk beyond the buffers", 0, {10, 11, 170}, 64},
  };
  return table;
}

// Pools to compare with the calling thread; made once, they serve every case.
struct Pools {
  std::vector<std::unique_ptr<WorkerPool>> pools;
  std::vector<std::string> names;
  Pools() {
    for (unsigned workers : {0u, 1u, 2u, 3u}) {
      pools.push_back(std::make_unique<WorkerPool>(workers));
      names.push_back(std::to_string(workers) + " workers");
    }
    WorkerPool::limit_threads_for_testing(0);
    pools.push_back(std::make_unique<WorkerPool>(2));
    WorkerPool::limit_threads_for_testing(-1);
    names.push_back("2 workers asked, no thread started");
  }
};

Pools& pools() {
  static Pools instance;
  return instance;
}

struct Outcome {
  std::vector<std::uint8_t> bytes;
  bool all_true = true;
};

// With `raw_records`, points 1, 2, 4, 5, 7, ... go in as stored records (write_raw), as the
// tool's second pass hands them over, wherever the engine takes them.
Outcome encode(const Records& records, const Pakrel& codec, const Chunking& chunking,
               WorkerPool* pool, bool pipe, bool raw_records = false) {
  LASpoint point;
  EXPECT_TRUE(point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr));
  RawRecordLayout layout;
  EXPECT_TRUE(layout.init(codec.items));
  ByteStreamOutArray array;
  codec_test::ByteStreamOutPipe pipe_stream;
  ByteStreamOut& out = pipe ? static_cast<ByteStreamOut&>(pipe_stream) : array;
  Outcome outcome;
  LASwriteEngine engine;
  EXPECT_TRUE(engine.setup(codec.num_items, codec.items.data(), &codec));
  engine.set_worker_pool(pool);
  if (chunking.buffer_limit_records) {
    engine.set_chunk_buffer_limit(chunking.buffer_limit_records * records.record_length);
  }
  EXPECT_TRUE(engine.attach(&out));
  EXPECT_EQ(engine.codes_in_parallel(), pool != nullptr && pool->workers() > 0);
  EXPECT_EQ(engine.writes_raw_records(), engine.codes_in_parallel());
  for (std::size_t i = 0; i < std::min(records.count(), chunking.points); i++) {
    if (chunking.chunk_ends.count(i) && !engine.close_chunk()) outcome.all_true = false;
    if (raw_records && i % 3 != 0 && engine.writes_raw_records()) {
      if (!engine.write_raw(records.record(i))) outcome.all_true = false;
      continue;
    }
    layout.scatter(records.record(i), point.item_data.data());
    if (!engine.write(point.item_data.data())) outcome.all_true = false;
  }
  if (!engine.finish()) outcome.all_true = false;
  if (pipe) {
    outcome.bytes = pipe_stream.bytes();
  } else {
    outcome.bytes.assign(array.data(), array.data() + array.size());
  }
  return outcome;
}

struct Case {
  int point_type;
  int extra_bytes;
  std::uint16_t version;
};

TEST(PkzParallelWrite, EveryPointTypeChunkingAndPoolGivesTheSequentialBytes) {
  const Case cases[] = {{0, 0, 2}, {1, 0, 2}, {1, 3, 1}, {2, 0, 2},  {3, 0, 2},
                        {3, 2, 1}, {4, 0, 2}, {5, 1, 2}, {6, 0, 2},  {6, 4, 2},
                        {7, 0, 2}, {8, 0, 2}, {9, 0, 2}, {10, 0, 2}, {10, 3, 2}};
  // Each case and chunking meets one pool with threads, in turn, so that across the table
  // every pool meets every point type and every chunking; the pools without threads (the
  // sequential path) meet a few.
  std::size_t turn = 0;
  for (const Case& c : cases) {
    pkz_test::Style style;
    style.random_fields = c.point_type >= 6 || c.extra_bytes > 0;
    style.times = c.point_type % 2 ? pkz_test::Times::JUMPY : pkz_test::Times::SCENE;
    const Records records =
        make_records(c.point_type, c.extra_bytes, 200, 4100 + c.point_type, style);
    const std::uint16_t compressor =
        c.point_type >= 6 ? Pakrel::COMPRESSOR_LAYERED : Pakrel::COMPRESSOR_CHUNKED;
    for (const Chunking& chunking : chunkings()) {
      turn++;
      const Pakrel codec = make_codec(records, compressor, c.version, chunking.chunk_size);
      for (bool pipe : {false, true}) {
        // The pipe only where the table pointer matters, not for every chunking.
        if (pipe && chunking.chunk_size != 7 && chunking.chunk_ends.empty()) continue;
        SCOPED_TRACE("type " + std::to_string(c.point_type) + " extra " +
                     std::to_string(c.extra_bytes) + " v" + std::to_string(c.version) + ", " +
                     chunking.name + (pipe ? ", stream cannot seek" : ""));
        const Outcome expected = encode(records, codec, chunking, nullptr, pipe);
        ASSERT_TRUE(expected.all_true);
        for (std::size_t p = 0; p < pools().pools.size(); p++) {
          const unsigned workers = pools().pools[p]->workers();
          if (workers == 0 ? kThreadsOnly || (c.point_type != 3 && c.point_type != 7)
                           : turn % 3 + 1 != workers) {
            continue;
          }
          SCOPED_TRACE(pools().names[p]);
          for (const bool raw_records : {false, true}) {
            if (kThreadsOnly && !raw_records) continue;
            const Outcome parallel =
                encode(records, codec, chunking, pools().pools[p].get(), pipe, raw_records);
            EXPECT_TRUE(parallel.all_true) << (raw_records ? "stored records" : "points");
            EXPECT_TRUE(parallel.bytes == expected.bytes)
                << (raw_records ? "stored records: " : "points: ") << parallel.bytes.size()
                << " bytes instead of " << expected.bytes.size();
          }
        }
      }
    }
  }
}

TEST(PkzParallelWrite, ARefusedWriteFailsAtALaterCallAndEveryCallAfterIt) {
  const Records records = make_records(7, 0, 200, 77, {true, pkz_test::Times::SCENE});
  WorkerPool pool(2);
  for (std::uint32_t chunk_size : {3u, 30u, 0u}) {
    const Pakrel codec = make_codec(records, Pakrel::COMPRESSOR_LAYERED, 2, chunk_size);
    const Chunking chunking{"", chunk_size, {50, 120}, 0, 200};
    const std::size_t total = encode(records, codec, chunking, nullptr, false).bytes.size();
    for (std::size_t capacity :
         {std::size_t{4}, std::size_t{9}, total / 3, total - 20, total - 1}) {
      SCOPED_TRACE("chunk size " + std::to_string(chunk_size) + ", " + std::to_string(capacity) +
                   " of " + std::to_string(total) + " bytes accepted");
      LASpoint point;
      ASSERT_TRUE(point.init_layout(nullptr, codec.num_items, codec.items.data(), nullptr));
      RawRecordLayout layout;
      ASSERT_TRUE(layout.init(codec.items));
      codec_test::ByteStreamOutLimited out(capacity);
      LASwriteEngine engine;
      ASSERT_TRUE(engine.setup(codec.num_items, codec.items.data(), &codec));
      engine.set_worker_pool(&pool);
      if (!engine.attach(&out)) {
        EXPECT_LT(capacity, 8u);
        continue;
      }
      bool failed = false;
      for (std::size_t i = 0; i < records.count(); i++) {
        if (chunking.chunk_ends.count(i) && chunk_size == 0) {
          const bool ok = engine.close_chunk();
          EXPECT_FALSE(failed && ok) << "close_chunk succeeded after a failure";
          failed = failed || !ok;
        }
        layout.scatter(records.record(i), point.item_data.data());
        const bool ok = engine.write(point.item_data.data());
        EXPECT_FALSE(failed && ok) << "point " << i << " written after a failure";
        failed = failed || !ok;
      }
      EXPECT_FALSE(engine.finish());
    }
  }
}

}  // namespace
