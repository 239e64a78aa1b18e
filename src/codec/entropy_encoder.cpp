#include "codec/entropy_encoder.hpp"

#include "stream/bytestream_out.hpp"

EntropyEncoder::EntropyEncoder(std::uint32_t buffer_size)
    : buffer_(std::make_unique<std::uint8_t[]>(buffer_size)),
      end_of_buffer_(buffer_.get() + buffer_size),
      write_position_(buffer_.get()),
      end_mark_(end_of_buffer_),
      half_(buffer_size / 2) {}

bool EntropyEncoder::init(ByteStreamOut* stream) {
  if (!stream) return false;
  stream_ = stream;
  base_ = 0;
  length_ = kCoderMaxLength;
  write_position_ = buffer_.get();
  end_mark_ = end_of_buffer_;
  failed_ = false;
  return true;
}

// The bytes still in memory run from the start of the unwritten region (the end mark one
// half ago) to the write position. A carry stops at the first byte that is not 0xFF; should
// it have to go further back than the unwritten region, the byte it needs is already in the
// stream and the coded data would be wrong, so the failure is kept for `done`.
void EntropyEncoder::propagate_carry() {
  std::uint8_t* const buffer = buffer_.get();
  std::uint8_t* const unwritten_start = end_mark_ == end_of_buffer_ ? buffer : end_mark_;
  std::uint8_t* p = write_position_;
  for (;;) {
    if (p == unwritten_start && p != write_position_) {
      failed_ = true;
      return;
    }
    if (p == buffer) p = end_of_buffer_;
    --p;
    if (*p != 0xFF) {
      ++*p;
      return;
    }
    *p = 0;
  }
}

void EntropyEncoder::renormalise() {
  do {
    *write_position_++ = static_cast<std::uint8_t>(base_ >> 24);
    if (write_position_ == end_mark_) flush_half();
    base_ <<= 8;
    length_ <<= 8;
  } while (length_ < kCoderMinLength);
}

void EntropyEncoder::flush_half() {
  if (write_position_ == end_of_buffer_) write_position_ = buffer_.get();
  if (!stream_ || !stream_->write_bytes(write_position_, half_)) failed_ = true;
  end_mark_ = write_position_ + half_;
}

bool EntropyEncoder::done() {
  const std::uint32_t old_base = base_;
  // A wide interval needs one more byte to pin a value inside it, a narrow one two.
  const bool one_more_byte = length_ > 2 * kCoderMinLength;
  if (one_more_byte) {
    base_ += kCoderMinLength;
    length_ = kCoderMinLength >> 1;
  } else {
    base_ += kCoderMinLength >> 1;
    length_ = kCoderMinLength >> 9;
  }
  if (base_ < old_base) propagate_carry();
  renormalise();

  if (stream_) {
    std::uint8_t* const buffer = buffer_.get();
    if (end_mark_ != end_of_buffer_) {
      if (!stream_->write_bytes(buffer + half_, half_)) failed_ = true;
    }
    if (!stream_->write_bytes(buffer, static_cast<std::size_t>(write_position_ - buffer))) {
      failed_ = true;
    }
    // The decoder reads four bytes ahead of the encoder: these zeros are what it reads
    // past the last byte that matters.
    static constexpr std::uint8_t kTail[3] = {0, 0, 0};
    if (!stream_->write_bytes(kTail, one_more_byte ? 3 : 2)) failed_ = true;
  } else {
    failed_ = true;
  }
  stream_ = nullptr;
  return !failed_;
}
