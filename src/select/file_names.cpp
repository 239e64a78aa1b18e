#include "select/file_names.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "select/command_options.hpp"

bool LASfileList::add(LASfileEntry entry, bool unique) {
  try {
    if (unique && !names_kept_) {
      for (const LASfileEntry& listed : entries_)
        names_.insert(listed.name);
      names_kept_ = true;
    }
    if (unique && names_.count(entry.name) != 0) return false;
    if (entries_.size() == entries_.capacity()) {
      entries_.reserve(entries_.empty() ? 16 : entries_.capacity() * 2);
    }
    if (names_kept_) names_.insert(entry.name);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "ERROR: alloc for %s pointer array failed at %d\n", what_,
                 static_cast<int>(entries_.capacity() * 2));
    return false;
  }
  has_IDs_ = has_IDs_ || entry.ID.has_value();
  has_bounds_ = has_bounds_ || entry.bounds.has_value();
  entries_.push_back(std::move(entry));
  return true;
}

bool LASfileList::contains(std::string_view name) const {
  if (names_kept_) return names_.count(std::string(name)) != 0;
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const LASfileEntry& entry) { return entry.name == name; });
}

namespace file_names {

namespace {

bool is_separator(char c) {
  return c == '/' || c == '\\' || c == ':';
}

bool is_directory_separator(char c) {
  return c == '/' || c == '\\';
}

bool is_directory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A closing guard for the directory handle.
struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

std::size_t last_separator(std::string_view name) {
  for (std::size_t i = name.size(); i > 0; i--) {
    if (is_separator(name[i - 1])) return i - 1;
  }
  return kNone;
}

std::size_t base_start(std::string_view name) {
  const std::size_t separator = last_separator(name);
  return separator == kNone ? 0 : separator + 1;
}

std::size_t extension_dot(std::string_view name) {
  const std::size_t base = base_start(name);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot <= base) return kNone;
  return dot;
}

bool has_wildcard(std::string_view pattern) {
  std::size_t start = 0;
  for (std::size_t i = pattern.size(); i > 0; i--) {
    if (is_directory_separator(pattern[i - 1])) {
      start = i;
      break;
    }
  }
  return pattern.find_first_of("*?", start) != std::string_view::npos;
}

bool wildcard_match(std::string_view pattern, std::string_view name) {
  // Greedy matching that backtracks only to the last "*": linear in practice, and never
  // exponential however many stars a pattern holds.
  std::size_t p = 0, n = 0;
  std::size_t star = kNone, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      p++;
      n++;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (star != kNone) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    p++;
  return p == pattern.size();
}

std::vector<std::string> expand_wildcard(std::string_view pattern) {
  std::size_t split = kNone;
  for (std::size_t i = pattern.size(); i > 0; i--) {
    if (is_directory_separator(pattern[i - 1])) {
      split = i - 1;
      break;
    }
  }
  std::string prefix;     // what the matched names begin with
  std::string directory;  // what is listed
  if (split == kNone) {
    directory = ".";
  } else {
    prefix.assign(pattern.substr(0, split + 1));
    std::replace(prefix.begin(), prefix.end(), '\\', '/');
    directory = split == 0 ? std::string("/") : prefix.substr(0, prefix.size() - 1);
  }
  const std::string_view last = split == kNone ? pattern : pattern.substr(split + 1);
  const bool match_hidden = !last.empty() && last[0] == '.';

  std::vector<std::string> names;
  std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (name[0] == '.' && !match_hidden) continue;
    if (!wildcard_match(last, name)) continue;
    std::string full = prefix;
    full.append(name);
    if (is_directory(full)) continue;
    names.push_back(std::move(full));
  }
  std::sort(names.begin(), names.end());
  return names;
}

ListLine parse_list_line(std::string_view line_view) {
  // The numbers are read from a NUL-terminated copy, as the C conversions expect.
  const std::string line(line_view);
  const char* text = line.c_str();
  ListLine result;

  auto after_comma = [](const char* at) -> const char* { return *at == ',' ? at + 1 : nullptr; };
  auto name_after = [](const char* at) {
    while (*at == ' ' || *at == '\t')
      at++;
    return std::string(at);
  };

  // The identifier ends where its digits end; it must be followed by a comma.
  std::uint32_t ID = 0;
  if (!command_options::read_unsigned(text, ID)) {
    result.name = line;
    return result;
  }
  const char* at = text;
  while (std::isspace(static_cast<unsigned char>(*at)))
    at++;
  if (*at == '+' || *at == '-') at++;
  while (*at >= '0' && *at <= '9')
    at++;
  const char* rest = after_comma(at);
  if (rest == nullptr) {
    result.name = line;
    return result;
  }

  // Form 1: count and box, each followed by a comma, then the name.
  {
    LASfileBounds bounds;
    const char* cursor = rest;
    const char* end = nullptr;
    bool fits = command_options::read_int64(cursor, bounds.number_of_points, &end) &&
                (cursor = after_comma(end)) != nullptr;
    double* const box[4] = {&bounds.min_x, &bounds.min_y, &bounds.max_x, &bounds.max_y};
    for (double* value : box) {
      if (!fits) break;
      fits = command_options::read_double(cursor, *value, &end) &&
             (cursor = after_comma(end)) != nullptr;
    }
    if (fits) {
      std::string name = name_after(cursor);
      if (!name.empty()) {
        result.form = ListLine::kIdentifierCountBounds;
        result.ID = ID;
        result.bounds = bounds;
        result.name = std::move(name);
        return result;
      }
    }
  }

  // Form 2: a name follows the identifier's comma.
  std::string name = name_after(rest);
  if (!name.empty()) {
    result.form = ListLine::kIdentifierName;
    result.ID = ID;
    result.name = std::move(name);
    return result;
  }
  result.name = line;
  return result;
}

bool read_list_file(const char* file_name, const std::function<void(const ListLine&)>& take) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
      file_name ? std::fopen(file_name, "r") : nullptr, &std::fclose);
  if (!file) {
    std::fprintf(stderr, "ERROR: cannot open '%s'\n", file_name ? file_name : "(null)");
    return false;
  }
  std::string line;
  line.reserve(kMaxListLine);
  unsigned line_number = 0;
  bool end_of_file = false;
  while (!end_of_file) {
    line.clear();
    bool too_long = false;
    int c = 0;
    std::size_t length = 0;
    while ((c = std::getc(file.get())) != EOF && c != '\n') {
      // No text file of names holds a NUL byte or a line beyond the path limit: reading on
      // (a device such as /dev/zero, a point file given by mistake) could last forever.
      if (c == '\0') {
        std::fprintf(stderr, "ERROR: line %u of '%s' holds a NUL byte. not a list of file names.\n",
                     line_number + 1, file_name);
        return false;
      }
      if (++length > static_cast<std::size_t>(PATH_MAX)) {
        std::fprintf(stderr,
                     "ERROR: line %u of '%s' is longer than %d characters. not a list of file "
                     "names.\n",
                     line_number + 1, file_name, static_cast<int>(PATH_MAX));
        return false;
      }
      if (line.size() < kMaxListLine) {
        line.push_back(static_cast<char>(c));
      } else {
        too_long = true;
      }
    }
    end_of_file = (c == EOF);
    line_number++;
    if (too_long) {
      std::fprintf(stderr,
                   "WARNING: line %u of '%s' is longer than %d characters. skipping it ...\n",
                   line_number, file_name, static_cast<int>(kMaxListLine));
      continue;
    }
    while (line.size() > 1 && std::strchr(" \t\r\n", line.back()) != nullptr)
      line.pop_back();
    if (line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    take(parse_list_line(line));
  }
  return true;
}

}  // namespace file_names
