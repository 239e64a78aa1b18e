#include "stream/bytestream_in_file.hpp"

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

// The thread that reads the block after the current one, into a block of its own that the
// stream takes in exchange for the one it has read through.
class ByteStreamInFile::ReadAhead {
 public:
  // Throws std::system_error when no thread can be started, std::bad_alloc when the block
  // cannot be had.
  ReadAhead(std::FILE* file, std::size_t block_size)
      : file_(file), block_size_(block_size), block_(std::make_unique<std::uint8_t[]>(block_size)) {
    thread_ = std::thread([this] { run(); });
  }
  ~ReadAhead() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      done_.wait(lock, [this] { return !requested_; });
      stopping_ = true;
    }
    work_.notify_one();
    thread_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Starts reading the next block of the FILE.
  void start() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      requested_ = true;
      started_ = true;
    }
    work_.notify_one();
  }
  bool started() const { return started_; }
  // Waits for the read started last, hands its block over in exchange for `block` and
  // returns the number of bytes read.
  std::size_t finish(std::unique_ptr<std::uint8_t[]>& block) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !requested_; });
    started_ = false;
    std::swap(block, block_);
    return got_;
  }
  // Waits for the read started last and drops it.
  void cancel() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !requested_; });
    started_ = false;
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return stopping_ || requested_; });
      if (stopping_) return;
      lock.unlock();
      const std::size_t got = std::fread(block_.get(), 1, block_size_, file_);
      lock.lock();
      got_ = got;
      requested_ = false;
      done_.notify_all();
    }
  }

  std::FILE* file_;
  std::size_t block_size_;
  std::unique_ptr<std::uint8_t[]> block_;
  std::mutex mutex_;
  std::condition_variable work_;  // to the thread: a read is requested, or the end
  std::condition_variable done_;  // to the stream: the read is done
  bool requested_ = false;        // a read is asked for or under way
  bool started_ = false;          // a read was started and not yet taken or dropped (stream side)
  bool stopping_ = false;
  std::size_t got_ = 0;
  std::thread thread_;  // last: it starts once the members it uses are made
};

ByteStreamInFile::ByteStreamInFile(std::FILE* file, std::size_t block_size)
    : file_(file), block_size_(block_size) {
  if (block_size_ > 0) block_ = std::make_unique<std::uint8_t[]>(block_size_);
  const off_t start = file_ ? ftello(file_) : -1;
  block_position_ = start >= 0 ? start : 0;
  cursor_ = limit_ = block_.get();
}

ByteStreamInFile::~ByteStreamInFile() = default;

bool ByteStreamInFile::can_seek() const {
  return file_ != stdin;
}

std::int64_t ByteStreamInFile::position() const {
  if (!block_) {
    const off_t pos = ftello(file_);
    return pos >= 0 ? pos : 0;
  }
  return block_position_ + (cursor_ - block_.get());
}

void ByteStreamInFile::cancel_read_ahead() {
  if (read_ahead_ && read_ahead_->started()) read_ahead_->cancel();
  refills_ = 0;
}

bool ByteStreamInFile::seek_to(std::int64_t pos) {
  if (pos < 0) return false;
  if (block_) {
    const std::int64_t held = limit_ - block_.get();
    if (pos >= block_position_ && pos <= block_position_ + held) {
      cursor_ = block_.get() + (pos - block_position_);
      return true;
    }
  } else if (pos == position()) {
    return true;
  }
  cancel_read_ahead();
  if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0) return false;
  block_position_ = pos;
  cursor_ = limit_ = block_.get();
  return true;
}

bool ByteStreamInFile::seek_from_end(std::int64_t distance) {
  if (distance < 0) return false;
  cancel_read_ahead();
  if (fseeko(file_, -static_cast<off_t>(distance), SEEK_END) != 0) return false;
  const off_t pos = ftello(file_);
  if (pos < 0) return false;
  block_position_ = pos;
  cursor_ = limit_ = block_.get();
  return true;
}

bool ByteStreamInFile::refill() {
  if (!block_) return false;
  block_position_ += limit_ - block_.get();
  std::size_t got = 0;
  if (read_ahead_ && read_ahead_->started()) {
    got = read_ahead_->finish(block_);
  } else {
    got = std::fread(block_.get(), 1, block_size_, file_);
  }
  cursor_ = block_.get();
  limit_ = block_.get() + got;
  if (refills_ < 2) refills_++;
  // A short block is the end of the data (or an error): nothing more to read ahead.
  if (got == block_size_ && refills_ == 2 && !read_ahead_unavailable_) {
    if (!read_ahead_) {
      try {
        read_ahead_ = std::make_unique<ReadAhead>(file_, block_size_);
      } catch (const std::system_error&) {
        read_ahead_unavailable_ = true;
      } catch (const std::bad_alloc&) {
        read_ahead_unavailable_ = true;
      }
    }
    if (read_ahead_) read_ahead_->start();
  }
  return got > 0;
}

bool ByteStreamInFile::read_direct(std::uint8_t* dst, std::size_t n) {
  if (block_) return false;
  return std::fread(dst, 1, n, file_) == n;
}
