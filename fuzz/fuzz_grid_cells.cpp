// libFuzzer target: see fuzz_entry::grid_cells.
#include "entries/fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_entry::grid_cells(data, size);
}
