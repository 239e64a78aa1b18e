#include "tool/output_claims.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "index/las_index.hpp"
#include "layers/lay_file.hpp"
#include "select/las_reader_factory.hpp"

namespace {

const char* noun_of(OutputClaims::WriteKind kind) {
  switch (kind) {
    case OutputClaims::WriteKind::kOutput:
      return "output";
    case OutputClaims::WriteKind::kLayer:
      return "layer file";
    case OutputClaims::WriteKind::kReport:
      return "report";
    case OutputClaims::WriteKind::kIndex:
      return "index";
  }
  return "output";
}

std::string refusal(OutputClaims::WriteKind kind, const std::string& target,
                    const std::string& what, const std::string& input) {
  std::string line = "ERROR: " + std::string(noun_of(kind)) + " '" + target + "' " + what;
  if (!input.empty()) line += ". skipping '" + input + "'";
  return line + ".\n";
}

// What an earlier claim of a target made it.
std::string what_claimed(OutputClaims::WriteKind kind, const std::string& input) {
  if (kind == OutputClaims::WriteKind::kReport) return "is the report of this run";
  return "was already written for '" + input + "' in this run";
}

}  // namespace

bool is_regular_file(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string why_not_writable(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
    if (access(path.c_str(), W_OK) != 0) return std::strerror(errno);
    return {};
  }
  if (errno != ENOENT) return std::strerror(errno);
  const std::size_t slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  if (stat(folder.c_str(), &info) != 0) return "no folder '" + folder + "'";
  if (!S_ISDIR(info.st_mode)) return "'" + folder + "' is not a folder";
  if (access(folder.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
  return {};
}

void OutputClaims::add_read(const std::string& name, ReadKind kind, const std::string& owner) {
  if (name.empty()) return;
  const FileIdentity identity = identifier_.identify(name);
  const auto number = static_cast<std::uint32_t>(reads_.size());
  reads_.push_back({name, kind, owner});
  (kind == ReadKind::kLayer ? layer_index_ : read_index_).insert(identity, number);
}

void OutputClaims::add_reads(const LASreaderFactory& readers, const char* layer_folder) {
  const bool other_folder = layer_folder != nullptr && layer_folder[0] != '\0';
  // A name listed again adds no file (a list may name one file a million times).
  std::unordered_set<std::string_view> listed;
  const LASfileList& inputs = readers.file_list();
  for (std::size_t i = 0; i < inputs.size(); i++) {
    const std::string& name = inputs[i].name;
    if (!listed.insert(name).second) continue;
    add_read(name, ReadKind::kInput, name);
    add_read(LASindex::file_name_for(name), ReadKind::kIndex, name);
    add_read(lay_file_name(name, nullptr), ReadKind::kLayer, name);
    if (other_folder) add_read(lay_file_name(name, layer_folder), ReadKind::kLayer, name);
  }
  const LASfileList& neighbours = readers.neighbor_file_list();
  for (std::size_t i = 0; i < neighbours.size(); i++) {
    const std::string& name = neighbours[i].name;
    if (!listed.insert(name).second) continue;
    add_read(name, ReadKind::kNeighbour, name);
    add_read(LASindex::file_name_for(name), ReadKind::kIndex, name);
  }
  for (const std::string& list : readers.list_files())
    add_read(list, ReadKind::kList, list);
}

std::string OutputClaims::read_description(const FileIdentity& file) const {
  std::optional<std::uint32_t> number = read_index_.find(file);
  if (!number) number = layer_index_.find(file);
  if (!number) return {};
  const Read& read = reads_[*number];
  switch (read.kind) {
    case ReadKind::kInput:
      return "is the input file '" + read.name + "'";
    case ReadKind::kNeighbour:
      return "is the neighbour file '" + read.name + "'";
    case ReadKind::kList:
      return "is the list of files '" + read.name + "'";
    case ReadKind::kIndex:
      return "is the spatial index of '" + read.owner + "'";
    case ReadKind::kLayer:
      return "is the layer file of '" + read.owner + "'";
  }
  return {};
}

std::string OutputClaims::claim(const std::string& target, WriteKind kind,
                                const std::string& input) {
  if (target.empty()) return {};
  // The same name claimed again is the same file, known without asking the file system.
  const auto same_name = claim_by_target_.find(target);
  if (same_name != claim_by_target_.end()) {
    const Claim& claim = claims_[same_name->second];
    return refusal(kind, target, what_claimed(claim.kind, claim.input), input);
  }
  FileIdentity identity = identifier_.identify(target);
  std::optional<std::uint32_t> read = read_index_.find(identity);
  // -olay writes the layer files of the inputs; which input may have one is the claims'
  // question below.
  if (!read && kind != WriteKind::kLayer) read = layer_index_.find(identity);
  if (read) return refusal(kind, target, read_description(identity), input);
  if (identity.exists && !identity.regular) return {};
  if (const std::optional<std::uint32_t> earlier = claim_index_.find(identity)) {
    const Claim& claim = claims_[*earlier];
    return refusal(kind, target, what_claimed(claim.kind, claim.input), input);
  }
  const auto number = static_cast<std::uint32_t>(claims_.size());
  claims_.push_back({target, kind, input, identity, true});
  claim_index_.insert(identity, number);
  claim_by_target_[target] = number;
  return {};
}

void OutputClaims::release(const std::string& target) {
  const auto found = claim_by_target_.find(target);
  if (found == claim_by_target_.end()) return;
  Claim& claim = claims_[found->second];
  if (claim.active) claim_index_.erase(claim.identity, found->second);
  claim.active = false;
  claim_by_target_.erase(found);
}

void OutputClaims::confirm(const std::string& target) {
  const auto found = claim_by_target_.find(target);
  if (found == claim_by_target_.end()) return;
  const FileIdentity written = identifier_.identify(target);
  if (written.exists) claim_index_.insert(written, found->second);
}
