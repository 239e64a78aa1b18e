#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "filter/las_filter.hpp"
#include "filter/las_operation.hpp"
#include "las/las_reader_hooks.hpp"
#include "options/command_options.hpp"

// Changes points as they are read: a list of operations built from the command line
// ("-translate_...", "-scale_...", "-set_...", "-change_...", ...) and applied to every
// point a reader delivers, in command-line order.
//
// Ownership: the transform owns its operations and its filter. A reader borrows it (the
// reader factory keeps it alive). With a filter (`-filtered_transform`) only the points the
// filter would keep are changed; the others pass unchanged, none is dropped.
//
// `parse` returns false after printing one "ERROR: " line; operations made before the error
// stay in the list (the caller discards the transform). At run time nothing fails:
// coordinates that do not fit the stored integers are counted per operation and reported by
// `report_overflows`, which a reader calls when it is destroyed.
class LAStransform : public LAStransformHook {
 public:
  // Fields the operations change (kChangedX, kChangedY, kChangedZ, kChangedRGB, kChangedNIR).
  std::uint32_t changed_fields = 0;

  LAStransform() = default;
  LAStransform(const LAStransform&) = delete;
  LAStransform& operator=(const LAStransform&) = delete;
  ~LAStransform() override;

  // Reads the options of argv[1 ... argc-1] it knows, blanking them and their arguments;
  // "-h" / "-help" print the usage. Other entries are left for other parsers.
  bool parse(int argc, char* argv[]);
  // The blank-separated words of `text` (at most 63; more are refused with a message).
  bool parse(const char* text);
  static void usage();
  // Every option of the table, by family, for the help of -h transform and the manual page.
  static std::vector<command_options::OptionSection> option_sections();

  void append_operation(std::unique_ptr<LASoperation> operation);
  // Deletes the first operation of that name (without "-"); nothing when there is none.
  void remove_operation(std::string_view name);
  std::size_t operation_count() const { return operations_.size(); }
  const LASoperation* operation(std::size_t index) const { return operations_[index].get(); }

  void transform(LASpoint& point) override;
  // The record form (see LASoperation::has_record_form): true when there are operations,
  // no filter, and every operation has one for records of `layout`. Then
  // `transform_records` gives stored records exactly the bytes that reading each into a
  // point, `transform` and storing it again would give, and counts the same overflows.
  bool has_record_form(const LASrecordLayout& layout) const;
  // Applies the operations in order, each to all `count` records (an operation sees every
  // record in reading order, as it sees points, so stateful operations draw alike).
  void transform_records(std::uint8_t* records, std::size_t count, const LASrecordLayout& layout);
  // The record_writes bits of the operations.
  std::uint32_t record_writes() const;
  // Resets every operation: overflow counters, random states and value files start afresh.
  void reset() override;
  void report_overflows() const override;

  // Replaces (and deletes) the filter; null also ends `-filtered_transform`.
  void set_filter(std::unique_ptr<LASfilter> filter);
  LASfilter* get_filter() const { return filter_.get(); }
  // "-filtered_transform" was given: the reader factory hands its filter over.
  bool is_filtered() const { return filtered_; }
  void set_filtered(bool filtered) { filtered_ = filtered; }
  // Replaces any "set_point_source" operation by one that stamps `value`.
  void set_point_source(std::uint16_t value);

  // The filter's commands and "-filtered_transform " when a filter is held, then every
  // operation's command, into `buffer` (at most `size` bytes, terminated). Returns the
  // length of the full text.
  int write_command(char* buffer, std::size_t size) const;
  // The point layers the operations (and the filter's test) read.
  std::uint32_t get_selective_decoding() const;
  // Deletes all operations and the filter.
  void clean();

 private:
  std::vector<std::unique_ptr<LASoperation>> operations_;
  bool filtered_ = false;
  std::unique_ptr<LASfilter> filter_;
};
