#pragma once

// STAND-IN until the reader factory lands: only what the noise tool's run loop calls, with
// just the input options it needs to run end to end (-i, -lof, -ignore_..., -stdin,
// -inside). Removed when the real factory is merged.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "las/las_reader.hpp"
#include "select/las_ignore.hpp"

class LASreaderFactory {
 public:
  void set_fill_header(bool fill_header) { fill_header_ = fill_header; }
  bool add_file_name(const char* name, bool unique = false);
  bool parse(int argc, char* argv[], bool parse_ignore = false);
  std::uint32_t get_file_count() const { return static_cast<std::uint32_t>(file_names_.size()); }
  bool has_buffer() const { return false; }
  bool is_pipe_input() const { return file_names_.empty() && from_stdin_; }
  bool has_area() const { return has_rectangle_; }
  bool active() const { return next_file_index_ < file_names_.size() || from_stdin_; }
  const char* get_file_name() const;
  void set_stored(bool stored) { stored_ = stored; }
  bool is_merged() const { return false; }
  bool has_filter() const { return false; }
  std::unique_ptr<LASreader> open(const char* file_name = nullptr, bool reset = true);
  bool reopen(LASreader& reader, bool remain_buffered = false);
  LASignore* get_ignore() const { return ignore_.get(); }

 private:
  std::vector<std::string> file_names_;
  std::size_t next_file_index_ = 0;
  std::string file_name_;
  bool fill_header_ = true;
  bool from_stdin_ = false;
  bool stored_ = false;
  bool has_rectangle_ = false;
  double rectangle_[4] = {0, 0, 0, 0};
  std::unique_ptr<LASignore> ignore_;
};
