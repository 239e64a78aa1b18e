#include "tool/decoded_spill.hpp"

#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "las/las_reader_las.hpp"

namespace {

// Left free in the temporary folder beyond the records, for the grid's spill files and
// everyone else.
constexpr std::uint64_t kFreeReserve = std::uint64_t{256} << 20;

bool room_for(std::FILE* file, std::uint64_t bytes) {
  struct statvfs info {};
  if (fstatvfs(fileno(file), &info) != 0) return false;
  const std::uint64_t free = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
  return free >= bytes && free - bytes >= kFreeReserve;
}

// Whether the records fit the process's file-size limit (ulimit -f): a write past it is not
// refused but ends the run (SIGXFSZ), where decoding the file twice gets through.
bool within_file_size_limit(std::uint64_t bytes) {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
  return limit.rlim_cur == RLIM_INFINITY || bytes <= static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace

std::uint64_t DecodedSpill::default_limit() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return std::uint64_t{512} << 20;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 8;
}

DecodedSpill::~DecodedSpill() {
  // The reader may outlive the spill: it must not keep a stream of it.
  if (in_ && reader_ != nullptr) reader_->close_reader(false);
}

bool DecodedSpill::start(LASreader& reader, std::uint64_t limit, bool area) {
  auto* las = dynamic_cast<LASreaderLAS*>(&reader);
  // A read by area seeks; its second pass would seek in the records by point number.
  if (las == nullptr || area || las->points_done != 0 || las->points_total <= 0 ||
      !las->header.codec || las->point.record_size == 0) {
    return false;
  }
  const auto points = static_cast<std::uint64_t>(las->points_total);
  const auto record = static_cast<std::uint64_t>(las->point.record_size);
  if (points > limit / record || !within_file_size_limit(points * record)) return false;
  bytes_ = points * record;
  std::string error;
  file_ = open_unnamed_temporary_file(error);
  if (!file_ || !room_for(file_.get(), bytes_)) {
    file_.reset();
    return false;
  }
  out_ = std::make_unique<ByteStreamOutFile>(file_.get());
  if (!las->copy_records_to(out_.get())) {
    out_.reset();
    file_.reset();
    return false;
  }
  reader_ = las;
  return true;
}

bool DecodedSpill::finish(LASreader& reader) {
  if (reader_ == nullptr || &reader != reader_ || !out_) return false;
  reader_->copy_records_to(nullptr);
  kept_ = reader_->copy_is_whole() && !reader_->read_failed() &&
          reader_->points_done == reader_->points_total && out_->flush() &&
          static_cast<std::uint64_t>(out_->position()) == bytes_;
  out_.reset();
  if (!kept_) file_.reset();
  return kept_;
}

bool DecodedSpill::replay(LASreader& reader) {
  if (!kept_ || &reader != reader_) return false;
  in_.reset();
  in_ = std::make_unique<ByteStreamInFile>(file_.get());
  if (!in_->seek_to(0)) return false;
  return reader_->read_records_from(in_.get());
}
