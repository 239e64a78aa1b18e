#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "stream/bytestream_blocks.hpp"

// Keeping an input that arrives once (standard input, a FIFO) so that it can be read again.

// Appends what `file` delivers to `blocks` until it ends or `blocks` holds at least `limit`
// bytes. Memory follows what arrives, in whole blocks, never what a header announces.
// True when the input has ended (or failed to read, which the reader of the bytes then
// finds as a cut input); false when `limit` was reached first or a block could not be had
// (`out_of_memory` then set).
bool read_into_blocks(ByteBlocks& blocks, std::FILE* file, std::int64_t limit,
                      bool* out_of_memory = nullptr);

// As read_into_blocks, from a descriptor with plain reads: nothing beyond what `blocks`
// takes is read from it, so that whatever reads it next (a FILE opened on it afterwards, a
// text reader) goes on where this stopped.
bool read_descriptor_into_blocks(ByteBlocks& blocks, int descriptor, std::int64_t limit,
                                 bool* out_of_memory = nullptr);

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// A temporary file without a name: made in $TMPDIR (else /tmp) and unlinked at once, so
// that nothing of it stays on disk however the process ends (an interrupt, a kill); its
// space is given back when it is closed. Null, with `error` saying why, when none can be
// made.
UniqueFile open_unnamed_temporary_file(std::string& error);

// Writes `head`, then the rest of `input` to its end, into `spill`, releasing each block of
// the head once written; leaves `spill` at its start and counts the bytes in `written`.
// False (with `error`) when a write fails, for instance on a full disk; a read error of
// `input` ends it as its end would.
bool spill_input(ByteBlocks& head, std::FILE* input, std::FILE* spill, std::int64_t& written,
                 std::string& error);
