// Layers applied to the points of a file, seen where a user sees them: in the record bytes
// of the copy written from the applied points. Classes that only the extended field holds
// (32 and above) and a class layer of 0 over a classified point must reach the output.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "layers/las_apply.hpp"
#include "layers/las_modify.hpp"
#include "layers/lay_file.hpp"
#include "scene/scene_las.hpp"
#include "stream/bytestream_out_array.hpp"

namespace {

constexpr std::uint32_t kBlock = 65536;
constexpr int kPoints = 400;

// A scratch folder with one generated file of the given point type.
class AppliedLayers : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/isocull_apply_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    points_ = dir_ + "/t.las";
    SceneFileOptions options;
    options.scene.points = kPoints;
    options.scene.seed = 11;
    options.point_type = GetParam();
    ASSERT_TRUE(write_scene_las(points_.c_str(), options));
  }
  void TearDown() override {
    unlink((dir_ + "/t.lay").c_str());
    unlink(points_.c_str());
    rmdir(dir_.c_str());
  }

  // The records of the file as stored, one vector of bytes a point.
  std::vector<std::vector<std::uint8_t>> stored_records() {
    LASreaderLAS reader;
    EXPECT_TRUE(reader.open_file(points_.c_str()));
    return copy_records(reader);
  }

  // Writes `file` (with this point file's identity) as its LAY file, reads the points
  // through it and returns the records a LAS copy of them holds.
  std::vector<std::vector<std::uint8_t>> applied_records(LAYfile file) {
    auto reader = std::make_unique<LASreaderLAS>();
    EXPECT_TRUE(reader->open_file(points_.c_str()));
    std::string failure;
    EXPECT_TRUE(
        identify_point_file(points_, reader->header, kPoints, kBlock, file.identity, failure))
        << failure;
    const std::vector<std::uint8_t> lay = encode_lay_file(file);
    std::ofstream(lay_file_name(points_, nullptr), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(lay.data()), static_cast<std::streamsize>(lay.size()));
    return records_through_lay_file(std::move(reader));
  }

  // The records a LAS copy holds of the points read through the LAY file beside them.
  std::vector<std::vector<std::uint8_t>> records_through_lay_file(
      std::unique_ptr<LASreaderLAS> reader) {
    LASapply applied;
    EXPECT_TRUE(applied.open(*reader, points_, kBlock)) << applied.failure();
    EXPECT_TRUE(applied.load_layers(2147483647)) << applied.failure();
    applied.take_reader(std::move(reader));
    return copy_records(applied);
  }

  static std::vector<std::vector<std::uint8_t>> copy_records(LASreader& reader) {
    LASheader header = reader.header;
    ByteStreamOutArrayLE out;
    LASwriterLAS writer;
    EXPECT_TRUE(writer.open_stream(&out, &header));
    while (reader.read_next())
      EXPECT_TRUE(writer.write_point(reader.point));
    EXPECT_GT(writer.close_writer(true), 0);
    const std::vector<std::uint8_t> bytes(out.data(),
                                          out.data() + static_cast<std::size_t>(out.size()));
    std::vector<std::vector<std::uint8_t>> records;
    // Where the points start and how long a record is, from the written header's bytes.
    const std::size_t start = bytes[96] | bytes[97] << 8 | bytes[98] << 16 | bytes[99] << 24;
    const std::size_t length = bytes[105] | bytes[106] << 8;
    for (std::size_t at = start; at + length <= bytes.size(); at += length)
      records.emplace_back(bytes.begin() + static_cast<long>(at),
                           bytes.begin() + static_cast<long>(at + length));
    return records;
  }

  std::string dir_, points_;
};

// The class of a record as a reader of the format takes it from the bytes: byte 16 of the
// records of types 6-10, the low 5 bits of byte 15 of the older types.
int class_of(const std::vector<std::uint8_t>& record, int point_type) {
  return point_type >= 6 ? record[16] : (record[15] & 0x1F);
}
// The withheld bit: bit 2 of the flags byte 15 (types 6-10), bit 7 of byte 15 (older).
bool withheld_of(const std::vector<std::uint8_t>& record, int point_type) {
  return point_type >= 6 ? (record[15] & 0x04) != 0 : (record[15] & 0x80) != 0;
}

TEST_P(AppliedLayers, EveryClassOfTheLayerIsTheClassOfThePointWritten) {
  const int type = GetParam();
  const auto stored = stored_records();
  ASSERT_EQ(stored.size(), static_cast<std::size_t>(kPoints));
  // Values the legacy 5 bits cannot hold, 0 over classified points, and ordinary ones;
  // every third point keeps its class.
  const std::vector<std::uint8_t> values = {0, 32, 7, 255, 31, 64, 1, 40};
  LAYfile file;
  LAYlayer layer;
  layer.attribute = LAYattribute::kClassification;
  std::vector<int> expected(kPoints);
  int zeroed_classified = 0;
  for (int i = 0; i < kPoints; i++) {
    expected[static_cast<std::size_t>(i)] = class_of(stored[static_cast<std::size_t>(i)], type);
    if (i % 3 == 2) continue;
    const std::uint8_t value = values[static_cast<std::size_t>(i) % values.size()];
    if (value == 0 && expected[static_cast<std::size_t>(i)] != 0) zeroed_classified++;
    ASSERT_TRUE(layer.add_change(static_cast<std::uint64_t>(i), value));
    // Types 0-5 cannot hold a class of 32 or more: such a point becomes unclassified (0),
    // as the transform's -set_classification leaves it.
    expected[static_cast<std::size_t>(i)] = type >= 6 || value < 32 ? value : 0;
  }
  ASSERT_GT(zeroed_classified, 0) << "the scene should hold classified points";
  file.layers.push_back(layer);
  const auto applied = applied_records(file);
  ASSERT_EQ(applied.size(), stored.size());
  for (int i = 0; i < kPoints; i++) {
    const auto& record = applied[static_cast<std::size_t>(i)];
    EXPECT_EQ(class_of(record, type), expected[static_cast<std::size_t>(i)]) << "point " << i;
    // Nothing but the class changes.
    std::vector<std::uint8_t> rest = record, stored_rest = stored[static_cast<std::size_t>(i)];
    if (type >= 6) {
      rest[16] = stored_rest[16] = 0;
    } else {
      rest[15] &= 0xE0;
      stored_rest[15] &= 0xE0;
    }
    EXPECT_EQ(rest, stored_rest) << "point " << i;
  }
}

TEST_P(AppliedLayers, WithheldAndDeletionLayersComposeWithTheClassLayer) {
  const int type = GetParam();
  const auto stored = stored_records();
  LAYfile file;
  LAYlayer classes, withheld, deletion;
  classes.attribute = LAYattribute::kClassification;
  withheld.attribute = LAYattribute::kWithheldFlag;
  deletion.attribute = LAYattribute::kDeletion;
  // Points 10-19 become class 9, 15-24 withheld, 18 and 30-31 deleted; a later layer's
  // value wins over an earlier one of the same attribute.
  for (std::uint64_t i = 10; i < 20; i++)
    ASSERT_TRUE(classes.add_change(i, 9));
  for (std::uint64_t i = 15; i < 25; i++)
    ASSERT_TRUE(withheld.add_change(i, 1));
  for (std::uint64_t i : {18u, 30u, 31u})
    ASSERT_TRUE(deletion.add_change(i, 0));
  LAYlayer unclassify;
  unclassify.attribute = LAYattribute::kClassification;
  ASSERT_TRUE(unclassify.add_change(19, 2));
  file.layers = {classes, withheld, deletion, unclassify};
  const auto applied = applied_records(file);
  ASSERT_EQ(applied.size(), stored.size() - 3);
  std::size_t out = 0;
  for (std::size_t i = 0; i < stored.size(); i++) {
    if (i == 18 || i == 30 || i == 31) continue;
    const auto& record = applied[out++];
    const int want_class = i == 19 ? 2 : (i >= 10 && i < 20 ? 9 : class_of(stored[i], type));
    const bool want_withheld = (i >= 15 && i < 25) || withheld_of(stored[i], type);
    EXPECT_EQ(class_of(record, type), want_class) << "point " << i;
    EXPECT_EQ(withheld_of(record, type), want_withheld) << "point " << i;
    // The coordinates say which stored point this is: none was skipped or repeated.
    EXPECT_TRUE(std::equal(record.begin(), record.begin() + 12, stored[i].begin())) << i;
  }
}

// Layers recorded by LASmodify from marked points, one run an attribute, each appended to
// the LAY file of the runs before: applied, they give the points as they were marked. Points
// written as they were read are no change.
TEST_P(AppliedLayers, LayersRecordedFromMarkedPointsApplyAsTheyWereMarked) {
  const int type = GetParam();
  const auto stored = stored_records();
  struct Run {
    const char* attribute;  // nullptr: deletion
    int every;              // the points i with i % every == 1 are marked
  };
  const Run runs[] = {{"classification", 3}, {"withheld_flag", 5}, {nullptr, 7}};
  std::vector<int> want_class(stored.size());
  std::vector<bool> want_withheld(stored.size());
  for (std::size_t i = 0; i < stored.size(); i++) {
    want_class[i] = class_of(stored[i], type);
    want_withheld[i] = withheld_of(stored[i], type);
  }
  for (std::size_t r = 0; r < std::size(runs); r++) {
    const Run& run = runs[r];
    SCOPED_TRACE(run.attribute ? run.attribute : "deletion");
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(points_.c_str()));
    LASmodify modify;
    if (run.attribute) {
      ASSERT_TRUE(modify.add_replace_layer(run.attribute, 16, "isocull -test", {1.5}));
    } else {
      ASSERT_TRUE(modify.add_delete_layer(16, "isocull -test", {}));
    }
    EXPECT_FALSE(modify.add_delete_layer(16, "again", {}));  // one layer a run
    ASSERT_TRUE(modify.open(reader, points_, r > 0, 0, kBlock));
    std::uint64_t changed = 0;
    for (std::size_t i = 0; reader.read_next(); i++) {
      LASpoint marked = reader.point;
      if (i % static_cast<std::size_t>(run.every) == 1) {
        if (run.attribute && run.attribute[0] == 'c') {
          // Every fourth of them is written as read: no change.
          if (i % 4 != 1) {
            const int value = static_cast<int>(9 + i % 3 * 20);
            marked.set_classification(static_cast<std::uint8_t>(value));
            changed++;
            want_class[i] = type >= 6 || value < 32 ? value : 0;
          }
        } else if (run.attribute) {
          marked.set_withheld_flag(!want_withheld[i]);
          want_withheld[i] = !want_withheld[i];
          changed++;
        } else {
          marked.deletion_mark = 1;
          changed++;
        }
      }
      ASSERT_TRUE(modify.write_point(marked)) << "point " << i;
    }
    EXPECT_EQ(modify.changed_points(), changed);
    EXPECT_GT(modify.close_writer(true), 0);
    EXPECT_EQ(modify.close_writer(true), 0);  // closed once
    EXPECT_FALSE(modify.write_point(reader.point));
  }

  {
    // No layer asked for, or a point file that is not there: nothing to record into.
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(points_.c_str()));
    const std::string missing = dir_ + "/missing.las";
    LASmodify without_layer;
    LASmodify without_file;
    ASSERT_TRUE(without_file.add_delete_layer(16, "isocull -test", {}));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(without_layer.open(reader, points_, true, 0, kBlock));
    EXPECT_FALSE(without_file.open(reader, missing, false, 0, kBlock));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: no layer asked for before opening '" + points_ +
                  "'\nERROR: cannot read point file '" + missing + "'\n");
    EXPECT_FALSE(without_file.write_point(reader.point));
  }

  {
    // A run that fails (a point written twice) leaves the LAY file as it was and no
    // temporary file beside it.
    std::vector<std::uint8_t> before, after;
    std::string failure;
    ASSERT_TRUE(read_whole_file(lay_file_name(points_, nullptr), before, failure)) << failure;
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(points_.c_str()));
    LASmodify failing;
    ASSERT_TRUE(failing.add_delete_layer(16, "isocull -test", {}));
    ASSERT_TRUE(failing.open(reader, points_, true, 0, kBlock));
    const std::string temporary = failing.temporary_file_name();
    ASSERT_TRUE(reader.read_next());
    LASpoint marked = reader.point;
    marked.deletion_mark = 1;
    ASSERT_TRUE(failing.write_point(marked));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(failing.write_point(marked));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("came out of order"), std::string::npos);
    EXPECT_EQ(failing.close_writer(true), 0);
    EXPECT_NE(access(temporary.c_str(), F_OK), 0) << temporary;
    ASSERT_TRUE(read_whole_file(lay_file_name(points_, nullptr), after, failure)) << failure;
    EXPECT_EQ(after, before);
  }

  // The file holds the three layers in the order of the runs, each with the values marked:
  // 1 for a withheld point, none for a deletion.
  std::vector<std::uint8_t> lay;
  std::string failure;
  ASSERT_TRUE(read_whole_file(lay_file_name(points_, nullptr), lay, failure)) << failure;
  LAYidentity identity;
  std::uint32_t layer_count = 0;
  std::size_t layers_at = 0;
  ASSERT_TRUE(decode_lay_header(lay.data(), lay.size(), identity, layer_count, layers_at, failure))
      << failure;
  std::vector<LAYlayer> layers;
  ASSERT_TRUE(decode_lay_layers(lay.data(), lay.size(), layers_at, layer_count, kPoints, 8, layers,
                                failure))
      << failure;
  ASSERT_EQ(layers.size(), 3u);
  EXPECT_EQ(layers[0].attribute, LAYattribute::kClassification);
  EXPECT_EQ(layers[1].attribute, LAYattribute::kWithheldFlag);
  EXPECT_EQ(layers[2].attribute, LAYattribute::kDeletion);
  for (const LAYrun& run : layers[1].runs)
    EXPECT_EQ(run.value, want_withheld[run.start] ? 1 : 0) << "point " << run.start;
  for (const LAYrun& run : layers[2].runs)
    EXPECT_EQ(run.value, 0) << "point " << run.start;

  auto reader = std::make_unique<LASreaderLAS>();
  ASSERT_TRUE(reader->open_file(points_.c_str()));
  const auto records = records_through_lay_file(std::move(reader));
  std::size_t out = 0;
  for (std::size_t i = 0; i < stored.size(); i++) {
    if (i % 7 == 1) continue;  // deleted
    ASSERT_LT(out, records.size());
    const auto& record = records[out++];
    EXPECT_TRUE(std::equal(record.begin(), record.begin() + 12, stored[i].begin())) << i;
    EXPECT_EQ(class_of(record, type), want_class[i]) << "point " << i;
    EXPECT_EQ(withheld_of(record, type), want_withheld[i]) << "point " << i;
  }
  EXPECT_EQ(out, records.size());
}

INSTANTIATE_TEST_SUITE_P(PointTypes, AppliedLayers, ::testing::Values(1, 6, 8),
                         [](const auto& info) { return "type" + std::to_string(info.param); });

}  // namespace
