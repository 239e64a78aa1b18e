// Writes the project's own seed inputs of every fuzz target into <dir>/<target>/: small
// scenes of every point type, LAS and PKZ, written by the project's writer. With a second
// folder of real point files, those are added too (copied into the build's corpus, never
// into the project), the compressed ones also as inputs of the codec targets.
#include <algorithm>
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
    // The tool on the same file, with options that change from seed to seed.
    std::vector<std::uint8_t> run(2 + file.size());
    run[0] = static_cast<std::uint8_t>(i * 37);
    run[1] = compressed ? 1 : 0;
    std::copy(file.begin(), file.end(), run.begin() + 2);
    write(dir / "tool_run" / name, run);
    // The same file under a name that hides it, by name and through a FIFO kept on disk.
    std::vector<std::uint8_t> input(1 + file.size());
    input[0] = static_cast<std::uint8_t>(i % 2 == 0 ? 0x00 : 0x11);
    std::copy(file.begin(), file.end(), input.begin() + 1);
    write(dir / "input_bytes" / name, input);
  }
  int seed_index = 0;
  for (const std::vector<std::uint8_t>& seed : fuzz_entry::lax_file_seeds())
    write(dir / "lax_file" / ("index_" + std::to_string(seed_index++)), seed);
  seed_index = 0;
  for (const std::vector<std::uint8_t>& seed : fuzz_entry::coordinate_noise_seeds())
    write(dir / "coordinate_noise" / ("rows_" + std::to_string(seed_index++)), seed);
  write(dir / "lay_file" / "two_layers_type1", fuzz_entry::lay_file_seed(false));
  write(dir / "lay_file" / "two_layers_type6", fuzz_entry::lay_file_seed(true));
  seed_index = 0;
  for (const std::vector<std::uint8_t>& seed : fuzz_entry::tool_claims_seeds())
    write(dir / "tool_claims" / ("command_line_" + std::to_string(seed_index++)), seed);
  seed_index = 0;
  for (const std::vector<std::uint8_t>& seed : fuzz_entry::grid_cells_seeds())
    write(dir / "grid_cells" / ("cells_" + std::to_string(seed_index++)), seed);
  // Command lines: each argument ends with a zero byte.
  const char* const command_lines[] = {
      "-i\0in.las\0-o\0out.las\0",
      "-i\0in.las\0-odix\0_denoised\0-opkz\0-step\0002\0-isolated\0003\0",
      "-i\0*.las\0-olas\0-remove_noise\0-keep_class\0002\0003\0-v\0",
      "-i\0in.pkz\0-classify_as\0009\0-step_xy\0001.5\0-step_z\0000.5\0-ignore_class\0002\0",
      "-lof\0list.txt\0-flag_as_withheld\0-by_flightline\0-mem\0001000\0-quiet\0",
      "-i\0a.las\0-rescale\0000.01\0000.01\0000.01\0-reoffset\0000\0000\0000\0-o\0b.las\0",
      "-i\0a.las\0-inside\0000\0000\000100\000100\0-drop_z_below\0001\0-epsg\00032633\0",
      "-i\0a.las\0-translate_xyz\0001\0002\0003\0-scale_intensity\0002\0-otxt\0-oparse\0xyz\0",
      "-h\0",
      "-version\0",
  };
  int index = 0;
  for (const char* line : command_lines) {
    std::vector<std::uint8_t> bytes;
    // The literal's zero bytes are separators: copy up to the double zero at its end.
    for (const char* c = line;; c++) {
      bytes.push_back(static_cast<std::uint8_t>(*c));
      if (*c == 0 && c[1] == 0) break;
    }
    write(dir / "tool_args" / ("command_line_" + std::to_string(index++)), bytes);
  }
  if (argc == 3 && std::filesystem::is_directory(argv[2])) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[2])) {
      const std::string extension = entry.path().extension().string();
      // The other formats go to their target behind the byte that picks their reader.
      const int format_reader = extension == ".bin"   ? 0
                                : extension == ".qi"  ? 1
                                : extension == ".shp" ? 2
                                                      : -1;
      if (format_reader >= 0) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<std::uint8_t> input{static_cast<std::uint8_t>(format_reader)};
        input.insert(input.end(), std::istreambuf_iterator<char>(in), {});
        write(dir / "point_formats" / ("real_" + entry.path().filename().string()), input);
        // Under ".dat", where only its bytes tell what it is.
        input[0] = 0;
        write(dir / "input_bytes" / ("real_" + entry.path().filename().string()), input);
        continue;
      }
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
