#include "tool/partial_output.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "las/las_writer.hpp"
#include "select/las_writer_factory.hpp"

namespace {

// Only a file (or a link) is ours to remove.
bool removable(const std::string& name) {
  struct stat info {};
  return lstat(name.c_str(), &info) == 0 && (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode));
}

}  // namespace

std::unique_ptr<LASwriter> PartialOutput::open(LASwriterFactory& writers, const LASheader& header,
                                               const std::string& name) {
  remove();
  struct stat info {};
  const bool existed = !name.empty() && lstat(name.c_str(), &info) == 0;
  // A pipe or a device is opened outside the registry: opening a pipe may wait for its
  // reader, and a handler must never wait for that.
  if (name.empty() || (existed && !(S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)))) {
    return writers.open(header);
  }
  signal_cleanup::Making making;
  std::unique_ptr<LASwriter> writer = writers.open(header);
  if (writer && removable(name)) {
    name_ = name;
    registration_ = making.register_path(signal_cleanup::Kind::kFile, name_);
  } else if (!writer && !existed && removable(name)) {
    // A file the failed open created is no output; one that was there before is not ours.
    unlink(name.c_str());
  }
  return writer;
}

void PartialOutput::keep() {
  registration_.forget();
  name_.clear();
}

bool PartialOutput::remove() {
  const bool removed = !name_.empty() && unlink(name_.c_str()) == 0;
  registration_.forget();
  name_.clear();
  return removed;
}
