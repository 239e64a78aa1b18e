#include "tool/geo_projection.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Builds an argument vector whose entries can be blanked like the real one.
struct Arguments {
  explicit Arguments(std::vector<std::string> words) : storage(std::move(words)) {
    storage.insert(storage.begin(), "isocull");
    for (auto& word : storage)
      pointers.push_back(word.data());
  }
  int argc() const { return static_cast<int>(pointers.size()); }
  char** argv() { return pointers.data(); }
  std::vector<std::string> storage;
  std::vector<char*> pointers;
};

TEST(GeoProjection, UnitOptionsSetBothAxesOrOnlyTheElevationAndAreConsumed) {
  Arguments args({"-survey_feet", "-i", "x.las", "-elevation_meter"});
  GeoProjection projection;
  ASSERT_TRUE(projection.parse(args.argc(), args.argv()));
  EXPECT_EQ(projection.horizontal_unit(), GeoProjection::kUnitSurveyFoot);
  EXPECT_EQ(projection.vertical_unit(), GeoProjection::kUnitMetre);
  EXPECT_STREQ(projection.horizontal_unit_short_name(), "sft");
  EXPECT_STREQ(projection.vertical_unit_short_name(), "m");
  EXPECT_STREQ(args.argv()[1], "");
  EXPECT_STREQ(args.argv()[2], "-i");
  EXPECT_STREQ(args.argv()[4], "");
}

TEST(GeoProjection, EpsgOptionNeedsAValidCode) {
  Arguments missing({"-epsg"});
  GeoProjection projection;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(projection.parse(missing.argc(), missing.argv()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: '-epsg' needs 1 argument: code\n");
  Arguments bad({"-epsg", "utm"});
  testing::internal::CaptureStderr();
  EXPECT_FALSE(projection.parse(bad.argc(), bad.argv()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: '-epsg' needs 1 argument: code but 'utm' is not a valid EPSG code\n");
}

TEST(GeoProjection, EpsgCodeBecomesSortedGeoKeysWithItsUnit) {
  Arguments args({"-epsg", "32633", "-elevation_feet"});
  GeoProjection projection;
  ASSERT_TRUE(projection.parse(args.argc(), args.argv()));
  std::vector<LASvlrKeyEntry> keys;
  std::vector<double> doubles;
  ASSERT_TRUE(projection.get_geo_keys(keys, doubles));
  ASSERT_EQ(keys.size(), 5u);
  EXPECT_EQ(keys[2].key_id, 3072);
  EXPECT_EQ(keys[2].value_offset, 32633);
  EXPECT_EQ(keys[3].key_id, 3076);
  EXPECT_EQ(keys[3].value_offset, 9001);
  EXPECT_EQ(keys[4].key_id, 4099);
  EXPECT_EQ(keys[4].value_offset, 9002);
  for (std::size_t i = 1; i < keys.size(); i++)
    EXPECT_LT(keys[i - 1].key_id, keys[i].key_id);
  GeoProjection none;
  EXPECT_FALSE(none.get_geo_keys(keys, doubles));
}

TEST(GeoProjection, OldStyleWktTakesTheProjectedUnitNotTheGeographicOne) {
  const std::string wkt =
      "PROJCS[\"NAD83(HARN) / New Mexico Central (ftUS)\",GEOGCS[\"NAD83(HARN)\","
      "DATUM[\"NAD83_High_Accuracy_Reference_Network\",SPHEROID[\"GRS 1980\",6378137,"
      "298.257222101]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],"
      "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"latitude_of_origin\",31],"
      "UNIT[\"US survey foot\",0.3048006096012192,AUTHORITY[\"EPSG\",\"9003\"]],"
      "AUTHORITY[\"EPSG\",\"2903\"]]";
  GeoProjection projection;
  ASSERT_TRUE(projection.set_projection_from_ogc_wkt(wkt));
  EXPECT_EQ(projection.horizontal_unit(), GeoProjection::kUnitSurveyFoot);
  EXPECT_EQ(projection.epsg_code(), 2903);
  EXPECT_FALSE(projection.has_vertical_unit());
}

TEST(GeoProjection, NewStyleAndCompoundWktGiveAxisAndVerticalUnits) {
  const std::string wkt =
      "COMPOUNDCRS[\"x\",PROJCRS[\"WGS 84 / UTM zone 23S\",BASEGEOGCRS[\"WGS 84\","
      "ANGLEUNIT[\"degree\",0.0174532925199433]],CONVERSION[\"UTM zone 23S\","
      "PARAMETER[\"Scale factor\",0.9996,SCALEUNIT[\"unity\",1]],PARAMETER[\"False easting\","
      "500000,LENGTHUNIT[\"metre\",1]]],CS[Cartesian,2],AXIS[\"(E)\",east,ORDER[1],"
      "LENGTHUNIT[\"foot\",0.3048]],ID[\"EPSG\",32723]],VERTCRS[\"NAVD88 height (ftUS)\","
      "VDATUM[\"NAVD88\"],CS[vertical,1],AXIS[\"up\",up,LENGTHUNIT[\"US survey foot\","
      "0.304800609601219]]]]";
  GeoProjection projection;
  ASSERT_TRUE(projection.set_projection_from_ogc_wkt(wkt));
  EXPECT_EQ(projection.horizontal_unit(), GeoProjection::kUnitFoot);
  EXPECT_EQ(projection.vertical_unit(), GeoProjection::kUnitSurveyFoot);
  EXPECT_EQ(projection.epsg_code(), 32723);
}

TEST(GeoProjection, BrokenWktIsHarmless) {
  GeoProjection projection;
  EXPECT_FALSE(projection.set_projection_from_ogc_wkt(""));
  EXPECT_FALSE(projection.set_projection_from_ogc_wkt("PROJCS[\"a\",UNIT[\"b\""));
  std::string deep;
  for (int i = 0; i < 10000; i++)
    deep += "A[";
  EXPECT_FALSE(projection.set_projection_from_ogc_wkt(deep));
  EXPECT_FALSE(projection.has_horizontal_unit());
}

TEST(GeoProjection, GeoKeysGiveUnitsAndIgnoreCodesThatAreNoLengthUnit) {
  const LASvlrKeyEntry utm[] = {{1024, 0, 1, 1}, {3072, 0, 1, 26915}, {3076, 0, 1, 9001}};
  GeoProjection projection;
  ASSERT_TRUE(projection.set_projection_from_geo_keys(3, utm, nullptr, 0, nullptr, 0));
  EXPECT_EQ(projection.horizontal_unit(), GeoProjection::kUnitMetre);
  EXPECT_EQ(projection.epsg_code(), 26915);

  // A garbage linear unit (a projection code in the unit key) is no unit at all.
  const LASvlrKeyEntry garbage[] = {{1024, 0, 1, 1}, {3076, 0, 1, 32632}, {4099, 0, 1, 9003}};
  GeoProjection other;
  other.set_projection_from_geo_keys(3, garbage, nullptr, 0, nullptr, 0);
  EXPECT_FALSE(other.has_horizontal_unit());
  EXPECT_EQ(other.vertical_unit(), GeoProjection::kUnitSurveyFoot);
  EXPECT_STREQ(other.vertical_unit_short_name(), "ft");

  const LASvlrKeyEntry geographic[] = {{1024, 0, 1, 2}, {2048, 0, 1, 4326}};
  GeoProjection degrees;
  degrees.set_projection_from_geo_keys(2, geographic, nullptr, 0, nullptr, 0);
  EXPECT_EQ(degrees.horizontal_unit(), GeoProjection::kUnitDegree);
  EXPECT_STREQ(degrees.horizontal_unit_short_name(), "units");
}

}  // namespace
