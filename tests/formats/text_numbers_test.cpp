// Numbers read and printed as the C library reads and prints them, checked against it.

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "formats/text_numbers.hpp"

#include <gtest/gtest.h>

namespace {

std::string printed(const char* format, double value, int precision) {
  char text[512];
  std::snprintf(text, sizeof(text), format, precision, value);
  return text;
}

std::string ours(char* (*write)(char*, double, int), double value, int precision) {
  char text[text_numbers::kMaxNumberChars + 8];
  char* end = write(text, value, precision);
  return std::string(text, end);
}

}  // namespace

TEST(TextNumbers, PrintedExactlyAsTheCLibraryPrints) {
  std::mt19937_64 random(7);
  std::vector<double> values = {
      0.0,      -0.0,   0.125, 0.375,          2.5,      -0.001,
      1e-300,   1e15,   1e17,  1e300,          -1e300,   4095.0 * 0.00024420026,
      1234.565, 0.0005, 0.005, 999.9999999995, 1.0 / 3.0};
  for (int i = 0; i < 20000; i++) {
    const double magnitude = std::pow(10.0, static_cast<double>(random() % 24) - 8.0);
    double value = (static_cast<double>(random() % 2000001) - 1000000.0) / 1000000.0 * magnitude;
    if (i % 3 == 0)
      value =
          static_cast<double>(static_cast<std::int64_t>(random() % 100000000) - 50000000) * 0.01 +
          600000.0;
    if (i % 7 == 0) value = static_cast<double>(random() % 100000) / 8.0;  // exact ties
    values.push_back(value);
  }
  for (const double value : values) {
    for (int d = 0; d <= 9; d++) {
      ASSERT_EQ(ours(text_numbers::write_fixed, value, d), printed("%.*f", value, d))
          << value << " " << d;
    }
    ASSERT_EQ(ours(text_numbers::write_fixed, value, 15), printed("%.*f", value, 15)) << value;
    ASSERT_EQ(ours(text_numbers::write_general, value, 6), printed("%.*g", value, 6)) << value;
    ASSERT_EQ(ours(text_numbers::write_general, value, 15), printed("%.*g", value, 15)) << value;
  }
  for (const double special : {HUGE_VAL, -HUGE_VAL, std::nan("")}) {
    EXPECT_EQ(ours(text_numbers::write_fixed, special, 2), printed("%.*f", special, 2));
    EXPECT_EQ(ours(text_numbers::write_general, special, 6), printed("%.*g", special, 6));
  }
  EXPECT_EQ(ours(text_numbers::write_fixed_trimmed, 12.5, 15), "12.5");
  EXPECT_EQ(ours(text_numbers::write_fixed_trimmed, 3.0, 3), "3");
  EXPECT_EQ(ours(text_numbers::write_fixed_trimmed, 0.0004, 3), "0");
}

TEST(TextNumbers, ReadExactlyAsTheCLibraryReads) {
  const char* texts[] = {"0",
                         "-0",
                         "+1.5",
                         ".5",
                         "5.",
                         "1e5",
                         "-1.25E-3",
                         "0x1p3",
                         "0x10",
                         "0X.8",
                         "1e999",
                         "-1e999",
                         "1e-999",
                         "inf",
                         "-Infinity",
                         "nan",
                         "123456789.123456789",
                         "4.9e-324"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    double expected = 0;
    int used = 0;
    ASSERT_EQ(std::sscanf(text, "%lf%n", &expected, &used), 1);
    double value = -7;
    const char* end = text_numbers::read_double(text, text + std::strlen(text), value);
    ASSERT_NE(end, nullptr);
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(value));
    } else {
      EXPECT_EQ(value, expected);
    }
    EXPECT_EQ(end - text, used);
  }
  for (const char* text : {"", "-", "+-1", "abc", ".", "e5", "0x", "0xg"}) {
    double value = 0;
    EXPECT_EQ(text_numbers::read_double(text, text + std::strlen(text), value), nullptr) << text;
  }
  std::int32_t integer = 0;
  EXPECT_NE(text_numbers::read_int("99999999999", integer), nullptr);
  EXPECT_EQ(integer, INT32_MAX);
  EXPECT_NE(text_numbers::read_int("-42x", integer), nullptr);
  EXPECT_EQ(integer, -42);
  std::uint32_t hex = 0;
  EXPECT_NE(text_numbers::read_hex("0xFF", hex), nullptr);
  EXPECT_EQ(hex, 255u);
}

// Integers beyond 32 bits are held at the nearest end of the range, from the first value
// that no longer fits: never wrapped to the other end.
TEST(TextNumbers, IntegersAreHeldAtTheEndsOfThe32BitRange) {
  const struct {
    const char* text;
    std::int64_t expected;
    std::size_t used;
  } cases[] = {
      {"2147483647", INT32_MAX, 10},
      {"2147483648", INT32_MAX, 10},
      {"2147483649 ", INT32_MAX, 10},
      {"+2147483648", INT32_MAX, 11},
      {"-2147483647", -2147483647, 11},
      {"-2147483648", INT32_MIN, 11},
      {"-2147483649", INT32_MIN, 11},
      {"-99999999999999999999", INT32_MIN, 21},
      {"0", 0, 1},
      {"-0", 0, 2},
      {"007,", 7, 3},
      {"21474836470", INT32_MAX, 11},
  };
  for (const auto& c : cases) {
    std::int32_t value = 12345;
    const char* end = text_numbers::read_int(c.text, value);
    ASSERT_NE(end, nullptr) << c.text;
    EXPECT_EQ(value, c.expected) << c.text;
    EXPECT_EQ(static_cast<std::size_t>(end - c.text), c.used) << c.text;
  }
  for (const char* text : {"", "-", "+", "x1", "--1", " 1"}) {
    std::int32_t value = 0;
    EXPECT_EQ(text_numbers::read_int(text, value), nullptr) << text;
  }
}
