#include "stream/bytestream_out_file.hpp"

#include <sys/types.h>

#include <array>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

// The thread that hands full blocks to the FILE, and the blocks that travel between it and
// the stream: the stream fills one block while the thread writes the others, in the order
// they were given. A fixed number of blocks bounds the memory whatever the speed of the
// disk; when all are queued the stream waits for the oldest to come back.
//
// A refused block is reported when the block kBlocks places after it is queued, the
// moment at which the stream must have it back anyway: so the write that learns of a full
// disk depends only on the bytes written, never on the speed of the thread.
class ByteStreamOutFile::BackgroundWriter {
 public:
  // Throws std::system_error when no thread can be started, std::bad_alloc when the blocks
  // cannot be had.
  BackgroundWriter(std::FILE* file, std::size_t block_size) : file_(file) {
    for (auto& block : free_)
      block = std::make_unique<std::uint8_t[]>(block_size);
    free_count_ = free_.size();
    thread_ = std::thread([this] { run(); });
  }
  // Writes what is queued and ends the thread.
  ~BackgroundWriter() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_.notify_one();
    thread_.join();
  }
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // Queues `block`, of which the first `size` bytes are to be written, and replaces it with
  // the free block that the oldest queued one became (waiting for it to be written). False
  // when that block or one before it could not be written.
  bool exchange(std::unique_ptr<std::uint8_t[]>& block, std::size_t size) {
    std::unique_lock<std::mutex> lock(mutex_);
    returned_.wait(lock, [this] { return free_count_ > 0; });
    // Blocks up to posted_ - kBlocks are back now, whatever else the thread has done.
    const bool ok = first_refused_ == kNone || first_refused_ + kBlocks > posted_;
    posted_++;
    queue_[(head_ + queued_) % kBlocks] = Job{std::move(block), size};
    queued_++;
    block = std::move(free_[--free_count_]);
    lock.unlock();
    work_.notify_one();
    return ok;
  }

  // Waits until every queued block has been written; false when any write failed.
  bool wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    returned_.wait(lock, [this] { return queued_ == 0; });
    return first_refused_ == kNone;
  }

 private:
  static constexpr std::size_t kBlocks = 3;  // besides the one the stream fills
  static constexpr std::uint64_t kNone = UINT64_MAX;
  struct Job {
    std::unique_ptr<std::uint8_t[]> block;
    std::size_t size = 0;
  };

  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return stopping_ || queued_ > 0; });
      if (queued_ == 0) return;  // stopping, and everything is written
      Job& job = queue_[head_];
      // After a refusal nothing more is written: the bytes after a gap would be misplaced.
      const bool skip = first_refused_ != kNone;
      lock.unlock();
      const bool written = !skip && std::fwrite(job.block.get(), 1, job.size, file_) == job.size;
      lock.lock();
      if (!written && !skip) first_refused_ = finished_;
      finished_++;
      free_[free_count_++] = std::move(job.block);
      head_ = (head_ + 1) % kBlocks;
      queued_--;
      returned_.notify_all();
    }
  }

  std::FILE* file_;
  std::mutex mutex_;
  std::condition_variable work_;      // to the thread: a block is queued, or the end
  std::condition_variable returned_;  // to the stream: a block is free again
  std::array<Job, kBlocks> queue_;
  std::size_t head_ = 0;
  std::size_t queued_ = 0;
  std::array<std::unique_ptr<std::uint8_t[]>, kBlocks> free_;
  std::size_t free_count_ = 0;
  std::uint64_t posted_ = 0;             // blocks queued so far
  std::uint64_t finished_ = 0;           // blocks written or refused, in order
  std::uint64_t first_refused_ = kNone;  // number of the first refused block
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once the members it uses are made
};

ByteStreamOutFile::ByteStreamOutFile(std::FILE* file, std::size_t block_size)
    : file_(file), block_size_(block_size) {
  if (block_size_ > 0) block_ = std::make_unique<std::uint8_t[]>(block_size_);
  const off_t start = file_ ? ftello(file_) : -1;
  block_position_ = start >= 0 ? start : 0;
  cursor_ = block_.get();
  limit_ = block_.get() + block_size_;
}

ByteStreamOutFile::~ByteStreamOutFile() {
  hand_over();
}

bool ByteStreamOutFile::can_seek() const {
  return file_ != stdout;
}

std::int64_t ByteStreamOutFile::position() const {
  if (!block_) {
    const off_t pos = ftello(file_);
    return pos >= 0 ? pos : block_position_;
  }
  return block_position_ + (cursor_ - block_.get());
}

bool ByteStreamOutFile::flush() {
  if (!hand_over()) {
    limit_ = cursor_;
    return false;
  }
  // The FILE buffers too: a full disk only shows once its buffer reaches the system.
  if (std::fflush(file_) != 0) failed_ = true;
  if (failed_) limit_ = cursor_;
  return !failed_;
}

bool ByteStreamOutFile::wait_for_background() {
  return !background_ || background_->wait();
}

bool ByteStreamOutFile::hand_over() {
  if (!block_) return !failed_;
  if (!wait_for_background()) failed_ = true;
  const std::size_t pending = static_cast<std::size_t>(cursor_ - block_.get());
  if (pending > 0) {
    if (failed_ || std::fwrite(block_.get(), 1, pending, file_) != pending) failed_ = true;
    block_position_ += static_cast<std::int64_t>(pending);
    cursor_ = block_.get();
  }
  return !failed_;
}

bool ByteStreamOutFile::hand_over_in_background() {
  if (failed_) return false;
  const std::size_t pending = static_cast<std::size_t>(cursor_ - block_.get());
  if (pending == 0) return true;
  if (!background_ && !background_unavailable_) {
    try {
      background_ = std::make_unique<BackgroundWriter>(file_, block_size_);
    } catch (const std::system_error&) {
      background_unavailable_ = true;
    } catch (const std::bad_alloc&) {
      background_unavailable_ = true;
    }
  }
  if (!background_) return hand_over();
  if (!background_->exchange(block_, pending)) failed_ = true;
  block_position_ += static_cast<std::int64_t>(pending);
  cursor_ = block_.get();
  limit_ = block_.get() + block_size_;
  return !failed_;
}

bool ByteStreamOutFile::write_slow(const std::uint8_t* buffer, std::size_t n) {
  const bool written = write_beyond_block(buffer, n);
  // After a refusal the block takes no more bytes, so every later write comes here and
  // fails too, not just the one that fills the block again.
  if (failed_) limit_ = cursor_;
  return written;
}

bool ByteStreamOutFile::write_beyond_block(const std::uint8_t* buffer, std::size_t n) {
  if (!block_ || n >= block_size_) {
    if (!hand_over()) return false;
    if (std::fwrite(buffer, 1, n, file_) != n) {
      failed_ = true;
      return false;
    }
    block_position_ += static_cast<std::int64_t>(n);
    return true;
  }
  if (!hand_over_in_background()) return false;
  std::memcpy(cursor_, buffer, n);
  cursor_ += n;
  return true;
}

bool ByteStreamOutFile::seek_to(std::int64_t pos) {
  if (!hand_over()) return false;
  if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0) return false;
  block_position_ = pos;
  return true;
}

bool ByteStreamOutFile::seek_to_end() {
  if (!hand_over()) return false;
  if (fseeko(file_, 0, SEEK_END) != 0) return false;
  const off_t pos = ftello(file_);
  if (pos < 0) return false;
  block_position_ = pos;
  return true;
}
