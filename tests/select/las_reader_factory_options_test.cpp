#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "select/las_reader_factory.hpp"
#include "select_test_support.hpp"

using select_test::Args;

namespace {

struct ParseResult {
  bool ok;
  std::string messages;
};

ParseResult parse(LASreaderFactory& factory, Args& args, bool parse_ignore = true) {
  ParseResult result{};
  CAPTURE_STDERR(result.messages,
                 result.ok = factory.parse(args.argc(), args.data(), parse_ignore));
  return result;
}

struct FailureCase {
  std::vector<std::string> args;
  std::string message;
};

TEST(LasReaderFactoryOptions, EveryRefusedArgumentPrintsItsExactMessage) {
  const FailureCase cases[] = {
      {{"-i", "-merged"}, "ERROR: '-i' needs at least 1 argument: file_name or wild_card\n"},
      {{"-i"}, "ERROR: '-i' needs at least 1 argument: file_name or wild_card\n"},
      {{"-iadd_extra", "1", "name"},
       "ERROR: '-iadd_extra' needs 3 arguments: data_type name description\n"},
      {{"-iadd_attribute"},
       "ERROR: '-iadd_attribute' needs 3 arguments: data_type name description\n"},
      {{"-iparse"}, "ERROR: '-iparse' needs 1 argument: string\n"},
      {{"-iskip"}, "ERROR: '-iskip' needs 1 argument: number_of_lines\n"},
      {{"-iskip", "two"},
       "ERROR: '-iskip' needs 1 argument: number_of_lines but 'two' is not a valid number.\n"},
      {{"-iskip", "0"}, "ERROR: '-iskip' needs 1 argument: number_of_lines but 0 is not valid.\n"},
      {{"-io_ibuffer"}, "ERROR: '-io_ibuffer' needs 1 argument: size\n"},
      {{"-io_ibuffer", "big"},
       "ERROR: '-io_ibuffer' needs 1 argument: size but 'big' is not a valid size.\n"},
      {{"-io_ibuffer", "0"}, "ERROR: '-io_ibuffer' needs 1 argument: size but 0 is not valid.\n"},
      {{"-itranslate_intensity"}, "ERROR: '-itranslate_intensity' needs 1 argument: translation\n"},
      {{"-itranslate_intensity", "0"},
       "ERROR: '-itranslate_intensity' needs 1 argument: translation but 0.000000 is not valid.\n"},
      {{"-itranslate_scan_angle", "up"},
       "ERROR: '-itranslate_scan_angle' needs 1 argument: translation but 'up' is not valid.\n"},
      {{"-iscale_intensity"}, "ERROR: '-iscale_intensity' needs 1 argument: scale\n"},
      {{"-iscale_scan_angle", "0"},
       "ERROR: '-iscale_scan_angle' needs 1 argument: scale but 0.000000 is not valid.\n"},
      {{"-inside", "1", "2", "3"}, "ERROR: '-inside' needs 4 arguments: min_x min_y max_x max_y\n"},
      {{"-inside", "1", "2", "east", "4"},
       "ERROR: '-inside' needs 4 arguments: min_x min_y max_x max_y, but 'east' is not a valid "
       "max_x.\n"},
      {{"-inside_rectangle", "5", "0", "5", "10"},
       "ERROR: '-inside_rectangle' needs 4 arguments: min_x min_y max_x max_y, but 5.000000 / "
       "5.000000 are not a valid min_x / max_x pair.\n"},
      {{"-inside", "0", "9", "10", "1"},
       "ERROR: '-inside' needs 4 arguments: min_x min_y max_x max_y, but 9.000000 / 1.000000 are "
       "not a valid min_y / max_y pair.\n"},
      {{"-inside", "nan", "0", "10", "10"},
       "ERROR: '-inside' needs 4 arguments: min_x min_y max_x max_y, but 'nan' is not a valid "
       "min_x.\n"},
      {{"-inside_tile", "0", "0"}, "ERROR: '-inside_tile' needs 3 arguments: ll_x ll_y size\n"},
      {{"-inside_tile", "0", "y", "10"},
       "ERROR: '-inside_tile' needs 3 arguments: ll_x ll_y size, but 'y' is not a valid ll_y.\n"},
      {{"-inside_tile", "0", "0", "0"},
       "ERROR: '-inside_tile' needs 3 arguments: ll_x ll_y size, but 0.000000 is not valid a "
       "size.\n"},
      {{"-inside_circle", "1", "2"},
       "ERROR: '-inside_circle' needs 3 arguments: center_x center_y radius\n"},
      {{"-inside_circle", "c", "2", "3"},
       "ERROR: '-inside_circle' needs 3 arguments: center_x center_y radius, but 'c' is not a "
       "valid center_x.\n"},
      {{"-inside_circle", "1", "2", "-3"},
       "ERROR: '-inside_circle' needs 3 arguments: center_x center_y radius, but -3.000000 is not "
       "valid a radius.\n"},
      {{"-inside_polygon", "1"}, "ERROR: unknown '-inside' option '-inside_polygon'\n"},
      {{"-lof"}, "ERROR: '-lof' needs 1 argument: list_of_files\n"},
      {{"-lof", "/nonexistent/list.txt"},
       "ERROR: cannot open '/nonexistent/list.txt'\n"
       "ERROR: cannot load list of files '/nonexistent/list.txt'\n"},
      {{"-faf_index"}, "ERROR: '-faf_index' needs 1 argument: index\n"},
      {{"-faf", "1x"}, "ERROR: '-faf' needs a start value but '1x' is not a valid number\n"},
      {{"-faf", "9z"}, "ERROR: '-faf' needs a start value but '9z' is not a valid number\n"},
      {{"-buffered"}, "ERROR: '-buffered' needs 1 argument: buffer_size\n"},
      // These two end without a line feed.
      {{"-buffered", "wide"},
       "ERROR: '-buffered' needs 1 argument: buffer_size. but 'wide' is not a valid buffer_size"},
      {{"-buffered", "0"},
       "ERROR: '-buffered' needs 1 argument: buffer_size, but 0.000000 is not valid"},
      {{"-temp_files"}, "ERROR: '-temp_files' needs 1 argument: base name\n"},
      {{"-neighbors", "-i", "a.las"},
       "ERROR: '-neighbors' needs at least 1 argument: file_name or wild_card\n"},
      {{"-neighbors_lof"}, "ERROR: '-neighbors_lof' needs at least 1 argument: file_name\n"},
      {{"-neighbors_lof", "/nonexistent/n.txt"},
       "ERROR: cannot open '/nonexistent/n.txt'\n"
       "ERROR: cannot load neighbor list of files '/nonexistent/n.txt'\n"},
      {{"-rescale", "0.01", "0.01"},
       "ERROR: '-rescale' needs 3 arguments: rescale_x rescale_y rescale_z\n"},
      {{"-rescale", "0.01", "fine", "0.01"},
       "ERROR: '-rescale' needs 3 arguments: rescale_x rescale_y rescale_z, but 'fine' is not a "
       "valid rescale_y"},
      {{"-rescale", "0.01", "0.01", "0"},
       "ERROR: '-rescale' needs 3 arguments: rescale_x rescale_y rescale_z, but 0.000000 is not a "
       "valid rescale_z"},
      {{"-rescale_xy", "0.01"}, "ERROR: '-rescale_xy' needs 2 argument: rescale_x rescale_y\n"},
      {{"-rescale_xy", "0", "0.01"},
       "ERROR: '-rescale_xy' needs 3 arguments: rescale_x rescale_y, but 0.000000 is not a valid "
       "rescale_x"},
      {{"-rescale_xy", "0.01", "y"},
       "ERROR: '-rescale_xy' needs 3 arguments: rescale_x rescale_y, but 'y' is not a valid "
       "rescale_y"},
      {{"-rescale_z"}, "ERROR: '-rescale_z' needs 1 argument: rescale_z\n"},
      {{"-rescale_z", "0"},
       "ERROR: '-rescale_z' needs 1 argument: rescale_z, but 0.000000 is not a valid rescale_z"},
      {{"-rescale_z", "z"},
       "ERROR: '-rescale_z' needs 1 argument: rescale_z, but 'z' is not a valid rescale_z"},
      {{"-reoffset", "1", "2"},
       "ERROR: '-reoffset' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z\n"},
      {{"-reoffset", "1", "2", "up"},
       "ERROR: '-reoffset' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z, but 'up' is not "
       "a valid reoffset_z"},
      {{"-ignore_class", "300"},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but '300' is out of range\n"},
      {{"-ignore_nothing"}, "ERROR: cannot understand argument '-ignore_nothing'\n"},
      {{"-i", "a.las", "b.las", "-neighbors", "c.las", "-buffered", "10"},
       "ERROR: neighbors only supported for one buffered input file, not for 2\n"},
      {{"-i", "a.las", "-neighbors", "c.las"},
       "ERROR: neighbors only make sense when used with '-buffered 50' or similar\n"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.args.front());
    Args args(c.args);
    LASreaderFactory factory;
    const ParseResult result = parse(factory, args);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.messages, c.message);
  }
}

TEST(LasReaderFactoryOptions, IgnoreOptionsAreRefusedByToolsThatDoNotTakeThem) {
  Args args({"-ignore_class", "2"});
  LASreaderFactory factory;
  const ParseResult result = parse(factory, args, false);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.messages, "ERROR: this tool does not process '-ignore_xxxx' options\n");
  EXPECT_EQ(factory.get_ignore(), nullptr);
}

TEST(LasReaderFactoryOptions, AFailedIgnoreOptionLeavesNoIgnoreSet) {
  Args args({"-ignore_withheld", "-ignore_class", "x"});
  LASreaderFactory factory;
  EXPECT_FALSE(parse(factory, args).ok);
  EXPECT_EQ(factory.get_ignore(), nullptr);
}

TEST(LasReaderFactoryOptions, SettingsLandInTheirFieldsAndConsumedEntriesAreBlanked) {
  Args args({"-i",
             "a.las",
             "b.las",
             "-keep_class",
             "2",
             "-iparse",
             "xyzti",
             "-iskip",
             "3",
             "-io_ibuffer",
             "65536",
             "-itranslate_intensity",
             "1024",
             "-iscale_intensity",
             "2",
             "-itranslate_scan_angle",
             "-5",
             "-iscale_scan_angle",
             "0.5",
             "-ipts",
             "-comma_not_point",
             "-stored",
             "-auto_reoffset",
             "-apply_file_source_ID",
             "-merged",
             "-temp_files",
             "tmp_base",
             "-pipe_on",
             "-do_not_populate",
             "-reoffset",
             "600000",
             "4000000",
             "0",
             "-ignore_class",
             "7",
             "-o",
             "out.las",
             "-step",
             "2"});
  LASreaderFactory factory;
  const ParseResult result = parse(factory, args);
  ASSERT_TRUE(result.ok) << result.messages;
  EXPECT_EQ(result.messages, "");
  EXPECT_EQ(args.left(), (std::vector<std::string>{"-o", "out.las", "-step", "2"}));

  const LASreaderSettings& s = factory.settings();
  ASSERT_EQ(factory.get_file_count(), 2u);
  EXPECT_STREQ(factory.get_file_name(1), "b.las");
  EXPECT_EQ(s.parse_string, "xyzti");
  EXPECT_EQ(s.skip_lines, 3u);
  EXPECT_EQ(s.input_buffer_size, 65536u);
  EXPECT_EQ(s.translate_intensity, 1024.0f);
  EXPECT_EQ(s.scale_intensity, 2.0f);
  EXPECT_EQ(s.translate_scan_angle, -5.0f);
  EXPECT_EQ(s.scale_scan_angle, 0.5f);
  EXPECT_TRUE(s.itxt);
  EXPECT_TRUE(s.ipts);
  EXPECT_FALSE(s.iptx);
  EXPECT_TRUE(s.comma_not_point);
  EXPECT_TRUE(s.stored);
  EXPECT_TRUE(s.auto_reoffset);
  EXPECT_TRUE(s.apply_file_source_ID);
  EXPECT_TRUE(factory.is_merged());
  EXPECT_EQ(s.temp_name_base, "tmp_base");
  EXPECT_TRUE(s.pipe_on);
  EXPECT_FALSE(s.fill_header);
  ASSERT_TRUE(s.offset.has_value());
  EXPECT_EQ(*s.offset, (std::array<double, 3>{600000, 4000000, 0}));
  EXPECT_FALSE(s.scale_factor.has_value());
  ASSERT_NE(factory.get_ignore(), nullptr);
  EXPECT_EQ(factory.get_ignore()->classes[0], 1u << 7);
  // "-apply_file_source_ID" needs the point source operation.
  EXPECT_NE(factory.get_transform(), nullptr);
}

TEST(LasReaderFactoryOptions, HelpPrintsTheFilterIgnoreAndReaderUsagesAndStopsParsing) {
  Args args({"-h", "-iskip", "0"});
  LASreaderFactory factory;
  const ParseResult result = parse(factory, args);
  EXPECT_TRUE(result.ok);
  const std::string reader_usage =
      "Supported LAS Inputs\n"
      "  -i lidar.las\n"
      "  -i lidar.pkz\n"
      "  -i lidar1.las lidar2.las lidar3.las -merged\n"
      "  -i *.las - merged\n"
      "  -i flight0??.pkz flight1??.pkz\n"
      "  -i terrasolid.bin\n"
      "  -i esri.shp\n"
      "  -i nasa.qi\n"
      "  -i lidar.txt -iparse xyzti -iskip 2 (on-the-fly from ASCII)\n"
      "  -i lidar.txt -iparse xyzi -itranslate_intensity 1024\n"
      "  -lof file_list.txt\n"
      "  -stdin (pipe from stdin)\n"
      "  -rescale 0.01 0.01 0.001\n"
      "  -rescale_xy 0.01 0.01\n"
      "  -rescale_z 0.01\n"
      "  -reoffset 600000 4000000 0\n"
      "Fast AOI Queries for LAS/PKZ with spatial indexing LAX files\n"
      "  -inside min_x min_y max_x max_y\n"
      "  -inside_tile ll_x ll_y size\n"
      "  -inside_circle center_x center_y radius\n";
  // The filter usage first, then the transform's, then the ignore set's.
  EXPECT_EQ(result.messages.rfind("Filter points based on their coordinates.\n", 0), 0u);
  const std::size_t transform_usage = result.messages.find("Transform coordinates.\n");
  const std::size_t ignore_usage =
      result.messages.find("Ignore points based on classifications.\n");
  ASSERT_NE(transform_usage, std::string::npos);
  ASSERT_NE(ignore_usage, std::string::npos);
  EXPECT_LT(result.messages.find("Boolean combination of filters.\n"), transform_usage);
  EXPECT_LT(result.messages.find("Transform attributes in \"Extra Bytes\".\n"), ignore_usage);
  ASSERT_GE(result.messages.size(), reader_usage.size());
  EXPECT_EQ(result.messages.substr(result.messages.size() - reader_usage.size()), reader_usage);
  // Parsing stopped at "-h": the refused skip count was never looked at.
  EXPECT_EQ(args.left(), (std::vector<std::string>{"-h", "-iskip", "0"}));
}

TEST(LasReaderFactoryOptions, AreasAreStoredAsGiven) {
  Args args({"-inside_tile", "100", "200", "50", "-inside_circle", "1", "2", "3", "-inside", "0",
             "1", "2", "3"});
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, args).ok);
  EXPECT_TRUE(factory.has_area());
  EXPECT_EQ(*factory.settings().inside_tile, (std::array<float, 3>{100, 200, 50}));
  EXPECT_EQ(*factory.settings().inside_circle, (std::array<double, 3>{1, 2, 3}));
  EXPECT_EQ(*factory.settings().inside_rectangle, (std::array<double, 4>{0, 1, 2, 3}));
  EXPECT_TRUE(args.left().empty());
}

TEST(LasReaderFactoryOptions, RescaleOptionsChangeOnlyTheAxesTheyName) {
  {
    Args args({"-rescale_xy", "0.001", "0.002"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_EQ(*factory.settings().scale_factor, (std::array<double, 3>{0.001, 0.002, 0}));
  }
  {
    Args args({"-rescale_z", "0.0001"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_EQ(*factory.settings().scale_factor, (std::array<double, 3>{0, 0, 0.0001}));
  }
  {
    Args args({"-rescale_xy", "0.001", "0.001", "-rescale_z", "0.0001"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_EQ(*factory.settings().scale_factor, (std::array<double, 3>{0.001, 0.001, 0.0001}));
  }
  {
    Args args({"-rescale", "0.1", "0.1", "0.1", "-rescale_z", "0.01"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_EQ(*factory.settings().scale_factor, (std::array<double, 3>{0.1, 0.1, 0.01}));
  }
}

TEST(LasReaderFactoryOptions, FlightlineStartValueIsTakenOnlyWhenADigitFollows) {
  for (const int start : {1, 7, 9, 12}) {
    Args args({"-faf", std::to_string(start)});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_EQ(factory.settings().files_are_flightlines, start);
    EXPECT_TRUE(args.left().empty());
  }
  {
    Args args({"-faf", "-i", "a.las"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_EQ(factory.settings().files_are_flightlines, 1);
    EXPECT_EQ(factory.get_file_count(), 1u);
  }
  {
    Args args({"-files_are_flightlines", "0"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_EQ(factory.settings().files_are_flightlines, 1);
    EXPECT_EQ(args.left(), std::vector<std::string>{"0"});
  }
  {
    Args args({"-faf_index", "10"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_EQ(factory.settings().files_are_flightlines_index, 9);
  }
}

TEST(LasReaderFactoryOptions, FlightlineWarningsDoNotStopParsing) {
  const FailureCase cases[] = {
      {{"-faf", "70000"}, "WARNING: files_are_flightlines start value 70000 is too large\n"},
      {{"-faf_index", "70000"},
       "WARNING: files_are_flightlines_index index value 70000 is too large\n"},
      {{"-faf", "65000", "-faf_index", "600"},
       "WARNING: files_are_flightlines start value 65000 plus index 600 is too large\n"},
      {{"-faf", "65000", "-faf_index", "535"}, ""},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.message);
    Args args(c.args);
    LASreaderFactory factory;
    const ParseResult result = parse(factory, args);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.messages, c.message);
  }
}

TEST(LasReaderFactoryOptions, AddedAttributesTakeTheOptionalNumbersThatQualify) {
  Args args({"-iadd_extra", "4",
             "height",      "above ground",
             "0.01",        "0",
             "2",           "0.0",
             "-9999",       "-iadd_attribute",
             "9",           "amp",
             "amplitude",   "0",
             "7",           "-iadd_extra",
             "1",           "c",
             "class",       "0.5",
             "00",          "-x"});
  LASreaderFactory factory;
  ASSERT_TRUE(parse(factory, args).ok);
  const auto& attributes = factory.settings().attributes;
  ASSERT_EQ(attributes.size(), 3u);
  EXPECT_EQ(attributes[0].data_type, 4);
  EXPECT_EQ(attributes[0].name, "height");
  EXPECT_EQ(attributes[0].description, "above ground");
  EXPECT_EQ(attributes[0].scale, 0.01);
  EXPECT_EQ(attributes[0].offset, 0.0);
  EXPECT_EQ(attributes[0].pre_scale, 2.0);
  EXPECT_EQ(attributes[0].pre_offset, 0.0);
  EXPECT_EQ(attributes[0].no_data, -9999.0);
  // A scale of 0 does not qualify: the numbers stop there and stay for the tool.
  EXPECT_EQ(attributes[1].scale, 1.0);
  EXPECT_EQ(attributes[1].no_data, 2e+307);
  // "00" is a zero offset not written as "0" or "0.0".
  EXPECT_EQ(attributes[2].scale, 0.5);
  EXPECT_EQ(attributes[2].offset, 0.0);
  EXPECT_EQ(args.left(), (std::vector<std::string>{"0", "7", "00", "-x"}));
}

TEST(LasReaderFactoryOptions, MoreThanThirtyTwoAttributesAreRefused) {
  std::vector<std::string> entries;
  for (int i = 0; i < 33; i++) {
    entries.emplace_back("-iadd_extra");
    entries.emplace_back("1");
    entries.push_back(std::to_string(i));
    entries.emplace_back("d");
  }
  Args args(entries);
  LASreaderFactory factory;
  const ParseResult result = parse(factory, args);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.messages, "ERROR: '-iadd_extra' cannot add more than 32 attributes\n");
  EXPECT_EQ(factory.settings().attributes.size(), 32u);
}

TEST(LasReaderFactoryOptions, FilterAndTransformOptionsMakeAFilteredTransform) {
  Args args({"-keep_class", "2", "-drop_withheld", "-translate_z", "10", "-filtered_transform"});
  LASreaderFactory factory;
  const ParseResult result = parse(factory, args);
  ASSERT_TRUE(result.ok) << result.messages;
  EXPECT_EQ(result.messages, "");
  EXPECT_TRUE(args.left().empty());
  // The filter went into the transform: it selects the points to move and drops none.
  EXPECT_EQ(factory.get_filter(), nullptr);
  ASSERT_NE(factory.get_transform(), nullptr);
  char command[128];
  factory.get_transform()->write_command(command, sizeof(command));
  EXPECT_STREQ(command, "-keep_class 2 -drop_withheld -filtered_transform -translate_z 10.000000 ");
  // What the filter and the transform read joins a restricted decoding.
  factory.set_selective_decoding(kDecompressGpsTime);
  EXPECT_EQ(factory.decoding_layers(),
            kDecompressGpsTime | kDecompressZ | kDecompressClassification | kDecompressFlags);
}

TEST(LasReaderFactoryOptions, FilteredTransformWithoutAFilterOrOperationsWarns) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-translate_z", "10", "-filtered_transform"},
       "WARNING: no LASfilter specified. '-filtered_transform' has no effect.\n"},
      {{"-keep_class", "2", "-filtered_transform"},
       "WARNING: no LAStransform specified. '-filtered_transform' has no effect.\n"},
  };
  for (const auto& [entries, warning] : cases) {
    Args args(entries);
    LASreaderFactory factory;
    const ParseResult result = parse(factory, args);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.messages, warning);
  }
}

TEST(LasReaderFactoryOptions, AFilterWithoutCriteriaIsDeletedAndAFailedOneFailsTheParse) {
  {
    Args args({"-i", "a.las"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_EQ(factory.get_filter(), nullptr);
  }
  Args args({"-keep_class", "2", "-keep_every_nth", "0"});
  LASreaderFactory factory;
  const ParseResult result = parse(factory, args);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.messages, "ERROR: 0 is no valid nth for '-keep_every_nth'\n");
  EXPECT_EQ(factory.get_filter(), nullptr);
}

TEST(LasReaderFactoryOptions, StdinMakesAPipeInputOnlyWithoutFiles) {
  {
    Args args({"-stdin"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_TRUE(factory.is_pipe_input());
    EXPECT_TRUE(factory.active());
    EXPECT_EQ(factory.get_file_name(), nullptr);
  }
  {
    Args args({"-stdin", "-i", "a.las"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_FALSE(factory.is_pipe_input());
  }
}

TEST(LasReaderFactoryOptions, BufferIsInUseOnlyWithSeveralFilesOrNeighbours) {
  {
    Args args({"-i", "a.las", "-buffered", "25"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_EQ(factory.settings().buffer_size, 25.0f);
    EXPECT_FALSE(factory.has_buffer());
  }
  {
    Args args({"-i", "a.las", "-buffered", "25", "-neighbors", "b.las", "c.las"});
    LASreaderFactory factory;
    ASSERT_TRUE(parse(factory, args).ok);
    EXPECT_TRUE(factory.has_buffer());
    EXPECT_EQ(factory.get_neighbor_file_count(), 2u);
  }
}

}  // namespace
