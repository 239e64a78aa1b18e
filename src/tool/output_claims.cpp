#include "tool/output_claims.hpp"

#include <sys/stat.h>

#include "select/las_reader_factory.hpp"

bool same_file(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool is_regular_file(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string OutputClaims::conflict(const std::string& output, const std::string& input,
                                   const LASreaderFactory& inputs) const {
  if (output.empty()) return {};
  std::string overwritten;
  if (output == input || same_file(output, input)) overwritten = input;
  for (std::uint32_t i = 0; overwritten.empty() && i < inputs.get_file_count(); i++) {
    const char* listed = inputs.get_file_name(i);
    if (listed != nullptr && (output == listed || same_file(output, listed))) {
      overwritten = listed;
    }
  }
  if (!overwritten.empty()) {
    return "ERROR: output '" + output + "' is the input file '" + overwritten + "'. skipping '" +
           input + "'.\n";
  }
  for (const Claim& claim : claims_) {
    if (output == claim.output || same_file(output, claim.output)) {
      return "ERROR: output '" + output + "' was already written for '" + claim.input +
             "' in this run. skipping '" + input + "'.\n";
    }
  }
  return {};
}

void OutputClaims::claim(const std::string& output, const std::string& input) {
  if (output.empty() || !is_regular_file(output)) return;
  claims_.push_back({output, input});
}
