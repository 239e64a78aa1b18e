#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filter/las_criterion.hpp"
#include "las/las_reader_hooks.hpp"
#include "options/command_options.hpp"

// The point filter: an ordered list of criteria built from "-keep_...", "-drop_...",
// "-thin_..." and "-filter_and"/"-filter_or" options. A point is dropped by the first
// criterion that drops it (which counts it); a point no criterion drops passes, so every
// keep condition must hold and any drop condition removes the point.
//
// The filter owns its criteria. It is lent to readers (LASfilterHook), which skip every
// point it drops; the owner calls `reset` before every pass over an input so that stateful
// criteria (thinning, random fraction, scan direction change) start afresh. The drop
// counters are not reset and count over the filter's life. Not safe for concurrent use.
class LASfilter : public LASfilterHook {
 public:
  LASfilter();
  ~LASfilter() override;
  LASfilter(const LASfilter&) = delete;
  LASfilter& operator=(const LASfilter&) = delete;

  // Prints the filter options, grouped by family, to stderr.
  static void usage();
  // The same options by family, for the help of -h filter and the manual page.
  static std::vector<command_options::OptionSection> option_sections();

  // Deletes every criterion: the filter is empty.
  void clean();
  // Creates criteria, in command-line order, from the filter options of argv[1 ... argc-1]
  // and blanks each consumed option and its arguments; other entries are left untouched.
  // "-h" or "-help" prints the usage and returns true at once. False after printing one
  // "ERROR: " line; criteria made before the error stay (the caller discards the filter).
  bool parse(int argc, char* argv[]);
  // Splits `command` at blanks into at most 63 words and parses them as above. More words
  // fail with a message rather than being cut off silently.
  bool parse(const char* command);
  // Appends a criterion with a drop counter of 0.
  void append_criterion(std::unique_ptr<LAScriterion> criterion);

  // True when the point is dropped.
  bool filter(const LASpoint& point) override {
    const std::size_t count = criteria_.size();
    for (std::size_t i = 0; i < count; i++) {
      if (criteria_[i]->filter(point)) {
        counters_[i]++;
        return true;
      }
    }
    return false;
  }
  // Resets every criterion (not the drop counters).
  void reset() override;

  // The commands of all criteria, one after another, as one text ("-keep_class 2 6 ").
  std::string write_command() const;
  // The same into `buffer` of `size` bytes (terminated when `size` > 0); returns the number
  // of characters the whole text needs, as snprintf.
  int write_command(char* buffer, std::size_t size) const;
  // The union of the layers every criterion reads (kLayer... bits).
  std::uint32_t get_selective_decoding() const;

  bool active() const { return !criteria_.empty(); }
  std::size_t criteria_count() const { return criteria_.size(); }
  const LAScriterion& criterion(std::size_t index) const { return *criteria_[index]; }
  // Points criterion `index` dropped so far.
  std::int64_t drop_count(std::size_t index) const { return counters_[index]; }

 private:
  friend class LASfilterParse;
  // Takes the last criterion off the list (with its counter); null when the list is empty.
  std::unique_ptr<LAScriterion> take_last();

  std::vector<std::unique_ptr<LAScriterion>> criteria_;
  // 64 bits: a long survey drops more than 2^31 points.
  std::vector<std::int64_t> counters_;
};
