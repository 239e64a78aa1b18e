// libFuzzer target: see fuzz_entry::coordinate_noise.
#include "entries/fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_entry::coordinate_noise(data, size);
}
