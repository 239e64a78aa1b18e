// The point filter as every reader applies it: real files opened through the factory
// deliver exactly the points an expectation written here from the unfiltered points keeps,
// on the first pass and again after a reopen; a filter widens a restricted decoding by the
// layers it reads.

#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "las/las_reader_las.hpp"
#include "model/las_attribute.hpp"
#include "select/las_reader_factory.hpp"
#include "select_test_support.hpp"

namespace {

using select_test::Args;

const std::string kReal = ISOCULL_REAL_DATA_DIR;

bool real_file_exists(const std::string& name) {
  return std::ifstream(kReal + "/" + name).good();
}

// The unfiltered points; `reader` must stay open while their attributes are read.
std::vector<LASpoint> all_points(LASreaderLAS& reader, const std::string& path) {
  std::vector<LASpoint> points;
  if (!reader.open_file(path.c_str())) return points;
  while (reader.read_next())
    points.push_back(reader.point);
  return points;
}

// What identifies a point of one file in the tests here.
using Key = std::tuple<std::int32_t, std::int32_t, std::int32_t, double, std::uint16_t>;
Key key_of(const LASpoint& p) {
  return {p.X, p.Y, p.Z, p.gps_time, p.intensity};
}

using Expectation = std::function<std::vector<bool>(const std::vector<LASpoint>&)>;

// Kept when `keep` holds for the point alone.
Expectation each(std::function<bool(const LASpoint&)> keep) {
  return [keep](const std::vector<LASpoint>& points) {
    std::vector<bool> kept;
    for (const LASpoint& point : points)
      kept.push_back(keep(point));
    return kept;
  };
}

double attribute0(const LASpoint& p) {
  return p.attribute_set->get_value(p.extra_bytes.data(), p.extra_bytes_size, 0);
}

struct Case {
  const char* file;
  std::vector<std::string> filter;
  Expectation expected;
};

std::vector<Case> cases() {
  return {
      {"simple.las", {"-keep_class", "2"}, each([](const LASpoint& p) {
         return p.classification == 2;
       })},
      {"simple.las",
       {"-keep_xy", "636000", "849500", "638000", "852000"},
       each([](const LASpoint& p) {
         return p.get_x() >= 636000 && p.get_x() < 638000 && p.get_y() >= 849500 &&
                p.get_y() < 852000;
       })},
      {"simple.las", {"-keep_gps_time", "246000", "248000"}, each([](const LASpoint& p) {
         return p.gps_time >= 246000 && p.gps_time <= 248000;
       })},
      {"simple.las", {"-drop_intensity_below", "61", "-keep_last"}, each([](const LASpoint& p) {
         return p.intensity >= 61 && p.return_number >= p.number_of_returns;
       })},
      {"simple.las", {"-keep_point_source", "7326", "7330"}, each([](const LASpoint& p) {
         return p.point_source_ID == 7326 || p.point_source_ID == 7330;
       })},
      {"simple.las",
       {"-keep_scan_angle", "5", "-5", "-keep_user_data_between", "120", "130"},
       each([](const LASpoint& p) {
         return std::abs(p.scan_angle_rank) <= 5 && p.user_data >= 120 && p.user_data <= 130;
       })},
      {"simple.las",
       {"-keep_every_nth", "7"},
       [](const std::vector<LASpoint>& points) {
         std::vector<bool> kept;
         for (std::size_t i = 0; i < points.size(); i++)
           kept.push_back(i % 7 == 6);
         return kept;
       }},
      {"simple.las",
       {"-thin_with_grid", "50"},
       [](const std::vector<LASpoint>& points) {
         std::set<std::pair<double, double>> cells;
         std::vector<bool> kept;
         for (const LASpoint& p : points)
           kept.push_back(
               cells.emplace(std::floor(p.get_x() / 50), std::floor(p.get_y() / 50)).second);
         return kept;
       }},
      {"simple.las",
       {"-keep_random_fraction", "0.3", "17"},
       [](const std::vector<LASpoint>& points) {
         std::vector<bool> kept;
         std::uint32_t seed = 17;
         for (std::size_t i = 0; i < points.size(); i++) {
           seed = ((seed * 214013u + 2531011u) >> 16) & 0x7FFF;
           kept.push_back(!(static_cast<float>(seed) / 32767.0f > 0.3f));
         }
         return kept;
       }},
      {"extrabytes.las",
       {"-keep_attribute_between", "0", "100", "150", "-drop_attribute_above", "0", "140"},
       each([](const LASpoint& p) { return attribute0(p) >= 100 && attribute0(p) <= 140; })},
      {"fullwave.pkz",
       {"-keep_intensity_above", "4816", "-keep_wavepacket", "1"},
       each([](const LASpoint& p) { return p.intensity > 4816 && p.wave_packet[0] == 1; })},
      {"fullwave.pkz",
       {"-thin_pulses_with_time", "0.01"},
       [](const std::vector<LASpoint>& points) {
         std::map<std::int64_t, double> first;
         std::vector<bool> kept;
         for (const LASpoint& p : points) {
           const auto entry =
               first.emplace(static_cast<std::int64_t>(std::floor(p.gps_time / 0.01f)), p.gps_time)
                   .first;
           kept.push_back(entry->second == p.gps_time);
         }
         return kept;
       }},
      {"test1_4.las",
       {"-keep_extended_class", "2", "-keep_gpstime_between", "83177420.55", "83177420.58"},
       each([](const LASpoint& p) {
         return p.extended_classification == 2 && p.gps_time >= 83177420.55 &&
                p.gps_time <= 83177420.58;
       })},
      // Point type 0 has no GPS time: time criteria never drop its points.
      {"hextest.las",
       {"-keep_gps_time", "1", "2", "-drop_gpstime_below", "5"},
       each([](const LASpoint&) { return true; })},
  };
}

TEST(LasReaderFactoryFilter, RealFilesDeliverExactlyTheKeptPointsOnBothPasses) {
  if (!real_file_exists("simple.las")) GTEST_SKIP() << "no real files in " << kReal;
  for (const Case& c : cases()) {
    const std::string path = kReal + "/" + c.file;
    std::string typed = std::string(c.file) + " with";
    for (const std::string& word : c.filter)
      typed += " " + word;
    SCOPED_TRACE(typed);
    LASreaderLAS plain;
    const std::vector<LASpoint> points = all_points(plain, path);
    ASSERT_FALSE(points.empty());
    const std::vector<bool> kept = c.expected(points);
    std::vector<Key> expected;
    for (std::size_t i = 0; i < points.size(); i++) {
      if (kept[i]) expected.push_back(key_of(points[i]));
    }
    if (std::string(c.file) != "hextest.las") {
      EXPECT_GT(expected.size(), 0u);
      EXPECT_LT(expected.size(), points.size());
    }
    std::vector<std::string> words = {"-i", path};
    words.insert(words.end(), c.filter.begin(), c.filter.end());
    Args args(words);
    LASreaderFactory factory;
    ASSERT_TRUE(factory.parse(args.argc(), args.data()));
    ASSERT_TRUE(args.left().empty());
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(reader, nullptr);
    for (int pass = 0; pass < 2; pass++) {
      if (pass == 1) {
        ASSERT_TRUE(factory.reopen(reader.get()));
      }
      std::vector<Key> delivered;
      while (reader->read_next())
        delivered.push_back(key_of(reader->point));
      EXPECT_EQ(delivered, expected) << "pass " << pass + 1;
    }
  }
}

TEST(LasReaderFactoryFilter, ALayeredFileDecodesTheLayersTheFilterReadsBesideTheAskedOnes) {
  if (!real_file_exists("fullwave.pkz")) GTEST_SKIP() << "no real files in " << kReal;
  const std::string path = kReal + "/fullwave.pkz";
  LASreaderLAS plain;
  const std::vector<LASpoint> points = all_points(plain, path);
  std::size_t bright = 0;
  for (const LASpoint& p : points)
    bright += p.intensity > 4816;
  ASSERT_GT(bright, 0u);
  // Asked only for z, the filter on intensity still sees every intensity ...
  {
    Args args({"-i", path, "-keep_intensity_above", "4816"});
    LASreaderFactory factory;
    ASSERT_TRUE(factory.parse(args.argc(), args.data()));
    factory.set_selective_decoding(kDecompressZ);
    EXPECT_EQ(factory.decoding_layers(), kDecompressZ | kDecompressIntensity);
    std::unique_ptr<LASreader> reader = factory.open();
    ASSERT_NE(reader, nullptr);
    std::size_t delivered = 0;
    while (reader->read_next())
      delivered++;
    EXPECT_EQ(delivered, bright);
  }
  // ... while a filter that reads only classes leaves the intensity layer undecoded (its
  // points keep the intensity of their chunk's first point), but decodes every class.
  Args args({"-i", path, "-keep_class", "0", "1", "2", "3", "4", "5", "6", "7", "8", "9"});
  LASreaderFactory factory;
  ASSERT_TRUE(factory.parse(args.argc(), args.data()));
  factory.set_selective_decoding(kDecompressZ);
  std::unique_ptr<LASreader> reader = factory.open();
  ASSERT_NE(reader, nullptr);
  std::size_t index = 0;
  std::size_t other_intensity = 0;
  std::size_t other_class = 0;
  while (reader->read_next() && index < points.size()) {
    other_intensity += reader->point.intensity != points[index].intensity;
    other_class += reader->point.extended_classification != points[index].extended_classification;
    index++;
  }
  EXPECT_EQ(index, points.size());
  EXPECT_EQ(other_class, 0u);
  EXPECT_GT(other_intensity, points.size() / 2);
}

}  // namespace
