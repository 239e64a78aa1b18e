#include "tool/decoded_spill.hpp"

#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "las/las_reader_las.hpp"
#include "tool/layer_copy_pass.hpp"

namespace {

// Keeps of every record written to it what the layer copy needs of the point. It has no
// room of its own, so every write arrives in `write_slow`, with whole records: the engine
// copies nothing else.
class LayerCopyPointsOut final : public ByteStreamOut {
 public:
  LayerCopyPointsOut(ByteStreamOut& out, std::size_t record_size)
      : out_(out), record_size_(record_size) {}
  bool can_seek() const override { return false; }
  std::int64_t position() const override { return out_.position(); }
  bool seek_to(std::int64_t) override { return false; }
  bool seek_to_end() override { return false; }
  bool flush() override { return out_.flush(); }

 protected:
  bool write_slow(const std::uint8_t* records, std::size_t n) override {
    if (n % record_size_ != 0) return false;
    if (n == record_size_) {  // a point read on this thread
      std::uint8_t point[kLayerCopyPointSize];
      condense_for_layer_copy(records, point);
      return out_.write_bytes(point, sizeof(point));
    }
    // A batch the workers decoded is condensed into a small block first: one copy of many
    // points into the stream then meets its buffer's cold lines together, where a store per
    // point waited for each.
    std::uint8_t points[kStagedPoints * kLayerCopyPointSize];
    std::size_t staged = 0;
    for (; n != 0; n -= record_size_, records += record_size_) {
      condense_for_layer_copy(records, points + staged * kLayerCopyPointSize);
      if (++staged == kStagedPoints) {
        if (!out_.write_bytes(points, sizeof(points))) return false;
        staged = 0;
      }
    }
    return out_.write_bytes(points, staged * kLayerCopyPointSize);
  }

 private:
  static constexpr std::size_t kStagedPoints = 256;
  ByteStreamOut& out_;
  std::size_t record_size_;
};

// Left free in the temporary folder beyond the records, for the grid's spill files and
// everyone else.
constexpr std::uint64_t kFreeReserve = std::uint64_t{256} << 20;

// Room for the records twice over and the reserve: the output may be as large as the records
// and on the same disk, and must not fail for want of the room they take.
bool room_for(std::FILE* file, std::uint64_t bytes) {
  struct statvfs info {};
  if (fstatvfs(fileno(file), &info) != 0) return false;
  const std::uint64_t free = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
  return free / 2 >= bytes && free - 2 * bytes >= kFreeReserve;
}

// Whether the records fit the process's file-size limit (ulimit -f): a write past it fails
// (EFBIG), and the spill would step aside only after the first pass had paid for it.
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
  if (in_ && whole_ && reader_ != nullptr) reader_->close_reader(false);
}

bool DecodedSpill::start(LASreader& reader, std::uint64_t limit, bool area, bool whole) {
  auto* las = dynamic_cast<LASreaderLAS*>(&reader);
  // A read by area seeks; its second pass would seek in the records by point number.
  if (las == nullptr || area || las->points_done != 0 || las->points_total <= 0 ||
      !las->header.codec || las->point.record_size == 0) {
    return false;
  }
  const auto points = static_cast<std::uint64_t>(las->points_total);
  const auto record = static_cast<std::uint64_t>(las->point.record_size);
  // The layer copy's points come from the raw POINT14 record at the start of each record.
  if (!whole && record < 22) return false;
  const std::uint64_t kept = whole ? record : kLayerCopyPointSize;
  if (points > limit / kept || !within_file_size_limit(points * kept)) return false;
  bytes_ = points * kept;
  std::string error;
  file_ = open_unnamed_temporary_file(error);
  if (!file_ || !room_for(file_.get(), bytes_)) {
    file_.reset();
    return false;
  }
  out_ = std::make_unique<ByteStreamOutFile>(file_.get());
  ByteStreamOut* copy = out_.get();
  if (!whole) {
    condensing_ = std::make_unique<LayerCopyPointsOut>(*out_, static_cast<std::size_t>(record));
    copy = condensing_.get();
  }
  if (!las->copy_records_to(copy)) {
    condensing_.reset();
    out_.reset();
    file_.reset();
    return false;
  }
  reader_ = las;
  whole_ = whole;
  return true;
}

bool DecodedSpill::finish(LASreader& reader) {
  if (reader_ == nullptr || &reader != reader_ || !out_) return false;
  reader_->copy_records_to(nullptr);
  condensing_.reset();
  kept_ = reader_->copy_is_whole() && !reader_->read_failed() &&
          reader_->points_done == reader_->points_total && out_->flush() &&
          static_cast<std::uint64_t>(out_->position()) == bytes_;
  out_.reset();
  if (!kept_) file_.reset();
  return kept_;
}

bool DecodedSpill::rewind() {
  in_.reset();
  in_ = std::make_unique<ByteStreamInFile>(file_.get());
  return in_->seek_to(0);
}

bool DecodedSpill::replay(LASreader& reader) {
  if (!kept_ || !whole_ || &reader != reader_) return false;
  return rewind() && reader_->read_records_from(in_.get());
}

ByteStreamIn* DecodedSpill::partial_records() {
  if (!kept_ || whole_ || !rewind()) return nullptr;
  return in_.get();
}
