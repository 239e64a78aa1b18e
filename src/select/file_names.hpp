#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// File names as the factories handle them: the list of inputs with what list files tell
// about each, wildcard expansion, list-file lines, and the split of a name into directory,
// base name and extension.
//
// Names may come from Windows command lines and list files: "\\" and ":" end a directory
// part as "/" does. Names the system builds itself use "/".

// What a list file may say about one input beside its name.
struct LASfileBounds {
  std::int64_t number_of_points = 0;
  double min_x = 0.0;
  double min_y = 0.0;
  double max_x = 0.0;
  double max_y = 0.0;
};

struct LASfileEntry {
  std::string name;
  std::optional<std::uint32_t> ID;      // from list-file lines with an identifier
  std::optional<LASfileBounds> bounds;  // from list-file lines with a point count and box
};

// An ordered list of input names. Owns its names.
class LASfileList {
 public:
  // Appends the entry. With `unique`, a name already in the list (exact compare, hashed:
  // a list of millions of lines is not compared line by line) is skipped silently and
  // false returned. An allocation failure prints
  // "ERROR: alloc for <what> pointer array failed at %d\n" (the capacity asked for, `what`
  // being "file_names" or "neighbor_file_names") and drops the name.
  bool add(LASfileEntry entry, bool unique = false);
  bool contains(std::string_view name) const;

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const LASfileEntry& operator[](std::size_t index) const { return entries_[index]; }
  // True once any entry carries an identifier (resp. bounds).
  bool has_IDs() const { return has_IDs_; }
  bool has_bounds() const { return has_bounds_; }

  explicit LASfileList(const char* what = "file_names") : what_(what) {}

 private:
  std::vector<LASfileEntry> entries_;
  // The names, kept once `unique` was first asked for (most lists never need them).
  std::unordered_set<std::string> names_;
  bool names_kept_ = false;
  const char* what_;
  bool has_IDs_ = false;
  bool has_bounds_ = false;
};

namespace file_names {

inline constexpr std::size_t kNone = std::string_view::npos;

// Position of the last "/", "\\" or ":"; kNone when there is none.
std::size_t last_separator(std::string_view name);
// Position where the base name starts (after the last separator; 0 without one).
std::size_t base_start(std::string_view name);
// Position of the "." that starts the extension: the last "." of the base name that is not
// its first character; kNone when there is none.
std::size_t extension_dot(std::string_view name);

// True when the last path component holds "*" or "?".
bool has_wildcard(std::string_view pattern);
// Whether `name` matches `pattern`, where "*" stands for any run of bytes and "?" for one.
bool wildcard_match(std::string_view pattern, std::string_view name);
// The files that match a pattern whose last path component holds the wildcards, sorted by
// name so that runs are reproducible. The directory part is taken literally; "/" and "\\"
// both end it and the names come back with "/" (a drive prefix such as "C:" has no meaning
// here, so ":" is part of the name). Directories and, unless the pattern begins with ".",
// hidden entries do not match. An unreadable directory matches nothing.
std::vector<std::string> expand_wildcard(std::string_view pattern);

// One line of a list file, in the first form that fits:
//   kIdentifierCountBounds  "%u,%I64d,%lf,%lf,%lf,%lf,name"
//   kIdentifierName         "%u,name"
//   kName                   anything else: a name or wildcard
// Blanks and tabs in front of the name that follows a comma are skipped.
struct ListLine {
  enum Form { kIdentifierCountBounds, kIdentifierName, kName };
  Form form = kName;
  std::uint32_t ID = 0;
  LASfileBounds bounds;
  std::string name;
};
ListLine parse_list_line(std::string_view line);

// The longest list-file line taken; longer lines are skipped with a warning instead of
// being cut into several names.
inline constexpr std::size_t kMaxListLine = 2047;

// Reads a list file line by line: a line ends at "\n", is cut at its first NUL byte, loses
// trailing blanks, tabs, "\r" and "\n", and is skipped when nothing else is left. Each
// remaining line goes to `take`. False after "ERROR: cannot open '%s'\n" when the file
// cannot be opened.
bool read_list_file(const char* file_name, const std::function<void(const ListLine&)>& take);

}  // namespace file_names
