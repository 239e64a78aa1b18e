#include "stream/temporary_file.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>

namespace {

constexpr int kCreateFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
constexpr mode_t kOwnerOnly = 0600;

std::FILE* open_descriptor(int descriptor) {
  if (descriptor < 0) return nullptr;
  std::FILE* file = fdopen(descriptor, "w+b");
  if (file == nullptr) {
    const int error = errno;
    close(descriptor);
    errno = error;
  }
  return file;
}

// Renames `from` to `to` unless `to` exists, atomically where the file system can.
bool rename_without_replacing(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  // A hard link is never made over an existing name either.
  if (link(from, to) == 0) {
    unlink(from);
    return true;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS) return false;
  // A file system without links: the check and the rename are two steps there.
  struct stat info {};
  if (lstat(to, &info) == 0) {
    errno = EEXIST;
    return false;
  }
  return std::rename(from, to) == 0;
}

}  // namespace

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      name_(std::move(other.name_)),
      registration_(std::move(other.registration_)) {
  other.name_.clear();
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    remove();
    file_ = std::exchange(other.file_, nullptr);
    name_ = std::move(other.name_);
    other.name_.clear();
    registration_ = std::move(other.registration_);
  }
  return *this;
}

bool TemporaryFile::create(const std::string& path) {
  remove();
  signal_cleanup::Making making;
  file_ = open_descriptor(open(path.c_str(), kCreateFlags, kOwnerOnly));
  if (file_ == nullptr) return false;
  name_ = path;
  registration_ = making.register_path(signal_cleanup::Kind::kFile, name_);
  return true;
}

bool TemporaryFile::create_unique(const std::string& prefix) {
  remove();
  std::vector<char> pattern(prefix.begin(), prefix.end());
  for (char c : std::string("XXXXXX"))
    pattern.push_back(c);
  pattern.push_back('\0');
  signal_cleanup::Making making;
  // mkostemp creates with O_CREAT | O_EXCL and mode 0600.
  file_ = open_descriptor(mkostemp(pattern.data(), O_CLOEXEC));
  if (file_ == nullptr) return false;
  name_ = pattern.data();
  registration_ = making.register_path(signal_cleanup::Kind::kFile, name_);
  return true;
}

bool TemporaryFile::commit(const std::string& path, mode_t mode, bool replace) {
  if (file_ == nullptr) {
    errno = EBADF;
    return false;
  }
  bool done =
      std::fflush(file_) == 0 && fsync(fileno(file_)) == 0 && fchmod(fileno(file_), mode) == 0;
  int error = errno;
  const bool closed = std::fclose(file_) == 0;
  if (done && !closed) error = errno;
  file_ = nullptr;
  done = done && closed;
  if (done) {
    done = replace ? std::rename(name_.c_str(), path.c_str()) == 0
                   : rename_without_replacing(name_.c_str(), path.c_str());
    if (!done) error = errno;
  }
  if (!done) {
    remove();
    errno = error;
    return false;
  }
  registration_.forget();
  name_.clear();
  return true;
}

void TemporaryFile::remove() {
  const int error = errno;
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (!name_.empty()) unlink(name_.c_str());
  name_.clear();
  registration_.forget();
  errno = error;
}

std::FILE* create_unnamed_file(const char* folder, const char* prefix) {
  if (folder == nullptr || folder[0] == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  std::string pattern = folder;
  if (pattern.back() != '/') pattern += '/';
  pattern += prefix;
  pattern += "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // Held while the file has its name, so that a handler never finds it and cannot miss it.
  const signal_cleanup::Making making;
  const int descriptor = mkostemp(name.data(), O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  unlink(name.data());
  return open_descriptor(descriptor);
}

mode_t default_file_mode() {
  // The umask can only be read by setting it, which would race with other threads creating
  // files; the kernel shows it here (Linux 4.7 and later).
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      const unsigned long mask = std::strtoul(line.c_str() + 6, nullptr, 8);
      return static_cast<mode_t>(0666 & ~mask);
    }
  }
  return 0644;
}
