#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The warnings a reader or writer gives per line or per point of one file, held to a few of
// each kind: a file of five million bad lines must not print five million warnings (nor
// twice, once per pass). The first kShownPerKind warnings of a kind are printed; `finish`,
// at the end of the file's points, prints once per kind how many more there were and mutes
// the warnings, so that a second pass over the same file repeats none of them.
//
// A kind is the warning's format text, told apart by its address: pass the same literal (or
// named constant) for every warning of one kind. Formats begin "WARNING: " and end "\n".
class RepeatedWarnings {
 public:
  static constexpr int kShownPerKind = 5;

  // Counts one warning of `kind` and tells whether to print it now (false once the kind was
  // printed kShownPerKind times, and while muted; muted warnings are not counted).
  bool allow(const char* kind);
  // Counts and, when allowed, prints `format` with its arguments on standard error.
  void warn(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Prints "WARNING: … and N more lines like it: <kind>" for every kind that passed its
  // limit, then mutes.
  void finish();
  bool muted() const { return muted_; }
  void mute(bool muted) { muted_ = muted; }
  // Counts back to zero and speaking again: a new file.
  void reset();

 private:
  struct Kind {
    const char* format;
    std::int64_t count;
  };
  std::vector<Kind> kinds_;  // one per warning text seen: a few
  bool muted_ = false;
};

// `text` as a warning may show it: bytes below 0x20 but tab, and 0x7F, become "\xNN", so that
// binary garbage and terminal escape sequences read from a file never reach the terminal;
// cut where the shown text would grow beyond `max_size` bytes.
std::string shown_text(std::string_view text, std::size_t max_size = 511);

// The kind named in the summary line: the format without "WARNING: " and its line end, every
// conversion ("%d", "%.*s", ...) shown as "…".
std::string kind_label(const char* format);
