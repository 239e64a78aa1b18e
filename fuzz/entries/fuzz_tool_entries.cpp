#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "entries/fuzz_entries.hpp"
#include "index/las_index.hpp"
#include "las/las_reader_las.hpp"
#include "layers/lay_file.hpp"
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

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The words of tool_claims: options that read, write and name files, and names of the files
// of its folder (several for one file), each with the file it reaches.
struct ClaimWord {
  const char* text;
  const char* file;  // the file of the folder a name reaches; null for an option
};
constexpr ClaimWord kClaimWords[] = {
    {"-i", nullptr},
    {"-o", nullptr},
    {"-report", nullptr},
    {"-neighbors", nullptr},
    {"-neighbors_lof", nullptr},
    {"-lof", nullptr},
    {"-buffered", nullptr},
    {"2", nullptr},
    {"-olay", nullptr},
    {"-ilay", nullptr},
    {"-opkz", nullptr},
    {"-olas", nullptr},
    {"-odix", nullptr},
    {"_1", nullptr},
    {"-odir", nullptr},
    {".", nullptr},
    {"-merged", nullptr},
    {"-oforce", nullptr},
    {"-unique", nullptr},
    {"-remove_noise", nullptr},
    {"-nil", nullptr},
    {"a.las", "a.las"},
    {"./a.las", "a.las"},
    {"sub/../a.las", "a.las"},
    {"link.las", "a.las"},
    {"b.pkz", "b.pkz"},
    {"./b.pkz", "b.pkz"},
    {"a.lax", "a.lax"},
    {"a.lay", "a.lay"},
    {"b.pkx", "b.pkx"},
    {"a_1.las", "a_1.las"},
    {"list.lof", "list.lof"},
    {"n.lof", "n.lof"},
    {"run.json", "run.json"},
};
constexpr std::size_t kClaimWordCount = std::size(kClaimWords);
// What the two lists of the folder name.
const std::map<std::string, std::vector<std::string>> kListed = {{"list.lof", {"a.las"}},
                                                                 {"n.lof", {"b.pkz"}}};

const ClaimWord& claim_word(std::uint8_t byte) {
  return kClaimWords[byte % kClaimWordCount];
}

// The files a command line makes the tool read, found as the reader factory finds its
// options (it parses before the writer factory and the tool): the inputs and neighbours
// listed after "-i" and "-neighbors" (up to the next entry beginning with "-"), the lists of
// "-lof" and "-neighbors_lof" and what they name, the spatial index beside each input and
// neighbour, and the layer file beside each input (which -olay may write).
void read_files(const std::vector<std::string>& args, std::set<std::string>& read,
                std::set<std::string>& layer_files) {
  const auto file_of = [](const std::string& text) -> const char* {
    for (const ClaimWord& word : kClaimWords) {
      if (text == word.text) return word.file;
    }
    return nullptr;
  };
  std::vector<std::string> points;  // inputs and neighbours
  for (std::size_t i = 1; i < args.size(); i++) {
    const std::string& option = args[i];
    if (option == "-i" || option == "-neighbors") {
      while (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
        if (const char* file = file_of(args[++i])) points.emplace_back(file);
      }
    } else if ((option == "-lof" || option == "-neighbors_lof") && i + 1 < args.size()) {
      const char* file = file_of(args[++i]);
      if (file == nullptr) continue;
      read.insert(file);
      const auto listed = kListed.find(file);
      if (listed != kListed.end())
        points.insert(points.end(), listed->second.begin(), listed->second.end());
    } else if (option == "-buffered") {
      i++;
    }
  }
  for (const std::string& file : points) {
    read.insert(file);
    read.insert(LASindex::file_name_for(file));
    layer_files.insert(lay_file_name(file, nullptr));
  }
}

}  // namespace

int tool_claims(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 24) return 0;
  const std::vector<std::uint8_t>& point_file = template_file(0);
  Scratch scratch;
  const std::string folder = scratch.path();
  const std::string tmpdir = folder + "/tmp";
  if (mkdir(tmpdir.c_str(), 0700) != 0 || mkdir((folder + "/sub").c_str(), 0700) != 0) {
    finding("cannot make the folders");
  }
  for (const char* name : {"a.las", "b.pkz"}) {
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(point_file.data()),
              static_cast<std::streamsize>(point_file.size()));
  }
  std::ofstream(folder + "/a.lax") << "an index that does not read";
  std::ofstream(folder + "/a.lay") << "a layer file of another program";
  std::ofstream(folder + "/b.pkx") << "an index that does not read";
  for (const auto& [list, names] : kListed) {
    std::ofstream out(folder + "/" + list);
    for (const std::string& name : names)
      out << name << "\n";
  }
  if (symlink("a.las", (folder + "/link.las").c_str()) != 0) finding("cannot make a link");
  std::map<std::string, std::string> before;
  for (const std::string& name : entries_of(folder)) {
    if (name != "tmp" && name != "sub" && name != "link.las")
      before[name] = file_text(folder + "/" + name);
  }

  std::vector<std::string> args = {"isocull"};
  for (std::size_t i = 0; i < size; i++)
    args.emplace_back(claim_word(data[i]).text);
  args.push_back("-quiet");
  std::set<std::string> read;
  std::set<std::string> layer_files;
  read_files(args, read, layer_files);
  const bool olay = std::find(args.begin(), args.end(), "-olay") != args.end();
  if (!olay) read.insert(layer_files.begin(), layer_files.end());
  run_tool_in(folder, tmpdir, args);
  for (const std::string& name : read) {
    const auto was = before.find(name);
    if (was == before.end()) continue;  // a file the run may make
    struct stat info {};
    if (lstat((folder + "/" + name).c_str(), &info) != 0)
      finding("a file the run read is gone:", name);
    if (file_text(folder + "/" + name) != was->second)
      finding("a file the run read changed:", name);
  }
  if (!entries_of(tmpdir).empty()) finding("a temporary file outlived the run");
  return 0;
}

std::vector<std::vector<std::uint8_t>> tool_claims_seeds() {
  const auto index_of = [](const char* text) {
    for (std::size_t i = 0; i < kClaimWordCount; i++) {
      if (std::strcmp(kClaimWords[i].text, text) == 0) return static_cast<std::uint8_t>(i);
    }
    finding("no such word:", text);
  };
  const std::vector<std::vector<const char*>> lines = {
      {"-i", "a.las", "-o", "a.lax"},
      {"-i", "a.las", "-ilay", "-o", "a.lay"},
      {"-i", "a.las", "-o", "b.pkz", "-report", "./a.las"},
      {"-i", "b.pkz", "-buffered", "2", "-neighbors", "a_1.las", "./b.pkz", "-odix", "_1"},
      {"-i", "a.las", "-buffered", "2", "-neighbors_lof", "n.lof", "-o", "./b.pkz"},
      {"-lof", "list.lof", "-o", "list.lof", "-report", "run.json"},
      {"-i", "a.las", "b.pkz", "-olay", "-oforce"},
      {"-i", "link.las", "-odir", ".", "-oforce", "-unique"},
  };
  std::vector<std::vector<std::uint8_t>> seeds;
  for (const auto& line : lines) {
    std::vector<std::uint8_t> seed;
    for (const char* text : line)
      seed.push_back(index_of(text));
    seeds.push_back(std::move(seed));
  }
  return seeds;
}

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
