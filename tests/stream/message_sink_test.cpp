// A file's captured messages are bounded: its first and last lines are kept whole, one line
// says how much lies between them, and small texts pass unchanged.

#include "stream/message_sink.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace

TEST(MessageSink, KeepsTheFirstAndLastLinesOfAFloodAndSaysHowMuchIsLeftOut) {
  struct Case {
    std::size_t lines;
    std::size_t pieces;  // each line is appended in this many writes
  };
  // 9000 lines fill the head and part of the tail: nothing is left out yet.
  for (const Case c : {Case{200000, 1}, Case{60000, 3}, Case{9000, 1}, Case{20, 2}}) {
    SCOPED_TRACE(c.lines);
    MessageSink sink;
    std::uint64_t total = 0;
    std::vector<std::string> written;
    for (std::size_t i = 0; i < c.lines; i++) {
      const std::string line = "WARNING: line " + std::to_string(i) + " of the flood\n";
      written.push_back(line.substr(0, line.size() - 1));
      const std::size_t step = (line.size() + c.pieces - 1) / c.pieces;
      for (std::size_t at = 0; at < line.size(); at += step)
        sink.append(line.data() + at, std::min(step, line.size() - at));
      total += line.size();
    }
    const std::string taken = sink.take();
    EXPECT_EQ(sink.take(), "");
    if (total <= MessageSink::kHeadLimit + MessageSink::kTailLimit) {
      EXPECT_EQ(lines_of(taken), written);
      continue;
    }
    EXPECT_LE(taken.size(), MessageSink::kHeadLimit + MessageSink::kTailLimit + 100);
    const std::vector<std::string> kept = lines_of(taken);
    // Head lines from the first on, one gap line, tail lines up to the last.
    std::size_t gap = 0;
    while (gap < kept.size() && kept[gap] == written[gap])
      gap++;
    ASSERT_LT(gap, kept.size());
    const std::size_t tail = kept.size() - gap - 1;
    for (std::size_t i = 0; i < tail; i++)
      ASSERT_EQ(kept[gap + 1 + i], written[written.size() - tail + i]) << i;
    std::uint64_t shown = 0;
    for (std::size_t i = 0; i < kept.size(); i++) {
      if (i != gap) shown += kept[i].size() + 1;
    }
    EXPECT_EQ(kept[gap], "WARNING: " + std::to_string(total - shown) +
                             " bytes of the messages of this file are left out here");
    EXPECT_GT(gap, 1000u);
    EXPECT_GT(tail, 500u);
  }
}

TEST(MessageSink, ScopesNestAndGiveBackTheSinkTheyFound) {
  EXPECT_EQ(MessageSink::current(), nullptr);
  MessageSink outer, inner;
  {
    const MessageSink::Scope first(&outer);
    EXPECT_EQ(MessageSink::current(), &outer);
    {
      const MessageSink::Scope second(&inner);
      EXPECT_EQ(MessageSink::current(), &inner);
      const MessageSink::Scope none(nullptr);
      EXPECT_EQ(MessageSink::current(), nullptr);
    }
    EXPECT_EQ(MessageSink::current(), &outer);
  }
  EXPECT_EQ(MessageSink::current(), nullptr);
}
