// libFuzzer target: see fuzz_entry::lax_file.
#include "entries/fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_entry::lax_file(data, size);
}
