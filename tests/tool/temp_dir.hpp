#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

// The names in a folder, without "." and "..".
inline std::vector<std::string> folder_entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

// Removes a file, or a folder with everything below it; symbolic links are not followed.
inline void remove_tree(const std::string& at) {
  struct stat info {};
  if (lstat(at.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    for (const std::string& name : folder_entries(at))
      remove_tree(at + "/" + name);
    rmdir(at.c_str());
  } else {
    unlink(at.c_str());
  }
}

// A private directory for the temporary files of one test, so that tests running in
// parallel never see each other's files. The destructor removes what is left and the
// directory.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/isocull_test_XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~TempDir() {
    for (const std::string& name : files())
      unlink((path_ + "/" + name).c_str());
    rmdir(path_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  // Prefix for temporary file names inside the directory.
  std::string base() const { return path_ + "/spill"; }

  std::vector<std::string> files() const { return folder_entries(path_); }

 private:
  std::string path_;
};

// Runs in `dir` while alive; for the default temporary names, which have no directory.
class ChangeDir {
 public:
  explicit ChangeDir(const std::string& dir) {
    char buffer[4096];
    if (getcwd(buffer, sizeof(buffer))) old_ = buffer;
    ok_ = chdir(dir.c_str()) == 0;
  }
  ~ChangeDir() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) old_.clear();
  }
  bool ok() const { return ok_; }

 private:
  std::string old_;
  bool ok_ = false;
};
