// The progress line with a clock the test moves: silent for short passes and when not
// enabled, then one line per pass rewritten in place and ended once.

#include "tool/progress_line.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
    text.push_back(static_cast<char>(c));
  return text;
}

TEST(ProgressLine, StaysSilentForShortPassesThenRewritesOneLinePerPass) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  double now = 100.0;
  {
    ProgressLine progress(out, true, 2.0, [&] { return now; });
    progress.start("pass 1 of 2", 1000000);
    for (int i = 1; i <= 64; i++) {
      now += 0.01;  // 0.64 s in all: below the delay
      progress.update(static_cast<std::uint64_t>(i) * 1000);
    }
    EXPECT_EQ(contents(out), "");
    now = 103.0;  // 3 s into the pass
    for (int i = 0; i < 16; i++)
      progress.update(300000);
    EXPECT_EQ(contents(out), "\rpass 1 of 2:  30.0% of 1000000 points, 100000 points/sec ");
    // Within half a second the line is not rewritten; after it, it is.
    now = 103.2;
    for (int i = 0; i < 16; i++)
      progress.update(400000);
    EXPECT_EQ(contents(out).find("40.0%"), std::string::npos);
    now = 104.0;
    for (int i = 0; i < 16; i++)
      progress.update(400000);
    EXPECT_NE(contents(out).find("\rpass 1 of 2:  40.0% of 1000000 points"), std::string::npos);
    progress.start("pass 2 of 2", 1000000);  // ends the first line
    EXPECT_EQ(contents(out).back(), '\n');
    now = 110.0;
    for (int i = 0; i < 16; i++)
      progress.update(1000000);
  }
  const std::string text = contents(out);
  EXPECT_NE(text.find("\rpass 2 of 2: 100.0% of 1000000 points"), std::string::npos);
  EXPECT_EQ(text.back(), '\n') << "the destructor ends the line";
  std::fclose(out);
}

TEST(ProgressLine, PrintsNothingWhenNotEnabled) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  double now = 0.0;
  {
    ProgressLine progress(out, false, 2.0, [&] { return now; });
    progress.start("pass 1 of 2", 10);
    now = 50.0;
    for (int i = 0; i < 64; i++)
      progress.update(5);
    EXPECT_FALSE(progress.printed());
  }
  EXPECT_EQ(contents(out), "");
  std::fclose(out);
}

}  // namespace
