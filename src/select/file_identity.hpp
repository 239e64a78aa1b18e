#pragma once

// Files told apart by what they are rather than by how they are named: "t1.pkz",
// "./t1.pkz", "/data/t1.pkz", a symbolic link to it and a hard link of it are one file.
//
// An existing file is known by its device and inode (links followed); every name, existing
// or not, also by its resolved path: the absolute path of its folder with links, "." and
// ".." resolved, and its own name, with a link (even one whose target does not exist yet)
// followed to where it points. So a name that does not exist yet still meets the same name
// written another way, and the file it becomes.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

struct FileIdentity {
  bool exists = false;   // the name reaches an existing file (links followed)
  bool regular = false;  // ... and it is a regular file
  dev_t device = 0;      // of an existing file
  ino_t inode = 0;
  std::string path;  // resolved as above; never empty
};

// Whether two identities are one file.
inline bool same_file(const FileIdentity& a, const FileIdentity& b) {
  if (a.exists && b.exists) return a.device == b.device && a.inode == b.inode;
  return a.path == b.path;
}

// Resolves names into identities. The resolved folders are kept, so that the thousands of
// names of one folder cost one resolution of it and a status call each (or two for a
// link). Not thread-safe: one per thread, or guarded by the caller.
class FileIdentifier {
 public:
  FileIdentity identify(std::string_view name);

 private:
  // The folder part resolved (an absolute path without a trailing "/", "/" for the root).
  const std::string& resolved_folder(const std::string& folder);
  std::unordered_map<std::string, std::string> folders_;
};

// A set of files told apart by identity, each with a number of the caller's (what the file
// is to it). Looking up or adding one file costs a hash lookup or two, whatever the size of
// the set: runs of many thousand files must not compare every name with every other.
class FileIdentityIndex {
 public:
  // The number of a member that `file` is (by device and inode, else by resolved path).
  std::optional<std::uint32_t> find(const FileIdentity& file) const;
  // Adds `file` with `value`, unless it is a member already (the first number stays).
  void insert(const FileIdentity& file, std::uint32_t value);
  // Forgets `file` if it is a member with `value`.
  void erase(const FileIdentity& file, std::uint32_t value);
  bool empty() const { return paths_.empty(); }

 private:
  struct InodeHash {
    std::size_t operator()(const std::pair<dev_t, ino_t>& key) const {
      return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(key.second) *
                                            0x9E3779B97F4A7C15u ^
                                        static_cast<std::uint64_t>(key.first));
    }
  };
  std::unordered_map<std::pair<dev_t, ino_t>, std::uint32_t, InodeHash> inodes_;
  std::unordered_map<std::string, std::uint32_t> paths_;
};
