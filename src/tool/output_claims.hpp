#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "select/file_identity.hpp"

class LASreaderFactory;

// Every file a run reads and every file it writes, told apart by identity (see
// file_identity.hpp), so that no write of the run goes to a file it reads (an input, a
// neighbour, a list, the spatial index or the layer file of an input) nor to a file another
// write of the same run has claimed: each would silently destroy points or the files that
// describe them. Checks cost a hash lookup, whatever the number of files.
//
// Not thread-safe: files processed at once guard it with one lock.
class OutputClaims {
 public:
  enum class ReadKind { kInput, kNeighbour, kList, kIndex, kLayer };
  enum class WriteKind { kOutput, kLayer, kReport, kIndex };

  // Records a file the run reads; `owner` is the input an index or layer file belongs to
  // (the file's own name for the others).
  void add_read(const std::string& name, ReadKind kind, const std::string& owner);
  // Records every file `readers` will read: each input and neighbour, the spatial index
  // beside each (whether there is one or not), each list file, and the layer file of each
  // input, beside it and in `layer_folder` when one is given.
  void add_reads(const LASreaderFactory& readers, const char* layer_folder);

  // Claims `target` for a write of `kind` for the input `input`: empty when it may be
  // written, otherwise the "ERROR: " line to print (nothing is claimed then). An existing
  // device or FIFO is checked against the reads only and never claimed (many files may go
  // to /dev/null). A layer file may be the layer file of an input (that is what -olay
  // writes); two inputs whose layer files meet are refused as two outputs are.
  std::string claim(const std::string& target, WriteKind kind, const std::string& input);
  // The claimed target was not written after all (its file failed, or the output was
  // removed as empty): a later write may have it.
  void release(const std::string& target);
  // The claimed target was written: from now on it is known by its inode too.
  void confirm(const std::string& target);

  // Resolves names for the checks above (the resolved folders are kept).
  FileIdentity identify(const std::string& name) { return identifier_.identify(name); }
  // What the file read `name` is, when it is one ("the input file 'a.las'"); else empty.
  std::string read_description(const FileIdentity& file) const;

 private:
  struct Read {
    std::string name;
    ReadKind kind;
    std::string owner;
  };
  struct Claim {
    std::string target;
    WriteKind kind;
    std::string input;
    FileIdentity identity;
    bool active = true;
  };

  FileIdentifier identifier_;
  std::vector<Read> reads_;
  FileIdentityIndex read_index_;   // to the first read of each file
  FileIdentityIndex layer_index_;  // layer files of inputs apart: -olay writes them
  FileIdentityIndex claim_index_;  // to the claim
  std::vector<Claim> claims_;
  std::unordered_map<std::string, std::uint32_t> claim_by_target_;  // the latest claim
};

// Whether `path` exists and is a regular file.
bool is_regular_file(const std::string& path);
// Empty when a file can be written at `path` (an existing file that may be written, or a
// new one in an existing folder that may be written); otherwise why not.
std::string why_not_writable(const std::string& path);
