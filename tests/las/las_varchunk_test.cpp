// A layered file with variable-sized chunks that another producer wrote from a point type 3
// file: through the LAS reader it holds the same points as its source, in another order
// and another point type, and a seek lands on the point that sequential reading gives.

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "las/las_reader_las.hpp"
#include "las_test_support.hpp"

using namespace las_test;

namespace {

// The fields both point types carry, coordinates as integers of the source's frame
// (the two files have the same scale but other offsets).
struct Survey {
  std::int64_t x, y, z;
  double gps_time;
  int intensity, return_number, number_of_returns, classification;
  int synthetic, keypoint, withheld, scan_direction, edge;
  int scan_angle_rank, user_data, point_source_ID;
  int red, green, blue;

  auto key() const { return std::tie(x, y, z, gps_time); }
  auto all() const {
    return std::tie(x, y, z, gps_time, intensity, return_number, number_of_returns, classification,
                    synthetic, keypoint, withheld, scan_direction, edge, scan_angle_rank, user_data,
                    point_source_ID, red, green, blue);
  }
};

Survey survey_of(const LASpoint& p) {
  const auto frame = [](double coordinate) { return std::llround(coordinate / 0.01); };
  return {frame(p.get_x()),
          frame(p.get_y()),
          frame(p.get_z()),
          p.gps_time,
          p.intensity,
          p.return_number,
          p.number_of_returns,
          p.classification,
          p.synthetic_flag,
          p.keypoint_flag,
          p.withheld_flag,
          p.scan_direction_flag,
          p.edge_of_flight_line,
          p.scan_angle_rank,
          p.user_data,
          p.point_source_ID,
          p.rgb[0],
          p.rgb[1],
          p.rgb[2]};
}

// Every point of a file; `stderr_text` receives what the reader printed.
std::vector<Survey> read_all(const std::string& path, std::string& stderr_text) {
  std::vector<Survey> points;
  testing::internal::CaptureStderr();
  {
    LASreaderLAS reader;
    if (reader.open_file(path.c_str())) {
      while (reader.read_next())
        points.push_back(survey_of(reader.point));
      EXPECT_EQ(reader.points_done, reader.points_total) << path;
    }
  }
  stderr_text = testing::internal::GetCapturedStderr();
  return points;
}

TEST(LasVarchunk, TheVarchunkFileHoldsTheSourcesPointsInAnotherOrder) {
  SKIP_WITHOUT_REAL_DATA();
  std::string printed_source, printed_varchunk;
  std::vector<Survey> source = read_all(real("simple.las"), printed_source);
  std::vector<Survey> varchunk = read_all(real("simple-varchunk.pkz"), printed_varchunk);
  EXPECT_EQ(printed_varchunk, "") << "no warning, no error, the end check passes";
  ASSERT_EQ(source.size(), 1065u);
  ASSERT_EQ(varchunk.size(), source.size());
  EXPECT_FALSE(std::equal(source.begin(), source.end(), varchunk.begin(),
                          [](const Survey& a, const Survey& b) { return a.all() == b.all(); }))
      << "the producer reordered the points";

  const auto by_key = [](const Survey& a, const Survey& b) { return a.key() < b.key(); };
  std::sort(source.begin(), source.end(), by_key);
  std::sort(varchunk.begin(), varchunk.end(), by_key);
  std::size_t differing = 0;
  for (std::size_t i = 0; i < source.size(); i++) {
    if (source[i].all() != varchunk[i].all() && differing++ < 5) {
      ADD_FAILURE() << "sorted point " << i << " differs";
    }
  }
  EXPECT_EQ(differing, 0u);
}

TEST(LasVarchunk, SeekPointLandsOnTheSequentialPointAcrossChunks) {
  SKIP_WITHOUT_REAL_DATA();
  for (const char* name : {"simple-varchunk.pkz", "autzen-clip-varchunk.pkz"}) {
    SCOPED_TRACE(name);
    std::string printed;
    const std::vector<Survey> sequential = read_all(real(name), printed);
    ASSERT_FALSE(sequential.empty());
    LASreaderLAS reader;
    ASSERT_TRUE(reader.open_file(real(name).c_str()));
    const auto count = static_cast<std::int64_t>(sequential.size());
    std::vector<std::int64_t> targets = {count - 1, 0, count / 3, count / 3 - 1, count - 2};
    std::mt19937 rng(3);
    for (int i = 0; i < 30; i++)
      targets.push_back(static_cast<std::int64_t>(rng() % count));
    for (std::int64_t target : targets) {
      ASSERT_TRUE(reader.seek_point(target)) << target;
      ASSERT_TRUE(reader.read_next()) << target;
      EXPECT_TRUE(survey_of(reader.point).all() == sequential[target].all()) << target;
    }
    EXPECT_FALSE(reader.seek_point(count));
  }
}

}  // namespace
