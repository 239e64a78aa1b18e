// Adding a layer to a LAY file that another run changes at the same time: the lock makes
// the runs take turns, and a layer is never added over layers it did not read.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "las/las_reader_las.hpp"
#include "layers/las_modify.hpp"
#include "layers/lay_file.hpp"
#include "layers/lay_file_lock.hpp"
#include "scene/scene_las.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kBlock = 65536;

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class LayFileTurns : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/isocull_lay_lock_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    points_ = dir_ + "/t.las";
    lay_ = dir_ + "/t.lay";
    SceneFileOptions options;
    options.scene.points = 300;
    options.scene.seed = 6;
    ASSERT_TRUE(write_scene_las(points_.c_str(), options));
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Adds a layer (point 5 classified 9) to the LAY file of the points; `meanwhile` runs
  // between the pass and the close, as another run would. The result of close_writer and
  // what was printed.
  template <class Meanwhile>
  std::int64_t add_layer(Meanwhile meanwhile, std::string& err) {
    LASreaderLAS reader;
    EXPECT_TRUE(reader.open_file(points_.c_str()));
    LASmodify modify;
    EXPECT_TRUE(modify.add_replace_layer("classification", 48, "test", {}));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(modify.open(reader, points_, true, 0, kBlock));
    LASpoint marked = reader.point;
    while (reader.read_next()) {
      marked.copy_values_from(reader.point);
      if (reader.points_done == 6) marked.set_classification(9);
      EXPECT_TRUE(modify.write_point(marked));
    }
    meanwhile();
    const std::int64_t closed = modify.close_writer(true);
    err = testing::internal::GetCapturedStderr();
    return closed;
  }

  std::uint32_t layer_count() const {
    const std::string bytes = read_text(lay_);
    LAYidentity identity;
    std::uint32_t count = 0;
    std::size_t at = 0;
    std::string failure;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return decode_lay_header(data, bytes.size(), identity, count, at, failure) ? count : 0;
  }

  std::string dir_, points_, lay_;
};

TEST_F(LayFileTurns, AnAppendNeverPutsItsFileOverOneThatAnotherRunPutInPlaceMeanwhile) {
  std::string err;
  ASSERT_GT(add_layer([] {}, err), 0) << err;
  ASSERT_EQ(layer_count(), 1u);
  ASSERT_GT(add_layer([] {}, err), 0) << err;
  ASSERT_EQ(layer_count(), 2u);
  const std::string two_layers = read_text(lay_);

  struct Case {
    const char* name;
    bool file_before;
    std::function<void()> meanwhile;
    bool file_after;
  };
  const std::string other = dir_ + "/other.lay";
  const Case cases[] = {
      {"a LAY file put where there was none", false, [&] { write_text(lay_, two_layers); }, true},
      {"the LAY file replaced by another", true,
       [&] {
         write_text(other, two_layers);
         std::rename(other.c_str(), lay_.c_str());
       },
       true},
      {"the LAY file removed", true, [&] { std::remove(lay_.c_str()); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(lay_.c_str());
    if (c.file_before) write_text(lay_, two_layers);
    EXPECT_EQ(add_layer(c.meanwhile, err), 0);
    EXPECT_NE(err.find("ERROR: LAY file '" + lay_ + "' was changed by another run meanwhile"),
              std::string::npos)
        << err;
    if (c.file_after) {
      EXPECT_EQ(read_text(lay_), two_layers) << "what the other run put there stays";
    } else {
      EXPECT_FALSE(fs::exists(lay_));
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
      names.push_back(entry.path().filename().string());
    for (const std::string& name : names)
      EXPECT_EQ(name.find(".tmp"), std::string::npos) << "temporary left: " << name;
  }
}

TEST_F(LayFileTurns, AWaitingRunLocksTheFileThatReplacedTheOneItWaitedFor) {
  std::string failure;
  LAYfileLock first;
  EXPECT_EQ(first.acquire(lay_, false, failure), LAYfileLock::Result::kNoFile);
  EXPECT_FALSE(first.locked());
  write_text(lay_, "old");
  ASSERT_EQ(first.acquire(lay_, false, failure), LAYfileLock::Result::kLocked) << failure;
  {
    LAYfileLock busy;
    EXPECT_EQ(busy.acquire(lay_, false, failure), LAYfileLock::Result::kBusy);
  }

  std::atomic<bool> locked{false};
  LAYfileLock second;
  std::thread waiter([&] {
    EXPECT_EQ(second.acquire(lay_, true, failure), LAYfileLock::Result::kLocked);
    locked = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(locked) << "the second run waits";
  // The first run puts its new file in place and ends.
  const std::string replacement = dir_ + "/t.lay.tmpABCDEF";
  write_text(replacement, "new");
  ASSERT_EQ(std::rename(replacement.c_str(), lay_.c_str()), 0);
  first.release();
  EXPECT_FALSE(first.locked());
  waiter.join();
  EXPECT_TRUE(locked);
  // The second run holds the new file, not the one that was replaced.
  LAYfileLock third;
  EXPECT_EQ(third.acquire(lay_, false, failure), LAYfileLock::Result::kBusy);
  second.release();
  EXPECT_FALSE(second.locked());
  EXPECT_EQ(third.acquire(lay_, false, failure), LAYfileLock::Result::kLocked);
  second.release();  // a second release closes nothing more
  EXPECT_TRUE(third.locked());
}

}  // namespace
