#pragma once

// STAND-IN until the writer factory lands: only what the noise tool's run loop calls
// (-o, -odir, -odix, -olas, -opkz, -stdout, -nil, -oforce). Removed when the real factory is
// merged.

#include <memory>
#include <string>

#include "las/las_writer.hpp"

class LASwriterFactory {
 public:
  bool parse(int argc, char* argv[]);
  void set_file_name(const char* file_name);
  bool active() const { return !file_name_.empty() || to_stdout_ || to_nil_; }
  const char* get_file_name() const { return file_name_.empty() ? nullptr : file_name_.c_str(); }
  void derive_file_name(const char* input_name, int number);
  std::unique_ptr<LASwriter> open(const LASheader& header);
  // True when `open` writes the file named by get_file_name() (not nil, not stdout).
  bool writes_named_file() const { return !to_nil_ && !file_name_.empty(); }

 private:
  std::string file_name_;
  std::string directory_;
  std::string appendix_;
  bool force_ = false;
  bool compressed_ = false;
  bool to_stdout_ = false;
  bool to_nil_ = false;
};
