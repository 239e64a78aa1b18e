// Writes the project's own seed inputs of every fuzz target into <dir>/<target>/: small
// scenes of every point type, LAS and PKZ, written by the project's writer. With a second
// folder of real point files, those are added too (copied into the build's corpus, never
// into the project), the compressed ones also as inputs of the codec targets.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "entries/fuzz_entries.hpp"

namespace {

void write(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: make_fuzz_seeds <corpus dir> [<folder of real point files>]\n");
    return 1;
  }
  const std::filesystem::path dir = argv[1];
  for (int i = 0; i < fuzz_entry::template_count(); i++) {
    const std::string name = fuzz_entry::template_name(i);
    const std::vector<std::uint8_t>& file = fuzz_entry::template_file(i);
    const bool compressed = name.find("_pkz") != std::string::npos;
    write(dir / "las_file" / (name + (compressed ? ".pkz" : ".las")), file);
    if (compressed) {
      write(dir / "pkz_file" / (name + ".pkz"), file);
      write(dir / "pkz_items" / name, fuzz_entry::pkz_items_seed(file));
    }
    write(dir / "pkz_block" / name, fuzz_entry::pkz_block_seed(i));
  }
  if (argc == 3 && std::filesystem::is_directory(argv[2])) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[2])) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".las" && extension != ".pkz") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
      const std::string name = "real_" + entry.path().filename().string();
      write(dir / "las_file" / name, file);
      if (extension == ".pkz") {
        write(dir / "pkz_file" / name, file);
        const std::vector<std::uint8_t> items = fuzz_entry::pkz_items_seed(file);
        if (!items.empty()) write(dir / "pkz_items" / name, items);
      }
    }
  }
  return 0;
}
