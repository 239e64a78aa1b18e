#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "entries/fuzz_entries.hpp"
#include "las/las_reader_las.hpp"
#include "tool/noise_tool.hpp"

namespace fuzz_entry {
namespace {

[[noreturn]] void finding(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "FUZZ FINDING: %s %s\n", what, detail.c_str());
  std::abort();
}

std::vector<std::string> entries_of(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* handle = opendir(dir.c_str())) {
    while (dirent* entry = readdir(handle)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(handle);
  }
  return names;
}

void remove_tree(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    for (const std::string& name : entries_of(path))
      remove_tree(path + "/" + name);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

// A fresh scratch folder for one run; removed with everything in it.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/isocull_fuzz_XXXXXX";
    if (const char* made = mkdtemp(pattern)) path_ = made;
    if (path_.empty()) finding("no scratch folder");
  }
  ~Scratch() { remove_tree(path_); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs the tool in `dir` (the working directory is restored afterwards) with TMPDIR at
// `tmpdir`.
int run_tool_in(const std::string& dir, const std::string& tmpdir, std::vector<std::string> args) {
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) finding("no working directory");
  const char* old_tmpdir = std::getenv("TMPDIR");
  const std::string saved_tmpdir = old_tmpdir ? old_tmpdir : "";
  if (chdir(dir.c_str()) != 0) finding("cannot enter the scratch folder");
  setenv("TMPDIR", tmpdir.c_str(), 1);
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int code = run_isocull(static_cast<int>(args.size()), argv.data());
  if (old_tmpdir) {
    setenv("TMPDIR", saved_tmpdir.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  if (chdir(cwd) != 0) finding("cannot return to the working directory");
  return code;
}

// Reads a file the tool wrote: it must open and deliver exactly the points its header
// announces, without a message.
void check_output(const std::string& path) {
  LASreaderLAS reader;
  if (!reader.open_file(path.c_str())) finding("an output of a successful run does not open");
  std::int64_t count = 0;
  while (reader.read_next())
    count++;
  if (count != reader.points_total) {
    finding("an output of a successful run holds other points than its header says",
            std::to_string(count) + " of " + std::to_string(reader.points_total));
  }
}

}  // namespace

int tool_args(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = {"isocull"};
  std::string current;
  for (std::size_t i = 0; i < size && args.size() < 64; i++) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else if (current.size() < 256) {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty() && args.size() < 64) args.push_back(current);
  // Without arguments the tool asks on standard input.
  if (args.size() < 2) return 0;
  for (const std::string& arg : args) {
    if (arg.find('/') != std::string::npos) return 0;
  }
  Scratch scratch;
  run_tool_in(scratch.path(), scratch.path(), args);
  const std::vector<std::string> left = entries_of(scratch.path());
  if (!left.empty()) finding("a run without any input left a file behind:", left.front());
  return 0;
}

int tool_run(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t choice = data[0];
  const bool pkz_input = (data[1] & 1) != 0;
  Scratch scratch;
  const std::string input = scratch.path() + (pkz_input ? "/in.pkz" : "/in.las");
  const bool pkz_output = (choice & 0x08) != 0;
  const std::string output = scratch.path() + (pkz_output ? "/out.pkz" : "/out.las");
  const std::string tmpdir = scratch.path() + "/tmp";
  if (mkdir(tmpdir.c_str(), 0700) != 0) finding("cannot make the spill folder");
  {
    std::ofstream out(input, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data + 2), static_cast<std::streamsize>(size - 2));
  }

  std::vector<std::string> args = {"isocull", "-i", input, "-o", output};
  switch (choice & 0x03) {
    case 0:
      break;
    case 1:
      args.insert(args.end(), {"-classify_as", "18"});
      break;
    case 2:
      args.push_back("-flag_as_withheld");
      break;
    case 3:
      args.push_back("-remove_noise");
      break;
  }
  if (choice & 0x04) args.insert(args.end(), {"-step", "0.5"});
  if (choice & 0x10) args.insert(args.end(), {"-isolated", "1"});
  if (choice & 0x20) args.push_back("-by_flightline");
  if (choice & 0x40) args.insert(args.end(), {"-ignore_class", "2"});
  if (choice & 0x80) args.push_back("-dont_remove_empty_files");
  args.push_back("-quiet");

  const int code = run_tool_in(scratch.path(), tmpdir, args);
  struct stat info {};
  const bool written = stat(output.c_str(), &info) == 0;
  if (code == 0) {
    // A successful run in remove mode may delete an output that kept no point.
    if (written) check_output(output);
  } else if (written) {
    finding("a failed run left its output behind");
  }
  const std::vector<std::string> spill = entries_of(tmpdir);
  if (!spill.empty()) finding("a temporary file outlived the run:", spill.front());
  for (const std::string& name : entries_of(scratch.path())) {
    if (name != "tmp" && scratch.path() + "/" + name != input &&
        scratch.path() + "/" + name != output) {
      finding("the run wrote an unexpected file:", name);
    }
  }
  return 0;
}

}  // namespace fuzz_entry
