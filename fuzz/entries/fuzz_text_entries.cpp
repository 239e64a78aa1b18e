#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "entries/fuzz_entries.hpp"
#include "formats/las_reader_txt.hpp"
#include "formats/las_writer_txt.hpp"

namespace fuzz_entry {
namespace {

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "FUZZ FINDING: %s\n", what);
  std::abort();
}

// Parse strings that reach every letter, the attributes and the dialects' columns.
constexpr const char* kParseStrings[] = {
    "xyz",    "xyzi",  "xyziRGB", "xyztiarnc", "xyzupedhkg", "xyzolI",   "xyzEHJ", "sxyz0(1)",
    "RGxyBz", "xyzt2", "xyzs",    "xyzl",      "z",          "xyzrnopq", "xyz(",   "xyzJiH",
};

}  // namespace

int text_file(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t choice = data[0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string name = "/tmp/isocull_fuzz_text_" + std::to_string(getpid()) + ".txt";
  if (std::FILE* file = std::fopen(name.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  } else {
    return 0;
  }
  // CR, LF and CR LF all end lines: every point needs a line end of its own but the last.
  const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n') +
                                                     std::count(text.begin(), text.end(), '\r')) +
                            1;
  {
    LASreaderTXT reader;
    reader.add_attribute(1, "a", "u8", 0.1);
    reader.add_attribute(10, "b", "f64");
    reader.add_attribute(3, "c", "u16", 1.0, 0.0, 2.0, 1.0);
    if (choice & 0x10) reader.set_pts(true);
    if (choice & 0x20) reader.set_ptx(true);
    const bool populate = (choice & 0x40) != 0;
    const std::uint32_t skip = (choice & 0x80) ? 1 : 0;
    const char* parse = kParseStrings[choice & 0x0F];
    if (reader.open(name.c_str(), 0, parse, skip, populate)) {
      std::size_t points = 0;
      while (reader.read_next()) {
        if (++points > lines) finding("more points than lines");
      }
      if (points > 2) {
        if (!reader.seek_point(1)) finding("a point that was read cannot be sought");
        reader.seek_point(static_cast<std::int64_t>(points) + 5);
      }
      reader.close_reader();
      if (reader.reopen(name.c_str())) {
        LASwriterTXT writer;
        if (writer.open("/dev/null", &reader.header, parse[0] == 'x' ? "xyzitcRGB" : nullptr)) {
          std::size_t again = 0;
          while (reader.read_next()) {
            writer.write_point(reader.point);
            if (++again > points) finding("a reopened file delivered more points");
          }
          writer.close_writer();
        }
      }
    }
  }
  std::remove(name.c_str());
  return 0;
}

}  // namespace fuzz_entry
