#pragma once

// The LAS opener the merged and buffered readers are given in their tests: a plain LAS reader,
// or one that rescales and reoffsets when both are asked.

#include <array>
#include <memory>
#include <string>

#include "las/las_reader.hpp"
#include "las/las_reader_las.hpp"

namespace formats_test {

inline std::unique_ptr<LASreader> open_las(const std::string& name, bool /*header_only*/,
                                           const std::array<double, 3>* scale,
                                           const std::array<double, 3>* offset) {
  std::unique_ptr<LASreaderLAS> reader;
  if (scale && offset) {
    reader = std::make_unique<LASreaderLASrescalereoffset>(
        (*scale)[0], (*scale)[1], (*scale)[2], (*offset)[0], (*offset)[1], (*offset)[2]);
  } else {
    reader = std::make_unique<LASreaderLAS>();
  }
  if (!reader->open_file(name.c_str())) return nullptr;
  return reader;
}

}  // namespace formats_test
