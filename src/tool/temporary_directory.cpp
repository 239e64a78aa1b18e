#include "tool/temporary_directory.hpp"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool make_in(const char* parent, std::string& path, signal_cleanup::Registration& registration) {
  if (parent == nullptr || parent[0] == '\0') return false;
  std::string pattern = parent;
  if (pattern.back() != '/') pattern += '/';
  pattern += "isocull-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  signal_cleanup::Making making;
  if (mkdtemp(buffer.data()) == nullptr) return false;
  path = buffer.data();
  registration = making.register_path(signal_cleanup::Kind::kFolder, path);
  return true;
}

}  // namespace

TemporaryDirectory::TemporaryDirectory() {
  if (make_in(std::getenv("TMPDIR"), path_, registration_) ||
      make_in("/tmp", path_, registration_)) {
    return;
  }
  std::fprintf(stderr, "ERROR: cannot create a temporary directory in '%s' or '/tmp'\n",
               std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "");
}

TemporaryDirectory::~TemporaryDirectory() {
  if (path_.empty()) return;
  // Only files are ever put here (the spill files of the rasters).
  if (DIR* dir = opendir(path_.c_str())) {
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : names)
      unlink((path_ + "/" + name).c_str());
  }
  rmdir(path_.c_str());
  registration_.forget();
}
