#include "select/las_ignore.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "model/las_point.hpp"

namespace {

// An argument vector whose entries can be blanked in place, as the parsers do.
struct Args {
  std::vector<std::string> storage;
  std::vector<char*> argv;
  explicit Args(std::vector<std::string> entries) : storage(std::move(entries)) {
    for (std::string& entry : storage)
      argv.push_back(entry.data());
  }
  int argc() const { return static_cast<int>(argv.size()); }
  std::string at(int i) const { return std::string(argv[i]); }
};

// Parses every entry that begins with "-ignore_"; returns the stderr text.
std::string parse_all(LASignore& set, Args& args, bool& ok) {
  testing::internal::CaptureStderr();
  ok = true;
  for (int i = 1; i < args.argc() && ok; i++) {
    if (std::string(args.argv[i]).rfind("-ignore_", 0) == 0)
      ok = set.parse(i, args.argc(), args.argv.data());
  }
  return testing::internal::GetCapturedStderr();
}

LASpoint point_with(int classification, int r = 1, int n = 1) {
  LASpoint point;
  point.set_classification(static_cast<std::uint8_t>(classification));
  point.return_number = r & 7;
  point.number_of_returns = n & 7;
  return point;
}

TEST(LasIgnore, EmptySetIgnoresNothing) {
  LASignore set;
  EXPECT_FALSE(set.ignore(point_with(7)));
  std::uint32_t count = 0;
  double values[LASignore::kMaxExportedValues];
  set.export_values(count, values);
  EXPECT_EQ(count, 0u);
}

TEST(LasIgnore, ClassListStopsAtTheNextOptionAndBlanksWhatItTook) {
  Args args({"tool", "-ignore_class", "2", "9", "-i", "in.las"});
  LASignore set;
  bool ok = false;
  EXPECT_EQ(parse_all(set, args, ok), "");
  ASSERT_TRUE(ok);
  EXPECT_EQ(args.at(1), "");
  EXPECT_EQ(args.at(2), "");
  EXPECT_EQ(args.at(3), "");
  EXPECT_EQ(args.at(4), "-i");
  EXPECT_EQ(args.at(5), "in.las");
  EXPECT_TRUE(set.ignore(point_with(2)));
  EXPECT_TRUE(set.ignore(point_with(9)));
  EXPECT_FALSE(set.ignore(point_with(7)));
  EXPECT_EQ(set.flags, 1u);

  // A class beyond 31 (of the newer point types) sets only its own bit of its own word.
  const auto extended = [](int classification) {
    LASpoint point = point_with(classification);
    point.extended_layout = 1;
    return point;
  };
  Args high({"tool", "-ignore_class", "40"});
  LASignore high_set;
  EXPECT_EQ(parse_all(high_set, high, ok), "");
  ASSERT_TRUE(ok);
  for (int c = 0; c < 256; c++)
    EXPECT_EQ(high_set.ignore(extended(c)), c == 40) << "class " << c;
}

TEST(LasIgnore, ClassListErrorsCarryTheExactMessages) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"tool", "-ignore_class", "300"},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but '300' is out of range\n"},
      {{"tool", "-ignore_class", "x"},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but 'x' is no valid code\n"},
      {{"tool", "-ignore_extended_class", "3", "256"},
       "ERROR: '-ignore_extended_class' needs arguments between 0 and 255 but '256' is out of "
       "range\n"},
      {{"tool", "-ignore_class"},
       "ERROR: '-ignore_class' needs 1 at least argument: classification\n"},
      {{"tool", "-ignore_class", "99999999999"},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but '99999999999' is no valid "
       "code\n"},
      {{"tool", "-ignore_class", "2", "7.5"},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but '7.5' is no valid code\n"},
      {{"tool", "-ignore_class_mask"}, "ERROR: '-ignore_class_mask' needs 1 argument: mask\n"},
      {{"tool", "-ignore_class_mask", "0"},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but 0 "
       "makes no sense\n"},
      {{"tool", "-ignore_class_mask", "-1"},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but '-1' "
       "is no valid mask\n"},
      {{"tool", "-ignore_class_mask", "4294967295"},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but "
       "4294967295 makes no sense\n"},
      {{"tool", "-ignore_class_mask", "m"},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but 'm' "
       "is no valid mask\n"},
      {{"tool", "-ignore_nothing"}, "ERROR: cannot understand argument '-ignore_nothing'\n"},
  };
  for (const Case& c : cases) {
    Args args(c.args);
    LASignore set;
    bool ok = true;
    EXPECT_EQ(parse_all(set, args, ok), c.message) << c.args[1];
    EXPECT_FALSE(ok) << c.args[1];
  }
}

TEST(LasIgnore, ClassMaskReplacesWordZero) {
  Args args({"tool", "-ignore_class", "2", "-ignore_class_mask", "128"});
  LASignore set;
  bool ok = false;
  parse_all(set, args, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(args.at(3), "");
  EXPECT_EQ(args.at(4), "");
  EXPECT_TRUE(set.ignore(point_with(7)));
  EXPECT_FALSE(set.ignore(point_with(2)));
}

TEST(LasIgnore, ReturnTypesFollowReturnNumberAndNumberOfReturns) {
  Args first({"tool", "-ignore_first"});
  LASignore set;
  bool ok = false;
  parse_all(set, first, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(set.flags, 0x900u);
  EXPECT_TRUE(set.ignore(point_with(1, 1, 1)));
  EXPECT_TRUE(set.ignore(point_with(1, 1, 0)));  // no count of returns: single
  EXPECT_TRUE(set.ignore(point_with(1, 1, 3)));
  EXPECT_FALSE(set.ignore(point_with(1, 2, 3)));
  EXPECT_FALSE(set.ignore(point_with(1, 3, 3)));

  LASignore last;
  last.flags = LASignore::kLastOfMany;
  EXPECT_TRUE(last.ignore(point_with(1, 3, 3)));
  EXPECT_FALSE(last.ignore(point_with(1, 1, 1)));
  LASignore intermediate;
  intermediate.flags = LASignore::kIntermediate;
  EXPECT_TRUE(intermediate.ignore(point_with(1, 2, 3)));
  EXPECT_FALSE(intermediate.ignore(point_with(1, 3, 3)));
  EXPECT_FALSE(intermediate.ignore(point_with(1, 1, 3)));
}

TEST(LasIgnore, FlagOptionsMatchTheirPointFlags) {
  Args args({"tool", "-ignore_synthetic", "-ignore_overlap"});
  LASignore set;
  bool ok = false;
  parse_all(set, args, ok);
  ASSERT_TRUE(ok);
  LASpoint point = point_with(1);
  EXPECT_FALSE(set.ignore(point));
  point.set_synthetic_flag(true);
  EXPECT_TRUE(set.ignore(point));
  point.set_synthetic_flag(false);
  point.set_overlap_flag(true);
  EXPECT_TRUE(set.ignore(point));
  point.set_overlap_flag(false);
  point.set_withheld_flag(true);
  point.set_keypoint_flag(true);
  EXPECT_FALSE(set.ignore(point));
}

TEST(LasIgnore, ExtendedClassesMatchByTheirFullCode) {
  LASignore set;
  Args args({"tool", "-ignore_extended_class", "40"});
  bool ok = false;
  parse_all(set, args, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(set.flags, 2u);
  LASpoint point;
  point.extended_layout = 1;
  point.set_classification(40);
  EXPECT_TRUE(set.ignore(point));
  // Class 0 must not stand in for the classes above 31 that a legacy field cannot hold.
  LASignore zero;
  zero.flags = 1;
  zero.classes[0] = 1;
  EXPECT_FALSE(zero.ignore(point));
  point.set_classification(0);
  EXPECT_TRUE(zero.ignore(point));
}

TEST(LasIgnore, ExportAndImportRoundTripTheSet) {
  Args args({"tool", "-ignore_class", "2", "-ignore_withheld"});
  LASignore set;
  bool ok = false;
  parse_all(set, args, ok);
  ASSERT_TRUE(ok);
  double values[2 + LASignore::kMaxExportedValues] = {1.0, 7.0};
  std::uint32_t count = 2;
  set.export_values(count, values);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(values[2], 16385.0);
  EXPECT_EQ(values[3], 4.0);

  LASignore imported;
  EXPECT_TRUE(imported.import_values(2, count, values));
  EXPECT_EQ(imported, set);

  LASignore wide;
  wide.flags = 0x81;
  wide.classes[0] = 5;
  wide.classes[7] = 0x80000000u;
  count = 0;
  wide.export_values(count, values);
  ASSERT_EQ(count, 3u);
  LASignore back;
  EXPECT_TRUE(back.import_values(0, count, values));
  EXPECT_EQ(back, wide);
}

TEST(LasIgnore, ImportRejectsShortOrInvalidListsAndKeepsTheSet) {
  LASignore set;
  set.flags = LASignore::kSingle;
  const LASignore before = set;
  const double missing_word[] = {3.0, 4.0};  // words 0 and 1 announced, one given
  EXPECT_FALSE(set.import_values(0, 2, missing_word));
  const double negative[] = {-1.0};
  EXPECT_FALSE(set.import_values(0, 1, negative));
  const double nan[] = {std::numeric_limits<double>::quiet_NaN()};
  EXPECT_FALSE(set.import_values(0, 1, nan));
  const double too_big[] = {1.0, 4294967296.0};
  EXPECT_FALSE(set.import_values(0, 2, too_big));
  EXPECT_FALSE(set.import_values(3, 2, negative));
  EXPECT_EQ(set, before);
  EXPECT_TRUE(set.import_values(1, 1, negative));  // nothing to read
  EXPECT_EQ(set, before);
}

TEST(LasIgnore, UsagePrintsItsLinesInOrder) {
  testing::internal::CaptureStderr();
  LASignore::usage();
  const std::string text = testing::internal::GetCapturedStderr();
  EXPECT_EQ(text.rfind("Ignore points based on classifications.\n  -ignore_class 7\n", 0), 0u);
  EXPECT_NE(text.find("  -ignore_withheld -ignore_overlap\n"), std::string::npos);
}

}  // namespace
