#include "stream/bytestream_piped.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "stream/temporary_file.hpp"

namespace {

constexpr std::size_t kBlock = ByteBlocks::kBlockSize;

UniqueFile make_unnamed_in(const char* folder, std::string& error) {
  if (folder == nullptr || folder[0] == '\0') return nullptr;
  std::FILE* file = create_unnamed_file(folder, "isocull-piped-");
  if (file == nullptr) {
    error =
        "cannot create a temporary file in '" + std::string(folder) + "': " + std::strerror(errno);
  }
  return UniqueFile(file);
}

// Appends to `blocks` what `read(at, wanted)` delivers (fewer than `wanted` bytes: the
// input has ended) until `limit`; see read_into_blocks.
template <class Read>
bool fill_blocks(ByteBlocks& blocks, std::int64_t limit, bool* out_of_memory, Read read) {
  if (out_of_memory != nullptr) *out_of_memory = false;
  while (blocks.size < limit) {
    const std::size_t used = static_cast<std::size_t>(blocks.size) % kBlock;
    if (used == 0 && static_cast<std::size_t>(blocks.size) == blocks.allocated()) {
      std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[kBlock]);
      if (!block) {
        if (out_of_memory != nullptr) *out_of_memory = true;
        return false;
      }
      blocks.blocks.push_back(std::move(block));
    }
    std::uint8_t* at = blocks.blocks.back().get() + used;
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(kBlock - used), limit - blocks.size));
    const std::size_t got = read(at, wanted);
    blocks.size += static_cast<std::int64_t>(got);
    if (got < wanted) return true;
  }
  return false;
}

}  // namespace

bool read_into_blocks(ByteBlocks& blocks, std::FILE* file, std::int64_t limit,
                      bool* out_of_memory) {
  return fill_blocks(blocks, limit, out_of_memory, [file](std::uint8_t* at, std::size_t wanted) {
    return std::fread(at, 1, wanted, file);
  });
}

bool read_descriptor_into_blocks(ByteBlocks& blocks, int descriptor, std::int64_t limit,
                                 bool* out_of_memory) {
  // A pipe hands over what its writer has written so far: read on to `wanted` or the end.
  return fill_blocks(blocks, limit, out_of_memory,
                     [descriptor](std::uint8_t* at, std::size_t wanted) {
                       std::size_t got = 0;
                       while (got < wanted) {
                         const ssize_t n = ::read(descriptor, at + got, wanted - got);
                         if (n < 0 && errno == EINTR) continue;
                         if (n <= 0) break;
                         got += static_cast<std::size_t>(n);
                       }
                       return got;
                     });
}

UniqueFile open_unnamed_temporary_file(std::string& error) {
  UniqueFile file = make_unnamed_in(std::getenv("TMPDIR"), error);
  if (!file) file = make_unnamed_in("/tmp", error);
  return file;
}

bool spill_input(ByteBlocks& head, std::FILE* input, std::FILE* spill, std::int64_t& written,
                 std::string& error) {
  written = 0;
  auto failed = [&error] {
    error =
        std::string("cannot write the temporary copy of the piped input: ") + std::strerror(errno);
    return false;
  };
  std::int64_t left = head.size;
  for (auto& block : head.blocks) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, kBlock));
    if (n > 0 && std::fwrite(block.get(), 1, n, spill) != n) return failed();
    left -= static_cast<std::int64_t>(n);
    written += static_cast<std::int64_t>(n);
    block.reset();
  }
  head = ByteBlocks{};
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kBlock]);
  if (!buffer) {
    error = "cannot allocate memory for the piped input";
    return false;
  }
  for (;;) {
    const std::size_t got = std::fread(buffer.get(), 1, kBlock, input);
    if (got > 0 && std::fwrite(buffer.get(), 1, got, spill) != got) return failed();
    written += static_cast<std::int64_t>(got);
    if (got < kBlock) break;
  }
  if (std::fflush(spill) != 0 || std::fseek(spill, 0, SEEK_SET) != 0) return failed();
  return true;
}
