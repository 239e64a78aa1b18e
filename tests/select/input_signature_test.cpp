// The first bytes of an input name its format: hand-built headers of every format, their
// near misses, text and garbage, and the real files of other producers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "select/input_formats.hpp"
#include "select/input_signature.hpp"
#include "select/select_test_support.hpp"

namespace {

using input_formats::Format;
using input_signature::Content;

using Bytes = std::vector<std::uint8_t>;

void put_le32(Bytes& bytes, std::size_t at, std::int64_t value) {
  if (bytes.size() < at + 4) bytes.resize(at + 4);
  for (int i = 0; i < 4; i++)
    bytes[at + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
}
void put_be32(Bytes& bytes, std::size_t at, std::int64_t value) {
  if (bytes.size() < at + 4) bytes.resize(at + 4);
  for (int i = 0; i < 4; i++)
    bytes[at + 3 - i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
}
void put_text(Bytes& bytes, std::size_t at, const std::string& text) {
  if (bytes.size() < at + text.size()) bytes.resize(at + text.size());
  std::memcpy(bytes.data() + at, text.data(), text.size());
}
Bytes text(const std::string& characters) {
  return Bytes(characters.begin(), characters.end());
}

// A Terrasolid header: size, version, recognition value and text, 1000 points, 100 units.
Bytes bin_header(std::int64_t recognition = 970401, const std::string& recognition_text = "CXYZ") {
  Bytes bytes(56, 0);
  put_le32(bytes, 0, 56);
  put_le32(bytes, 4, 20020715);
  put_le32(bytes, 8, recognition);
  put_text(bytes, 12, recognition_text);
  put_le32(bytes, 16, 1000);
  put_le32(bytes, 20, 100);
  return bytes;
}

// A shapefile header: file code big-endian, file length, version little-endian, Point type.
Bytes shp_header(std::int64_t code = 9994, std::int64_t version = 1000, bool code_big = true) {
  Bytes bytes(100, 0);
  code_big ? put_be32(bytes, 0, code) : put_le32(bytes, 0, code);
  put_be32(bytes, 24, 50);
  put_le32(bytes, 28, version);
  put_le32(bytes, 32, 1);
  return bytes;
}

// A QFIT header: the record size, header text, then the mark opening record two.
Bytes qfit_header(std::int64_t record_size, bool big_endian, std::int64_t mark,
                  std::size_t mark_at = 0) {
  Bytes bytes;
  const auto put = big_endian ? put_be32 : put_le32;
  put(bytes, 0, record_size);
  put_text(bytes, 4, std::string(static_cast<std::size_t>(record_size) - 4, '0'));
  const std::size_t at = mark_at != 0 ? mark_at : static_cast<std::size_t>(record_size);
  put(bytes, at, mark);
  put(bytes, at + 4, 2 * record_size);
  bytes.resize(3 * static_cast<std::size_t>(record_size), 0);
  return bytes;
}

Bytes las_header() {
  Bytes bytes(227, 0);
  put_text(bytes, 0, "LASF");
  bytes[24] = 1;
  bytes[25] = 2;
  return bytes;
}

TEST(InputSignature, EachFormatIsKnownByItsHeaderAndNotByANearMiss) {
  Bytes zeros(4096, 0);
  const Bytes bin = bin_header();
  const Bytes shp = shp_header();
  Bytes utf8 = text("x;y;z\n1,5;2;3 \xc2\xb0\n");
  struct Case {
    const char* name;
    Bytes head;
    Content expected;
  } cases[] = {
      {"las header", las_header(), Content::kLAS},
      {"las signature alone", text("LASF"), Content::kLAS},
      {"three letters of it", text("LAS"), Content::kText},
      {"another letter", text("LASG and more text\n"), Content::kText},
      {"terrasolid", bin_header(), Content::kBIN},
      {"terrasolid, the value the message shows", bin_header(979401), Content::kUnknown},
      {"terrasolid, other text", bin_header(970401, "CXYW"), Content::kUnknown},
      {"terrasolid cut in its text", Bytes(bin.begin(), bin.begin() + 15), Content::kUnknown},
      {"shapefile", shp_header(), Content::kSHP},
      {"shapefile code little-endian", shp_header(9994, 1000, false), Content::kUnknown},
      {"shapefile version 1001", shp_header(9994, 1001), Content::kUnknown},
      {"shapefile cut before its version", Bytes(shp.begin(), shp.begin() + 30), Content::kUnknown},
      {"qfit 10 words little-endian", qfit_header(40, false, -9000000), Content::kQFIT},
      {"qfit 12 words big-endian", qfit_header(48, true, -9000008), Content::kQFIT},
      {"qfit 14 words, last header kind", qfit_header(56, false, -9000099), Content::kQFIT},
      {"qfit mark one kind too far", qfit_header(56, false, -9000100), Content::kUnknown},
      {"qfit mark above", qfit_header(40, false, -8999999), Content::kUnknown},
      {"qfit mark in the other order", qfit_header(40, false, 0xC0AB76FF), Content::kUnknown},
      {"qfit mark a word late", qfit_header(40, false, -9000000, 44), Content::kUnknown},
      {"qfit 11 words", qfit_header(44, false, -9000000), Content::kUnknown},
      {"empty", Bytes{}, Content::kText},
      {"lines", text("1.5 2.5 3.5\n4 5 6\r\n\t7 8 9\f\v"), Content::kText},
      {"utf-8 and a code page", utf8, Content::kText},
      {"dos end of file", text("1 2 3\n\x1a"), Content::kText},
      {"zeros", zeros, Content::kUnknown},
      {"a nul after text", text(std::string("1 2 3\n") + '\0'), Content::kUnknown},
      {"an escape", text("1 2 3\x1b[2J\n"), Content::kUnknown},
      {"delete", text("1 2 3\x7f\n"), Content::kUnknown},
      {"a bell", text("\x07"), Content::kUnknown},
      {"an escape in a later line", text("1 2 3\n\x1b]0;x\x07 bad\n4 5 6\n"), Content::kText},
      {"control bytes one in eight after the first line",
       text("1\n\x01\x01"
            "abcdefghijkl"),
       Content::kUnknown},
      {"control bytes fewer than one in eight",
       text("1\n\x01\x01"
            "abcdefghijklm"),
       Content::kText},
      {"a nul in a later line", text(std::string("1 2 3\n4 5\0 6\n", 12)), Content::kUnknown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(input_signature::classify(c.head.data(), c.head.size()), c.expected) << c.name;
  }
}

TEST(InputSignature, ShowsAtMostSixteenBytesEscaped) {
  const Bytes elf = {0x7f, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0};
  EXPECT_EQ(input_signature::shown(elf.data(), elf.size()),
            "\"\\x7fELF\\x02\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\"...");
  const Bytes sixteen(16, 0xff);
  std::string escaped;
  for (int i = 0; i < 16; i++)
    escaped += "\\xff";
  EXPECT_EQ(input_signature::shown(sixteen.data(), sixteen.size()), "\"" + escaped + "\"");
  const Bytes quoted = text("a\"b\\c\nd\re\tf");
  EXPECT_EQ(input_signature::shown(quoted.data(), quoted.size()), "\"a\\\"b\\\\c\\nd\\re\\tf\"");
  EXPECT_EQ(input_signature::shown(nullptr, 0), "\"\"");
}

TEST(InputFormats, TheSignatureDecidesThenTextAskedForThenTheName) {
  struct Case {
    const char* name;
    Content content;
    bool text_asked;
    std::optional<Format> expected;  // nullopt: refused
  } cases[] = {
      {"tile.dat", Content::kLAS, false, Format::kLAS},
      {"tile.txt", Content::kLAS, true, Format::kLAS},
      {"tile.las", Content::kBIN, false, Format::kBIN},
      {"ff", Content::kSHP, false, Format::kSHP},
      {"scan.xyz", Content::kQFIT, false, Format::kQFIT},
      {"points.txt", Content::kText, false, Format::kTXT},
      {"points", Content::kText, false, Format::kTXT},
      {"points.las", Content::kText, false, Format::kLAS},
      {"points.las", Content::kText, true, Format::kTXT},
      {"points.bin", Content::kText, true, Format::kTXT},
      {"grid.asc", Content::kText, false, Format::kASC},
      {"points.dat", Content::kUnknown, false, std::nullopt},
      {"points.dat", Content::kUnknown, true, std::nullopt},
      {"points", Content::kUnknown, false, std::nullopt},
      {"damaged.las", Content::kUnknown, false, Format::kLAS},
      {"damaged.PKZ", Content::kUnknown, false, Format::kLAS},
      {"damaged.bin", Content::kUnknown, true, Format::kBIN},
      {"damaged.shp", Content::kUnknown, false, Format::kSHP},
      {"damaged.qi", Content::kUnknown, false, Format::kQFIT},
      {"scan.ply", Content::kUnknown, false, Format::kPLY},
      {"dir.las/points", Content::kUnknown, false, std::nullopt},
  };
  for (const Case& c : cases) {
    const input_formats::Row* row = input_formats::choose(c.name, c.content, c.text_asked);
    if (!c.expected) {
      EXPECT_EQ(row, nullptr) << c.name;
    } else {
      ASSERT_NE(row, nullptr) << c.name;
      EXPECT_EQ(row->format, *c.expected) << c.name;
    }
  }
}

TEST(InputFormats, CompressedTextIsKnownByTheEndOfItsName) {
  for (const char* name : {"a.txt.gz", "a.zip", "b.las.7z", "c.rar"}) {
    EXPECT_TRUE(input_formats::is_compressed_text(name)) << name;
  }
  for (const char* name : {"a.gz.txt", "a.zipx", "gz", "a.las", "a.RAR"}) {
    EXPECT_FALSE(input_formats::is_compressed_text(name)) << name;
  }
}

// Every real file's first bytes name the format its producer wrote.
TEST(InputSignature, RealFilesOfOtherProducersAreKnownByTheirBytes) {
  const std::string dir = ISOCULL_REAL_DATA_DIR;
  if (select_test::file_bytes(dir + "/simple.las").empty()) {
    GTEST_SKIP() << "real point files not found in " << dir;
  }
  const std::pair<const char*, Content> files[] = {
      {"simple.las", Content::kLAS},     {"simple.pkz", Content::kLAS},
      {"bad-header.pkz", Content::kLAS}, {"1_4_w_evlr.pkz", Content::kLAS},
      {"time-color.bin", Content::kBIN}, {"10-word.qi", Content::kQFIT},
      {"polygons.shp", Content::kSHP},   {"test.pts", Content::kText},
      {"no-color.ptx", Content::kText},  {"autzen-pf3.txt", Content::kText},
      {"hextest.txt", Content::kText},   {"README.md", Content::kText},
  };
  for (const auto& [name, expected] : files) {
    Bytes bytes = select_test::file_bytes(dir + "/" + name);
    ASSERT_FALSE(bytes.empty()) << name;
    bytes.resize(std::min(bytes.size(), input_signature::kHeadSize));
    EXPECT_EQ(input_signature::classify(bytes.data(), bytes.size()), expected) << name;
  }
}

}  // namespace
