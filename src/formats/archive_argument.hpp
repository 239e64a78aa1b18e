#pragma once

#include <string>

#include "formats/text_format.hpp"

namespace text_format {

// The argument that names `file_name` to `program` so that it reads exactly that file: a
// name that begins with "-" or "@" (an option, a list file) is given as "./name", and the
// program's wildcard characters are escaped by its rule (ArchiveName). False after one
// "ERROR: " line when the program cannot be given the name literally.
bool archive_argument(const Decompressor& program, const std::string& file_name,
                      std::string& argument);

}  // namespace text_format
