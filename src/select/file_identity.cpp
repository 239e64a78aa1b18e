#include "select/file_identity.hpp"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

// Links followed before a name is taken as it stands (the kernel's own limit is 40).
constexpr int kMaxLinkHops = 40;

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }
};

// The target of the link `name`, joined to the link's folder when it is relative; empty
// when it cannot be read.
std::string link_target(const std::string& name) {
  std::vector<char> target(PATH_MAX);
  const ssize_t length = readlink(name.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return {};
  std::string text(target.data(), static_cast<std::size_t>(length));
  if (text.front() == '/') return text;
  const std::size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? text : name.substr(0, slash + 1) + text;
}

// "." and ".." removed from an absolute path, as text (for folders that do not exist).
std::string lexically_normal(const std::string& absolute) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at < absolute.size()) {
    std::size_t end = absolute.find('/', at);
    if (end == std::string::npos) end = absolute.size();
    const std::string part = absolute.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string normal;
  for (const std::string& part : parts)
    normal += "/" + part;
  return normal.empty() ? "/" : normal;
}

}  // namespace

const std::string& FileIdentifier::resolved_folder(const std::string& folder) {
  const auto known = folders_.find(folder);
  if (known != folders_.end()) return known->second;
  std::string resolved;
  if (const std::unique_ptr<char, FreeDeleter> real{realpath(folder.c_str(), nullptr)}) {
    resolved = real.get();
  } else {
    // A folder that does not exist (yet): its name made absolute, as text.
    std::string absolute = folder;
    if (absolute.empty() || absolute.front() != '/') {
      std::vector<char> cwd(PATH_MAX);
      const std::string here = getcwd(cwd.data(), cwd.size()) ? cwd.data() : "";
      absolute = here + "/" + folder;
    }
    resolved = lexically_normal(absolute);
  }
  if (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
  return folders_.emplace(folder, std::move(resolved)).first->second;
}

FileIdentity FileIdentifier::identify(std::string_view name_view) {
  FileIdentity identity;
  std::string name(name_view);
  struct stat info {};
  // One status call for a name that is no link (most are); a link is followed twice: by
  // the kernel to the file's identity, and here to the name it ends at, existing or not.
  bool found = !name.empty() && lstat(name.c_str(), &info) == 0;
  if (found && S_ISLNK(info.st_mode)) {
    found = stat(name.c_str(), &info) == 0;
    for (int hop = 0; hop < kMaxLinkHops; hop++) {
      struct stat link {};
      if (lstat(name.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) break;
      std::string target = link_target(name);
      if (target.empty()) break;
      name = std::move(target);
    }
  }
  if (found) {
    identity.exists = true;
    identity.regular = S_ISREG(info.st_mode);
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
  }
  const std::size_t slash = name.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : name.substr(0, slash);
  const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") {
    // A folder named as a file: the folder itself.
    identity.path = resolved_folder(base.empty() ? folder : name);
    return identity;
  }
  const std::string& resolved = resolved_folder(folder);
  identity.path = resolved == "/" ? "/" + base : resolved + "/" + base;
  return identity;
}

std::optional<std::uint32_t> FileIdentityIndex::find(const FileIdentity& file) const {
  if (file.exists) {
    const auto by_inode = inodes_.find({file.device, file.inode});
    if (by_inode != inodes_.end()) return by_inode->second;
  }
  const auto by_path = paths_.find(file.path);
  if (by_path != paths_.end()) return by_path->second;
  return std::nullopt;
}

void FileIdentityIndex::insert(const FileIdentity& file, std::uint32_t value) {
  if (file.exists) inodes_.emplace(std::make_pair(file.device, file.inode), value);
  paths_.emplace(file.path, value);
}

void FileIdentityIndex::erase(const FileIdentity& file, std::uint32_t value) {
  if (file.exists) {
    const auto by_inode = inodes_.find({file.device, file.inode});
    if (by_inode != inodes_.end() && by_inode->second == value) inodes_.erase(by_inode);
  }
  const auto by_path = paths_.find(file.path);
  if (by_path != paths_.end() && by_path->second == value) paths_.erase(by_path);
}
