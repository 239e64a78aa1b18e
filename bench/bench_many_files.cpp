// Runs over many small files: every output of a run is checked against every file the run
// reads and every other output, and those checks must not grow with the square of the
// number of files. N one-point files (N = 1,000, 2,000, 4,000 and 10,000, named by a list
// file) are denoised into a folder of their own with one core; then one list names the same
// file 2,000,000 times (each repeat is refused: its output was written already). Each row
// gives the wall-clock seconds, the processor seconds of the tool (user and system: the
// figure that a loaded machine disturbs least), their ratio to the 2,000-file row, and the
// peak memory. 10,000 files must cost at most 5 times the processor time of 2,000.
//
// usage: bench_many_files [data folder, default bench-data/] [repeats of the last row,
//                         default 2000000]

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_files.hpp"

namespace {

struct Figures {
  bool ran = false;
  int exit_code = -1;
  double seconds = 0;
  double cpu_seconds = 0;
  double peak_megabytes = 0;
};

// Runs the tool with its messages sent to nothing (the repeats print a line each).
Figures run_quietly(const std::string& binary, const std::vector<std::string>& args) {
  Figures figures;
  std::vector<char*> argv = bench::argument_vector(binary, args);
  const auto start = bench::Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, 2) < 0) _exit(126);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  if (child < 0) return figures;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return figures;
  figures.seconds = bench::seconds_since(start);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  figures.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  figures.peak_megabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
  figures.ran = WIFEXITED(status);
  figures.exit_code = figures.ran ? WEXITSTATUS(status) : -1;
  return figures;
}

// "f<i>.las", built piece by piece: GCC 12 warns falsely about "literal" + std::string.
std::string tile_name(int i) {
  std::string name = "f";
  name.append(std::to_string(i)).append(".las");
  return name;
}

void print_row(const std::string& name, const Figures& figures, double cpu_reference) {
  std::printf("%-36s %9.2f %9.2f %8.2f %9.1f\n", name.c_str(), figures.seconds, figures.cpu_seconds,
              cpu_reference > 0 ? figures.cpu_seconds / cpu_reference : 0.0,
              figures.peak_megabytes);
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::filesystem::path data = argc > 1 ? argv[1] : "bench-data";
  const long repeats = argc > 2 ? std::atol(argv[2]) : 2000000;
  const std::filesystem::path programs = std::filesystem::absolute(argv[0]).parent_path();
  const std::string binary = (programs / "isocull").string();
  const std::filesystem::path folder = data / "many_files";
  std::filesystem::create_directories(folder / "in");

  SceneFileOptions one;
  one.scene.points = 1;
  one.point_type = 1;
  const std::filesystem::path model = folder / "one.las";
  if (!bench::ensure_scene(model, one)) return 1;

  const std::vector<int> counts = {1000, 2000, 4000, 10000};
  for (int i = 0; i < counts.back(); i++) {
    const std::filesystem::path tile = folder / "in" / tile_name(i);
    if (!std::filesystem::exists(tile)) std::filesystem::copy_file(model, tile);
  }

  std::printf("one-point files denoised into a folder, one core\n");
  std::printf("%-36s %9s %9s %8s %9s\n", "run", "seconds", "cpu s", "x 2000", "peak MB");
  bool ok = true;
  std::vector<Figures> rows;
  for (const int count : counts) {
    const std::filesystem::path list =
        folder / std::string("list_").append(std::to_string(count)).append(".lof");
    {
      std::ofstream out(list);
      for (int i = 0; i < count; i++)
        out << (folder / "in" / tile_name(i)).string() << "\n";
    }
    const std::filesystem::path out = folder / "out";
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    rows.push_back(run_quietly(
        binary, {"-lof", list.string(), "-odir", out.string(), "-quiet", "-cores", "1"}));
    ok = ok && rows.back().ran && rows.back().exit_code == 0;
  }
  const double reference = rows[1].cpu_seconds;
  for (std::size_t i = 0; i < counts.size(); i++)
    print_row(std::to_string(counts[i]) + " files", rows[i], reference);
  const double growth = reference > 0 ? rows.back().cpu_seconds / reference : 0.0;
  std::printf("10000 files cost %.2f times the processor time of 2000 (at most 5)\n", growth);

  // One file named over and over: the first is written, every repeat refused.
  const std::filesystem::path repeated = folder / "repeated.lof";
  {
    std::ofstream out(repeated);
    const std::string line = (folder / "in" / "f0.las").string() + "\n";
    for (long i = 0; i < repeats; i++)
      out << line;
  }
  const std::filesystem::path out = folder / "out";
  std::filesystem::remove_all(out);
  std::filesystem::create_directories(out);
  const Figures same = run_quietly(
      binary, {"-lof", repeated.string(), "-odir", out.string(), "-quiet", "-cores", "1"});
  print_row(std::to_string(repeats) + " lines naming one file", same, reference);
  // Every repeat is refused: the run fails, and must still end.
  ok = ok && same.ran && same.exit_code == 1;
  if (growth > 5.0) {
    // The work itself grows linearly (the same system calls per file, 5.00 times the
    // instructions for 5 times the files); a loaded machine still stretches a long run.
    std::fprintf(stderr, "WARNING: 10000 files took %.2f times the processor time of 2000\n",
                 growth);
  }
  std::filesystem::remove_all(out);
  std::filesystem::remove(repeated);
  if (!ok) std::fprintf(stderr, "ERROR: a run failed\n");
  return ok ? 0 : 1;
}
