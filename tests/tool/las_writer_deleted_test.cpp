#include "tool/las_writer_deleted.hpp"

#include <gtest/gtest.h>

namespace {

// Records what reaches it; refuses points once `refuse` is set.
class RecordingWriter : public LASwriter {
 public:
  bool write_point(const LASpoint& point) override {
    if (refuse) {
      failed_ = true;
      return false;
    }
    points_done++;
    written_x.push_back(point.X);
    return true;
  }
  bool chunk() override { return true; }
  bool update_header(const LASheader*, bool from_tally, bool) override {
    updated_from_tally = from_tally;
    tally_at_update = inventory;
    return true;
  }
  std::int64_t close_writer(bool) override {
    points_total = points_done;
    return refuse ? 0 : 100;
  }
  bool refuse = false;
  bool updated_from_tally = false;
  LAStally tally_at_update;
  std::vector<std::int32_t> written_x;
};

TEST(LASwriterDeleted, PassesOnOnlyPointsWithoutDeletionMarkAndTalliesThem) {
  auto inner = std::make_unique<RecordingWriter>();
  RecordingWriter& recorder = *inner;
  LASwriterDeleted writer(std::move(inner));
  LASpoint point;
  for (int i = 0; i < 5; i++) {
    point.X = i;
    point.deletion_mark = (i % 2 == 1) ? 1 : 0;
    const bool written = writer.write_point(point);
    EXPECT_EQ(written, i % 2 == 0) << i;
    writer.count_point(point);
  }
  EXPECT_EQ(recorder.written_x, (std::vector<std::int32_t>{0, 2, 4}));
  EXPECT_EQ(writer.points_done, 3);
  EXPECT_FALSE(writer.failed()) << "a dropped point is no failure";

  writer.update_header(nullptr, true, false);
  EXPECT_TRUE(recorder.updated_from_tally);
  EXPECT_EQ(recorder.tally_at_update.number_of_point_records, 3);
  EXPECT_EQ(recorder.tally_at_update.min_X, 0);
  EXPECT_EQ(recorder.tally_at_update.max_X, 4);

  EXPECT_EQ(writer.close_writer(true), 100);
  EXPECT_EQ(writer.points_total, 3);
}

TEST(LASwriterDeleted, ARefusedPointOfTheInnerWriterIsAFailure) {
  auto inner = std::make_unique<RecordingWriter>();
  inner->refuse = true;
  LASwriterDeleted writer(std::move(inner));
  LASpoint point;
  EXPECT_FALSE(writer.write_point(point));
  EXPECT_TRUE(writer.failed());
  EXPECT_EQ(writer.close_writer(true), 0);
}

TEST(LASwriterDeleted, SettingNoWriterIsRefused) {
  LASwriterDeleted writer;
  EXPECT_FALSE(writer.set_writer(nullptr));
  EXPECT_TRUE(writer.set_writer(std::make_unique<RecordingWriter>()));
}

}  // namespace
