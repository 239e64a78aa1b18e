#include "formats/archive_argument.hpp"

#include <cstdio>

namespace text_format {

bool archive_argument(const Decompressor& program, const std::string& file_name,
                      std::string& argument) {
  argument.clear();
  if (program.name_rule == ArchiveName::kOnStandardInput) return true;
  if (!file_name.empty() && (file_name[0] == '-' || file_name[0] == '@')) argument = "./";
  switch (program.name_rule) {
    case ArchiveName::kBracketEscapes:
      if (file_name.find_first_of("*?[") == std::string::npos) {
        // Without a wildcard the name is taken as it is, backslashes included.
        argument += file_name;
        return true;
      }
      for (const char c : file_name) {
        if (c == '*' || c == '?' || c == '[') {
          argument += '[';
          argument += c;
          argument += ']';
        } else if (c == '\\') {
          argument += "\\\\";
        } else {
          argument += c;
        }
      }
      return true;
    case ArchiveName::kNoEscape:
      if (file_name.find_first_of("*?") != std::string::npos) {
        std::fprintf(stderr,
                     "ERROR: cannot decompress '%s': '%s' takes '*' and '?' in an archive name "
                     "for wildcards. rename the file\n",
                     file_name.c_str(), program.program);
        return false;
      }
      argument += file_name;
      return true;
    case ArchiveName::kOnStandardInput:
      break;
  }
  return true;
}

}  // namespace text_format
