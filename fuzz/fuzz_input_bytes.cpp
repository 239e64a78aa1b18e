// libFuzzer target: see fuzz_entry::input_bytes.
#include "entries/fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_entry::input_bytes(data, size);
}
