// libFuzzer target: whole compressed files (fuzz_entry::las_file), seeded with PKZ files
// only, so that the fuzzer's time goes to the chunk table and the item codecs.
#include "entries/fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_entry::las_file(data, size);
}
