// STAND-IN until the reader and writer factories land; see their headers.

#include <glob.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "las/las_reader_las.hpp"
#include "las/las_writer_las.hpp"
#include "select/las_reader_factory.hpp"
#include "select/las_writer_factory.hpp"

bool LASreaderFactory::add_file_name(const char* name, bool unique) {
  std::vector<std::string> matches;
  if (std::strpbrk(name, "*?") != nullptr) {
    glob_t found{};
    if (glob(name, 0, nullptr, &found) == 0) {
      for (std::size_t i = 0; i < found.gl_pathc; i++)
        matches.emplace_back(found.gl_pathv[i]);
    }
    globfree(&found);
  } else {
    matches.emplace_back(name);
  }
  for (const std::string& match : matches) {
    bool duplicate = false;
    if (unique) {
      for (const std::string& known : file_names_)
        duplicate = duplicate || known == match;
    }
    if (!duplicate) file_names_.push_back(match);
  }
  return !matches.empty();
}

bool LASreaderFactory::parse(int argc, char* argv[], bool parse_ignore) {
  for (int i = 1; i < argc; i++) {
    char* entry = argv[i];
    if (entry[0] == '\0') continue;
    if (std::strcmp(entry, "-h") == 0) return true;
    if (std::strcmp(entry, "-i") == 0) {
      if (i + 1 >= argc || argv[i + 1][0] == '-' || argv[i + 1][0] == '\0') {
        std::fprintf(stderr, "ERROR: '%s' needs at least 1 argument: file_name or wild_card\n",
                     entry);
        return false;
      }
      entry[0] = '\0';
      while (i + 1 < argc && argv[i + 1][0] != '-' && argv[i + 1][0] != '\0') {
        add_file_name(argv[i + 1], false);
        argv[++i][0] = '\0';
      }
    } else if (std::strcmp(entry, "-lof") == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ERROR: '%s' needs 1 argument: list_of_files\n", entry);
        return false;
      }
      std::ifstream list(argv[i + 1]);
      if (!list) {
        std::fprintf(stderr, "ERROR: cannot load list of files '%s'\n", argv[i + 1]);
        return false;
      }
      std::string line;
      while (std::getline(list, line)) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
          line.pop_back();
        if (!line.empty()) add_file_name(line.c_str(), false);
      }
      entry[0] = '\0';
      argv[++i][0] = '\0';
    } else if (std::strncmp(entry, "-ignore_", 8) == 0) {
      if (!parse_ignore) {
        std::fprintf(stderr, "ERROR: this tool does not process '-ignore_xxxx' options\n");
        return false;
      }
      if (!ignore_) ignore_ = std::make_unique<LASignore>();
      if (!ignore_->parse(i, argc, argv)) {
        ignore_.reset();
        return false;
      }
    } else if (std::strcmp(entry, "-stdin") == 0) {
      from_stdin_ = true;
      entry[0] = '\0';
    } else if (std::strcmp(entry, "-inside") == 0) {
      if (i + 4 >= argc) {
        std::fprintf(stderr, "ERROR: '%s' needs 4 arguments: min_x min_y max_x max_y\n", entry);
        return false;
      }
      for (int k = 0; k < 4; k++) {
        rectangle_[k] = std::atof(argv[i + 1 + k]);
        argv[i + 1 + k][0] = '\0';
      }
      entry[0] = '\0';
      i += 4;
      has_rectangle_ = true;
    }
  }
  return true;
}

const char* LASreaderFactory::get_file_name() const {
  if (!file_name_.empty()) return file_name_.c_str();
  return file_names_.empty() ? nullptr : file_names_[0].c_str();
}

std::unique_ptr<LASreader> LASreaderFactory::open(const char* file_name, bool reset) {
  if (file_name == nullptr) {
    if (next_file_index_ >= file_names_.size()) return nullptr;
    file_name_ = file_names_[next_file_index_++];
  } else {
    file_name_ = file_name;
    if (reset) next_file_index_ = 0;
  }
  auto reader = std::make_unique<LASreaderLAS>();
  if (!reader->open_file(file_name_.c_str())) {
    std::fprintf(stderr, "ERROR: cannot open lasreaderlas with file name '%s'\n",
                 file_name_.c_str());
    return nullptr;
  }
  reader->set_ignore(ignore_.get());
  if (has_rectangle_) {
    reader->inside_rectangle(rectangle_[0], rectangle_[1], rectangle_[2], rectangle_[3]);
  }
  return reader;
}

bool LASreaderFactory::reopen(LASreader& reader, bool) {
  auto& las = static_cast<LASreaderLAS&>(reader);
  las.close_reader(true);
  if (!las.open_file(file_name_.c_str())) {
    std::fprintf(stderr, "ERROR: cannot reopen lasreaderlas with file name '%s'\n",
                 file_name_.c_str());
    return false;
  }
  if (has_rectangle_) {
    las.clear_area();
    las.inside_rectangle(rectangle_[0], rectangle_[1], rectangle_[2], rectangle_[3]);
  }
  return true;
}

namespace {

std::size_t extension_dot(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\:");
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot < slash)) {
    return std::string::npos;
  }
  return dot;
}

}  // namespace

bool LASwriterFactory::parse(int argc, char* argv[]) {
  for (int i = 1; i < argc; i++) {
    char* entry = argv[i];
    if (entry[0] == '\0') continue;
    if (std::strcmp(entry, "-h") == 0) return true;
    auto argument = [&](const char* message) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, message, entry);
        return nullptr;
      }
      return argv[i + 1];
    };
    if (std::strcmp(entry, "-o") == 0) {
      const char* name = argument("ERROR: '%s' needs 1 argument: file_name\n");
      if (name == nullptr) return false;
      set_file_name(name);
    } else if (std::strcmp(entry, "-odir") == 0) {
      const char* dir = argument("ERROR: '%s' needs 1 argument: directory\n");
      if (dir == nullptr) return false;
      struct stat info {};
      if (stat(dir, &info) != 0 || !S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "ERROR: '%s' is not a valid directory\n", dir);
        return false;
      }
      directory_ = dir;
      if (!directory_.empty() && directory_.back() == '/') directory_.pop_back();
    } else if (std::strcmp(entry, "-odix") == 0) {
      const char* appendix = argument("ERROR: '%s' needs 1 argument: appendix\n");
      if (appendix == nullptr) return false;
      appendix_ = appendix;
    } else if (std::strcmp(entry, "-olas") == 0) {
      compressed_ = false;
      entry[0] = '\0';
      continue;
    } else if (std::strcmp(entry, "-opkz") == 0) {
      compressed_ = true;
      entry[0] = '\0';
      continue;
    } else if (std::strcmp(entry, "-oforce") == 0) {
      force_ = true;
      entry[0] = '\0';
      continue;
    } else if (std::strcmp(entry, "-stdout") == 0) {
      to_stdout_ = true;
      entry[0] = '\0';
      continue;
    } else if (std::strcmp(entry, "-nil") == 0) {
      to_nil_ = true;
      to_stdout_ = false;
      entry[0] = '\0';
      continue;
    } else {
      continue;
    }
    entry[0] = '\0';
    argv[++i][0] = '\0';
  }
  return true;
}

void LASwriterFactory::set_file_name(const char* file_name) {
  file_name_ = file_name ? file_name : "";
  if (file_name_.empty()) return;
  const std::size_t dot = extension_dot(file_name_);
  if (dot == std::string::npos) {
    file_name_ += compressed_ ? ".pkz" : ".las";
  } else if (file_name_.find("pkz", dot) != std::string::npos) {
    compressed_ = true;
  }
}

void LASwriterFactory::derive_file_name(const char* input_name, int) {
  std::string name = input_name ? input_name : "output";
  std::size_t dot = extension_dot(name);
  if (dot == std::string::npos) dot = name.size();
  name.resize(dot);
  if (!appendix_.empty()) {
    name += appendix_;
  } else if (directory_.empty()) {
    name += "_1";
  }
  name += compressed_ ? ".pkz" : ".las";
  if (!directory_.empty()) {
    const std::size_t slash = name.find_last_of("/\\:");
    name = directory_ + "/" + (slash == std::string::npos ? name : name.substr(slash + 1));
  }
  if (input_name != nullptr && name == input_name && !force_) {
    name = compressed_ ? "temp.pkz" : "temp.las";
  }
  file_name_ = name;
}

std::unique_ptr<LASwriter> LASwriterFactory::open(const LASheader& header) {
  auto writer = std::make_unique<LASwriterLAS>();
  if (to_nil_) {
    if (!writer->open_nil(&header, compressed_ ? 2 : 0, 2, 50000)) {
      std::fprintf(stderr, "ERROR: cannot open laswriterlas to NULL\n");
      return nullptr;
    }
    return writer;
  }
  if (!file_name_.empty()) {
    if (!writer->open_file(file_name_.c_str(), &header, compressed_ ? 2 : 0, 2, 50000)) {
      std::fprintf(stderr, "ERROR: cannot open laswriterlas with file name '%s'\n",
                   file_name_.c_str());
      return nullptr;
    }
    return writer;
  }
  if (to_stdout_) {
    if (!writer->open_handle(stdout, &header, compressed_ ? 2 : 0, 2, 50000)) {
      std::fprintf(stderr, "ERROR: cannot open laswriterlas to stdout\n");
      return nullptr;
    }
    return writer;
  }
  std::fprintf(stderr, "ERROR: no laswriter output specified\n");
  return nullptr;
}
