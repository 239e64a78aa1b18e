#include "codec/entropy_decoder.hpp"

bool EntropyDecoder::init(ByteStreamIn* stream, bool read_first) {
  if (!stream) return false;
  stream_ = stream;
  length_ = kCoderMaxLength;
  value_ = 0;
  if (read_first) {
    // The code value is stored most significant byte first.
    for (int i = 0; i < 4; i++)
      value_ = (value_ << 8) | stream_->read_byte();
  }
  return true;
}
