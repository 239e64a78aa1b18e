#include <gtest/gtest.h>

#include <cstdint>

#include "select/command_options.hpp"

namespace {

using command_options::parse_double;
using command_options::parse_float;
using command_options::parse_int;
using command_options::parse_unsigned;

// Each row: the text and whether the strict conversion of that kind takes it.
struct StrictRow {
  const char* text;
  bool as_unsigned;
  bool as_int;
  bool as_double;
};

TEST(CommandOptions, StrictConversionsTakeOnlyWholeNumbersInRange) {
  const StrictRow rows[] = {
      {"5", true, true, true},
      {"-5", false, true, true},
      {"+7", true, true, true},
      {"5abc", false, false, false},
      {"2.5", false, false, true},
      {"1e9", false, false, true},
      {"3m", false, false, false},
      {"", false, false, false},
      {"nan", false, false, false},
      {"inf", false, false, false},
      {"4294967295", true, false, true},
      {"4294967296", false, false, true},
      {"2147483647", true, true, true},
      {"2147483648", true, false, true},
      {"99999999999999999999999", false, false, true},
      {"1e999", false, false, false},
      {"0x10", false, false, true},
      {"5 ", false, false, false},
  };
  for (const StrictRow& row : rows) {
    std::uint32_t u = 77;
    int i = 77;
    double d = 77.0;
    EXPECT_EQ(parse_unsigned(row.text, u), row.as_unsigned) << row.text;
    EXPECT_EQ(parse_int(row.text, i), row.as_int) << row.text;
    EXPECT_EQ(parse_double(row.text, d), row.as_double) << row.text;
    if (!row.as_unsigned) {
      EXPECT_EQ(u, 77u) << row.text;
    }
    if (!row.as_int) {
      EXPECT_EQ(i, 77) << row.text;
    }
  }
}

TEST(CommandOptions, StrictConversionsHonourTheOptionRange) {
  int value = 0;
  EXPECT_TRUE(parse_int("31", value, 0, 31));
  EXPECT_EQ(value, 31);
  EXPECT_FALSE(parse_int("32", value, 0, 31));
  EXPECT_FALSE(parse_int("-1", value, 0, 31));
  std::uint32_t count = 0;
  EXPECT_FALSE(parse_unsigned("0", count, 1));
  float f = 0.0f;
  EXPECT_TRUE(parse_float("1.5", f));
  EXPECT_EQ(f, 1.5f);
  EXPECT_FALSE(parse_float("1e40", f));
}

}  // namespace
