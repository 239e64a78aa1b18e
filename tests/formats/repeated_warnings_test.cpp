// Warnings that repeat per line or per point: a few of each kind, one summary per kind, then
// silence; echoed input never carries control bytes to the terminal.

#include "formats/repeated_warnings.hpp"

#include "text_test_support.hpp"

namespace {

constexpr char kBad[] = "WARNING: bad line %d\n";
constexpr char kOther[] = "WARNING: value %g of %s is out of range\n";

}  // namespace

TEST(RepeatedWarnings, EachKindIsPrintedFiveTimesThenSummedUpOnceAndMuted) {
  RepeatedWarnings warnings;
  std::string messages;
  CAPTURE_STDERR(messages, {
    for (int i = 0; i < 9; i++)
      warnings.warn(kBad, i);
    warnings.warn(kOther, 1.5, "x");
    for (int i = 0; i < 5; i++)
      warnings.warn(kOther, 2.5, "y");
    warnings.finish();
    // The next pass over the same points says nothing.
    warnings.warn(kBad, 99);
    EXPECT_FALSE(warnings.allow(kOther));
    warnings.finish();
  });
  EXPECT_EQ(messages,
            "WARNING: bad line 0\nWARNING: bad line 1\nWARNING: bad line 2\nWARNING: bad line 3\n"
            "WARNING: bad line 4\n"
            "WARNING: value 1.5 of x is out of range\n"
            "WARNING: value 2.5 of y is out of range\nWARNING: value 2.5 of y is out of range\n"
            "WARNING: value 2.5 of y is out of range\nWARNING: value 2.5 of y is out of range\n"
            "WARNING: … and 4 more lines like it: bad line …\n"
            "WARNING: … and 1 more lines like it: value … of … is out of range\n");
  // A new file speaks again; a muted stretch counts nothing.
  warnings.reset();
  warnings.mute(true);
  for (int i = 0; i < 10; i++)
    EXPECT_FALSE(warnings.allow(kBad));
  warnings.mute(false);
  for (int i = 0; i < RepeatedWarnings::kShownPerKind; i++)
    EXPECT_TRUE(warnings.allow(kBad)) << i;
  EXPECT_FALSE(warnings.allow(kBad));
}

TEST(RepeatedWarnings, ShownTextEscapesControlBytesAndStaysWithinItsSize) {
  struct Case {
    std::string text;
    std::size_t max_size;
    const char* shown;
  };
  const Case cases[] = {
      {"plain text\twith a tab", 511, "plain text\twith a tab"},
      {"\x1b[31mred\x1b[0m", 511, "\\x1b[31mred\\x1b[0m"},
      {std::string("a\0b\x7f\x1f\x20~\x80", 8), 511, "a\\x00b\\x7f\\x1f ~\x80"},
      {"\r\n\x07", 511, "\\x0d\\x0a\\x07"},
      {"abcdef", 4, "abcd"},
      {"ab\x01", 5, "ab"},  // an escape is never cut in two
      {"ab\x01", 6, "ab\\x01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(shown_text(c.text, c.max_size), c.shown);
  }
}

TEST(RepeatedWarnings, KindLabelsShowConversionsAsEllipses) {
  const std::pair<const char*, const char*> cases[] = {
      {"WARNING: cannot parse '%s' with '%s'. skipping ...\n",
       "cannot parse '…' with '…'. skipping ..."},
      {"WARNING: coordinates %g %g %g do not fit at scale %.3f\n",
       "coordinates … do not fit at scale …"},
      {"WARNING: 100%% of %d points\n", "100% of … points"},
      {"WARNING: line '%.*s' and %"
       "lld\n",
       "line '…' and …"},
      {"no prefix %u", "no prefix …"},
  };
  for (const auto& [format, label] : cases)
    EXPECT_EQ(kind_label(format), label) << format;
}
