// Chunk-parallel decoding against decoding on the calling thread: for every point type,
// chunking, selective-decoding flag set, pool size and kind of damage, a reader with workers
// delivers the same records byte for byte and fails at the same points with the same
// messages as one without.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "codec/chunk_table.hpp"
#include "codec/entropy_decoder.hpp"
#include "codec/entropy_encoder.hpp"
#include "pkz_test_support.hpp"
#include "stream/worker_pool.hpp"

using namespace pkz_test;

namespace {

constexpr std::uint32_t kVariable = 0;

struct Case {
  const char* name;
  int point_type;
  int extra_bytes;
  std::uint16_t compressor;
  std::uint16_t version;  // 1 or 2 for types 0-5 (choose_version); 3 or 4 for the layered
  std::uint32_t chunk_size;
  std::size_t count;
  std::set<std::size_t> chunk_ends;  // variable chunks
  std::uint32_t selective = kDecompressAll;
  bool random_fields = false;
};

struct Block {
  Pakrel codec;
  std::vector<std::uint8_t> bytes;
  std::size_t count = 0;
  std::size_t record_size = 0;
};

Block make_block(const Case& c) {
  Style style;
  style.random_fields = c.random_fields;
  style.times = c.random_fields ? Times::JUMPY : Times::SCENE;
  const Records records =
      make_records(c.point_type, c.extra_bytes, c.count,
                   static_cast<std::uint32_t>(7 * c.point_type + c.count), style);
  Block block;
  block.codec = make_codec(records, c.compressor, c.version > 2 ? 2 : c.version, c.chunk_size);
  if (c.version == 4) {
    std::vector<LASitem> items = block.codec.items;
    for (LASitem& item : items)
      item.version = 4;
    EXPECT_TRUE(
        block.codec.setup(static_cast<std::uint16_t>(items.size()), items.data(), c.compressor));
    EXPECT_TRUE(block.codec.change_chunk_size(c.chunk_size));
  }
  block.bytes = encode(records, block.codec, c.chunk_ends);
  block.count = c.count;
  block.record_size = static_cast<std::size_t>(records.record_length);
  return block;
}

// A memory block behind a pipe: no seeking.
class PipeIn : public ByteStreamInArray {
 public:
  using ByteStreamInArray::ByteStreamInArray;
  bool can_seek() const override { return false; }
  bool seek_to(std::int64_t) override { return false; }
  bool seek_from_end(std::int64_t) override { return false; }
};

// One step of a reading: a seek to `target` (none when negative), then `reads` reads.
struct Step {
  std::int64_t target;
  std::size_t reads;
};

// Everything a reader can observe: the records delivered, and each failure, seek and the
// end check with the point index it happened at and the texts the engine left.
struct Transcript {
  std::vector<std::uint8_t> records;
  std::string events;
  std::int64_t first_failure = -1;  // the point whose read failed first
};

// With `taking`, reads take the records the engine hands out as they are (up to an odd 37
// at a time) wherever it does, as the tool's passes do, and read one by one elsewhere.
Transcript read_block(const Block& block, WorkerPool* pool, std::uint32_t selective,
                      const std::vector<Step>& steps, bool pipe = false, bool taking = false) {
  std::unique_ptr<ByteStreamInArray> in;
  const auto size = static_cast<std::int64_t>(block.bytes.size());
  if (pipe) {
    in = std::make_unique<PipeIn>(block.bytes.data(), size);
  } else {
    in = std::make_unique<ByteStreamInArray>(block.bytes.data(), size);
  }
  LASpoint point;
  EXPECT_TRUE(point.init_layout(nullptr, block.codec.num_items, block.codec.items.data(), nullptr));
  RawRecordLayout layout;
  EXPECT_TRUE(layout.init(block.codec.items));
  std::vector<std::uint8_t> record(layout.record_size());
  LASreadEngine engine(selective);
  engine.set_worker_pool(pool);
  EXPECT_TRUE(engine.setup(block.codec.num_items, block.codec.items.data(), &block.codec));
  EXPECT_TRUE(engine.attach(in.get()));

  Transcript transcript;
  auto texts = [&] {
    return std::string(" error '") + (engine.error_text() ? engine.error_text() : "") +
           "' warning '" + (engine.warning_text() ? engine.warning_text() : "") + "'\n";
  };
  std::int64_t current = 0;
  for (const Step& step : steps) {
    if (step.target >= 0) {
      const bool sought = engine.seek(current, step.target);
      transcript.events += "seek " + std::to_string(step.target) + (sought ? " ok" : " failed");
      transcript.events += texts();
      if (sought) current = step.target;
    }
    int failures_in_a_row = 0;
    for (std::size_t i = 0; i < step.reads && failures_in_a_row < 3; i++) {
      std::size_t count = std::min<std::size_t>(step.reads - i, 37);
      const std::uint8_t* taken = taking ? engine.take_raw_records(count) : nullptr;
      if (taken != nullptr) {
        transcript.records.insert(transcript.records.end(), taken,
                                  taken + count * layout.record_size());
        current += static_cast<std::int64_t>(count);
        i += count - 1;
        failures_in_a_row = 0;
      } else if (engine.read(point.item_data.data())) {
        layout.gather(point.item_data.data(), record.data());
        transcript.records.insert(transcript.records.end(), record.begin(), record.end());
        current++;
        failures_in_a_row = 0;
      } else {
        transcript.events += "read " + std::to_string(current) + " failed" + texts();
        if (transcript.first_failure < 0) transcript.first_failure = current;
        failures_in_a_row++;
      }
    }
  }
  transcript.events += std::string("end ") + (engine.verify_end() ? "ok" : "failed") + texts();
  EXPECT_TRUE(engine.detach());
  return transcript;
}

// Reads every point and a few beyond.
std::vector<Step> read_all(const Block& block) {
  return {{-1, block.count + 3}};
}

// Pools of every size, and one whose threads the system refused.
struct Pools {
  std::vector<std::pair<std::string, std::unique_ptr<WorkerPool>>> all;
  Pools() {
    for (unsigned workers : {0u, 1u, 2u, 3u}) {
      all.emplace_back(std::to_string(workers) + " workers", std::make_unique<WorkerPool>(workers));
    }
    WorkerPool::limit_threads_for_testing(0);
    all.emplace_back("threads refused", std::make_unique<WorkerPool>(2));
    WorkerPool::limit_threads_for_testing(-1);
  }
};

Pools& pools() {
  static Pools instance;
  return instance;
}

// With every pool, or with those of `only` (indexes into Pools::all).
void expect_same_with_pools(const Block& block, std::uint32_t selective,
                            const std::vector<Step>& steps, const std::string& what,
                            const std::vector<std::size_t>& only = {}) {
  const Transcript alone = read_block(block, nullptr, selective, steps);
  for (std::size_t i = 0; i < pools().all.size(); i++) {
    if (!only.empty() && std::find(only.begin(), only.end(), i) == only.end()) continue;
    const auto& [name, pool] = pools().all[i];
    if (kThreadsOnly && pool->workers() == 0) continue;
    for (const bool taking : {false, true}) {
      const Transcript shared = read_block(block, pool.get(), selective, steps, false, taking);
      const char* how = taking ? " taking records" : "";
      EXPECT_EQ(shared.events, alone.events) << what << ", " << name << how;
      EXPECT_TRUE(shared.records == alone.records)
          << what << ", " << name << how << ": " << shared.records.size()
          << " record bytes against " << alone.records.size();
    }
  }
}

const std::vector<Case>& cases() {
  static const std::vector<Case> all = [] {
    using P = Pakrel;
    std::vector<Case> list;
    const auto add = [&list](const char* name, int type, int extra_bytes, std::uint16_t compressor,
                             std::uint16_t version, std::uint32_t chunk_size, std::size_t count,
                             std::set<std::size_t> ends = {},
                             std::uint32_t selective = kDecompressAll, bool random = false) {
      list.push_back({name, type, extra_bytes, compressor, version, chunk_size, count,
                      std::move(ends), selective, random});
    };
    for (int type = 0; type <= 5; type++)
      add("fixed", type, type % 2 ? 3 : 0, P::COMPRESSOR_CHUNKED, 2, 250, 1100);
    for (int type = 6; type <= 10; type++)
      add("layered", type, type % 2 ? 0 : 2, P::COMPRESSOR_LAYERED, 3, 250, 1100, {},
          kDecompressAll, type == 9);
    add("version 1", 3, 0, P::COMPRESSOR_CHUNKED, 1, 200, 900);
    add("version 4", 10, 1, P::COMPRESSOR_LAYERED, 4, 200, 900);
    add("chunks of one point", 3, 0, P::COMPRESSOR_CHUNKED, 2, 1, 40);
    add("layered chunks of one point", 7, 0, P::COMPRESSOR_LAYERED, 3, 1, 40);
    add("one partial chunk", 6, 0, P::COMPRESSOR_LAYERED, 3, 50000, 800);
    add("variable", 1, 0, P::COMPRESSOR_CHUNKED, 2, kVariable, 1200, {1, 2, 3, 400, 900, 901});
    add("layered variable", 8, 4, P::COMPRESSOR_LAYERED, 4, kVariable, 900, {1, 400, 401, 899});
    add("per point", 1, 0, P::COMPRESSOR_PER_POINT, 2, 0, 600);
    // Selective decoding: fields of the layers not asked for stay as the chunk's first
    // point has them (every field varies in these).
    add("x and y only", 6, 0, P::COMPRESSOR_LAYERED, 3, 150, 500, {}, 0, true);
    add("z, time, colour", 10, 3, P::COMPRESSOR_LAYERED, 3, 150, 500, {},
        kDecompressZ | kDecompressGpsTime | kDecompressRgb, true);
    add("flags, first extra byte", 8, 2, P::COMPRESSOR_LAYERED, 4, 150, 500, {},
        kDecompressFlags | kDecompressNir | kDecompressByte0, true);
    return list;
  }();
  return all;
}

std::string name_of(const Case& c) {
  return std::string(c.name) + " type " + std::to_string(c.point_type);
}

TEST(ParallelDecode, EveryPointTypeAndChunkingDecodesAsOnTheCallingThread) {
  for (const Case& c : cases()) {
    const Block block = make_block(c);
    const Transcript alone = read_block(block, nullptr, c.selective, read_all(block));
    // The comparison means something: the points are there, whole.
    ASSERT_GE(alone.records.size(), block.count * block.record_size) << name_of(c);
    expect_same_with_pools(block, c.selective, read_all(block), name_of(c));
  }
}

TEST(ParallelDecode, AStreamThatCannotSeekIsDecodedOnTheCallingThreadAsWithoutWorkers) {
  for (const Case& c : cases()) {
    if (c.compressor != Pakrel::COMPRESSOR_CHUNKED && c.compressor != Pakrel::COMPRESSOR_LAYERED)
      continue;
    const Block block = make_block(c);
    const Transcript alone = read_block(block, nullptr, c.selective, read_all(block), true);
    const Transcript shared =
        read_block(block, pools().all[2].second.get(), c.selective, read_all(block), true);
    EXPECT_EQ(shared.events, alone.events) << name_of(c);
    EXPECT_TRUE(shared.records == alone.records) << name_of(c);
  }
}

// Where each chunk begins, from the block's own table.
ChunkIndex index_of(const Block& block) {
  ByteStreamInArray in(block.bytes.data(), static_cast<std::int64_t>(block.bytes.size()));
  EntropyDecoder decoder;
  ChunkIndex index;
  std::string error;
  std::string warning;
  EXPECT_TRUE(read_chunk_index(in, decoder, block.codec.chunk_size == 0, 1, index, error, warning));
  return index;
}

// The block with its table replaced by one of these point counts and byte lengths.
Block with_table(const Block& block, const ChunkIndex& index, std::vector<std::uint32_t> counts,
                 std::vector<std::uint32_t> lengths) {
  Block lying = block;
  ByteStreamOutArray table;
  EntropyEncoder encoder;
  EXPECT_TRUE(
      write_chunk_table_entries(table, encoder, block.codec.chunk_size == 0, counts, lengths));
  lying.bytes.resize(static_cast<std::size_t>(index.starts[index.tabled]));
  lying.bytes.insert(lying.bytes.end(), table.data(), table.data() + table.size());
  return lying;
}

// Damaged copies of a block, each with what was done to it.
std::vector<std::pair<std::string, Block>> damaged(const Block& block) {
  const ChunkIndex index = index_of(block);
  const auto start = [&](std::uint32_t chunk) {
    return static_cast<std::size_t>(index.starts[chunk]);
  };
  const std::uint32_t chunks = index.tabled;
  std::vector<std::pair<std::string, Block>> list;
  const auto cut = [&](const std::string& what, std::size_t size) {
    Block copy = block;
    copy.bytes.resize(size);
    list.emplace_back("cut " + what, std::move(copy));
  };
  cut("in chunk 0", start(0) + 40);
  cut("in the middle chunk", (start(chunks / 2) + start(chunks / 2 + 1)) / 2);
  cut("in the last chunk", start(chunks - 1) + 60);
  cut("before the table", start(chunks));
  cut("in the table", start(chunks) + (block.bytes.size() - start(chunks)) / 2);
  const auto garble = [&](const std::string& what, std::size_t at, std::size_t bytes) {
    Block copy = block;
    for (std::size_t i = at; i < at + bytes && i < copy.bytes.size(); i++)
      copy.bytes[i] ^= 0x5A;
    list.emplace_back("garbled " + what, std::move(copy));
  };
  const std::size_t raw_point = block.record_size;
  garble("middle of chunk 1", (start(1) + raw_point + start(2)) / 2, 24);
  garble("start of chunk 2's coded part", start(2) + raw_point, 12);
  garble("last chunk", (start(chunks - 1) + start(chunks)) / 2, 8);
  garble("table pointer", 0, 8);

  std::vector<std::uint32_t> counts;
  std::vector<std::uint32_t> lengths;
  for (std::uint32_t i = 0; i < chunks; i++) {
    lengths.push_back(static_cast<std::uint32_t>(index.starts[i + 1] - index.starts[i]));
    if (!index.totals.empty()) {
      counts.push_back(static_cast<std::uint32_t>(index.totals[i + 1] - index.totals[i]));
    }
  }
  // Chunk 0, a middle chunk or the one before the last ending away from where the table puts
  // its successor.
  for (const std::uint32_t moved : {1u, 2u, chunks - 1}) {
    std::vector<std::uint32_t> shifted = lengths;
    shifted[moved - 1] += 3;
    shifted[moved] -= 3;
    list.emplace_back("table moving chunk " + std::to_string(moved),
                      with_table(block, index, counts, shifted));
  }
  if (!counts.empty()) {
    std::vector<std::uint32_t> lying = counts;
    lying[1] = 0x7FFFFFF0;  // far beyond what any slot may hold
    list.emplace_back("table with a huge count", with_table(block, index, lying, lengths));
    lying = counts;
    lying[1] = 200000;  // more than the chunk holds, few enough for a slot
    list.emplace_back("table with a count too large", with_table(block, index, lying, lengths));
    lying = counts;
    lying[1] = counts[1] / 2 + 1;
    list.emplace_back("table with a count too small", with_table(block, index, lying, lengths));
  }
  return list;
}

TEST(ParallelDecode, DamagedBlocksFailAtTheSamePointsWithTheSameMessages) {
  using P = Pakrel;
  const std::vector<Case> bases = {
      {"fixed", 1, 0, P::COMPRESSOR_CHUNKED, 2, 160, 800, {}},
      {"layered", 7, 2, P::COMPRESSOR_LAYERED, 3, 160, 800, {}},
      {"variable", 3, 0, P::COMPRESSOR_CHUNKED, 2, kVariable, 800, {100, 300, 500, 650}},
      {"layered variable", 9, 0, P::COMPRESSOR_LAYERED, 4, kVariable, 800, {150, 400, 600}},
  };
  for (const Case& c : bases) {
    const Block block = make_block(c);
    for (const auto& [what, copy] : damaged(block)) {
      const std::string name = name_of(c) + ", " + what;
      expect_same_with_pools(copy, c.selective, read_all(copy), name, {1, 3});
      // Under ThreadSanitizer the reads end only where they fail: where a read ends is the
      // engine's logic, which the other builds compare.
      if (kThreadsOnly) continue;
      // Ending inside a chunk, and right before the point that fails: the end check then
      // needs to know where the decoder stands.
      expect_same_with_pools(copy, c.selective, {{-1, copy.count / 2}}, name + ", half", {2});
      expect_same_with_pools(copy, c.selective, {{-1, 40}}, name + ", inside chunk 0", {2});
      const std::int64_t failure =
          read_block(copy, nullptr, c.selective, read_all(copy)).first_failure;
      if (failure > 0) {
        expect_same_with_pools(copy, c.selective, {{-1, static_cast<std::size_t>(failure)}},
                               name + ", up to the failure", {2});
      }
    }
  }
}

TEST(ParallelDecode, SeeksLandWhereTheyLandOnTheCallingThread) {
  using P = Pakrel;
  const std::vector<Case> bases = {
      {"fixed", 3, 0, P::COMPRESSOR_CHUNKED, 2, 200, 1200, {}},
      {"layered", 8, 0, P::COMPRESSOR_LAYERED, 3, 200, 1200, {}, kDecompressZ},
      {"layered variable", 6, 0, P::COMPRESSOR_LAYERED, 3, kVariable, 1200, {1, 400, 800, 1000}},
  };
  for (const Case& c : bases) {
    const Block block = make_block(c);
    std::mt19937 rng(static_cast<unsigned>(c.point_type));
    const auto count = static_cast<std::int64_t>(block.count);
    std::vector<Step> steps = {{-1, 10}, {5, 3}, {2, 300}, {401, 1}, {350, 500}};
    for (int i = 0; i < 12; i++) {
      const std::int64_t target = std::uniform_int_distribution<std::int64_t>(0, count - 1)(rng);
      steps.push_back({target, std::uniform_int_distribution<std::size_t>(0, 400)(rng)});
    }
    steps.push_back({count - 1, 5});  // the last point, and reading past it
    steps.push_back({count + 300, 2});
    expect_same_with_pools(block, c.selective, steps, name_of(c), {2, 3});
    // A damaged chunk on the way of the seeks.
    for (const auto& [what, copy] : damaged(block)) {
      if (what.rfind("garbled middle", 0) != 0 && what.rfind("table moving", 0) != 0) continue;
      expect_same_with_pools(copy, c.selective, steps, name_of(c) + ", " + what, {2});
    }
  }
}

}  // namespace
