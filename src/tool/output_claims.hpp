#pragma once

#include <string>
#include <vector>

class LASreaderFactory;

// The output files of a run. An output may never be written over an input of the run (the
// file being read, one still to come, one done) nor over an output written before in the
// same run: each such file would silently destroy another's points.
class OutputClaims {
 public:
  // Empty when `output` may be written for `input`; otherwise the "ERROR: " line to print
  // (the file is then skipped). Names that reach the same file by other paths (hard links,
  // "./a.las") count as the same.
  std::string conflict(const std::string& output, const std::string& input,
                       const LASreaderFactory& inputs) const;
  // Records an output written; devices and pipes are not claimed (many files may go to
  // /dev/null).
  void claim(const std::string& output, const std::string& input);

 private:
  struct Claim {
    std::string output;
    std::string input;
  };
  std::vector<Claim> claims_;
};

// Whether two names reach the same existing file.
bool same_file(const std::string& a, const std::string& b);
// Whether `path` exists and is a regular file.
bool is_regular_file(const std::string& path);
