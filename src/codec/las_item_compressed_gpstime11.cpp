#include "codec/las_item_compressed_gpstime11.hpp"

#include <algorithm>
#include <cstring>

namespace {

std::int64_t load_time(const std::uint8_t* item) {
  std::int64_t time;
  std::memcpy(&time, item, sizeof(time));
  return time;
}

void store_time(std::int64_t time, std::uint8_t* item) {
  std::memcpy(item, &time, sizeof(time));
}

std::int32_t high_half(std::int64_t time) {
  return static_cast<std::int32_t>(static_cast<std::uint64_t>(time) >> 32);
}

// d / D in single precision. Multipliers beyond a few hundred all code alike, so the value
// is held far inside the 32-bit range before it is converted.
float multiplier_of(std::int32_t difference, std::int32_t step) {
  const float multi = static_cast<float>(difference) / static_cast<float>(step);
  return std::clamp(multi, -1.0e6f, 1.0e6f);
}

// Rounded half away from zero.
std::int32_t round_multiplier(float multi) {
  return multi >= 0.0f ? static_cast<std::int32_t>(multi + 0.5f)
                       : static_cast<std::int32_t>(multi - 0.5f);
}

}  // namespace

// ---- version 2 ----------------------------------------------------------------------------

GpsTime11v2Models::GpsTime11v2Models(EntropyEncoder& encoder)
    : multi_(kGpsv2MultiSymbols, true),
      zero_diff_(kGpsv2ZeroDiffSymbols, true),
      time_(&encoder, kGpsv2Bits, kGpsv2Contexts, kItemCoderHighBits) {}

GpsTime11v2Models::GpsTime11v2Models(EntropyDecoder& decoder)
    : multi_(kGpsv2MultiSymbols, false),
      zero_diff_(kGpsv2ZeroDiffSymbols, false),
      time_(&decoder, kGpsv2Bits, kGpsv2Contexts, kItemCoderHighBits) {}

void GpsTime11v2Models::init(const std::uint8_t* item) {
  current_seq_ = 0;
  newest_seq_ = 0;
  for (std::uint32_t i = 0; i < kGpsSequences; i++) {
    seq_time_[i] = 0;
    seq_step_[i] = 0;
    seq_misses_[i] = 0;
  }
  multi_.init();
  zero_diff_.init();
  time_.init();
  seq_time_[0] = load_time(item);
}

bool LASwriteItemCompressed_GPSTIME11_v2::init(const std::uint8_t* item, std::uint32_t&) {
  GpsTime11v2Models::init(item);
  return true;
}

std::uint32_t LASwriteItemCompressed_GPSTIME11_v2::near_sequence(std::int64_t time) const {
  for (std::uint32_t i = 1; i < kGpsSequences; i++) {
    const std::uint32_t other = (current_seq_ + i) & (kGpsSequences - 1);
    if (fits_32(wrapping_sub64(time, seq_time_[other]))) return i;
  }
  return 0;
}

void LASwriteItemCompressed_GPSTIME11_v2::write_full_time(std::int64_t time) {
  time_.compress(high_half(seq_time_[current_seq_]), high_half(time), kGpsv2ContextHighHalf);
  encoder_.write_int(static_cast<std::uint32_t>(time));
  newest_seq_ = (newest_seq_ + 1) & (kGpsSequences - 1);
  current_seq_ = newest_seq_;
  seq_step_[current_seq_] = 0;
  seq_misses_[current_seq_] = 0;
  seq_time_[current_seq_] = time;
}

bool LASwriteItemCompressed_GPSTIME11_v2::write(const std::uint8_t* item, std::uint32_t&) {
  const std::int64_t time = load_time(item);
  // A time near another sequence switches to it and is coded again there; the sequence
  // switched to is within 32 bits, so this happens at most once.
  for (;;) {
    std::int32_t& step = seq_step_[current_seq_];
    std::int32_t& misses = seq_misses_[current_seq_];
    const std::int64_t difference64 = wrapping_sub64(time, seq_time_[current_seq_]);
    if (step == 0) {
      if (difference64 == 0) {
        encoder_.encode_symbol(zero_diff_, kGpsv2ZeroDiffUnchanged);
        return true;
      }
      if (fits_32(difference64)) {
        const auto difference = static_cast<std::int32_t>(difference64);
        encoder_.encode_symbol(zero_diff_, kGpsv2ZeroDiffFits);
        time_.compress(0, difference, kGpsv2ContextFirstDiff);
        step = difference;
        misses = 0;
        seq_time_[current_seq_] = time;
        return true;
      }
      if (const std::uint32_t i = near_sequence(time)) {
        encoder_.encode_symbol(zero_diff_, kGpsv2ZeroDiffCodeFull + i);
        current_seq_ = (current_seq_ + i) & (kGpsSequences - 1);
        continue;
      }
      encoder_.encode_symbol(zero_diff_, kGpsv2ZeroDiffCodeFull);
      write_full_time(time);
      return true;
    }

    if (difference64 == 0) {
      encoder_.encode_symbol(multi_, kGpsv2MultiUnchanged);
      return true;
    }
    if (!fits_32(difference64)) {
      if (const std::uint32_t i = near_sequence(time)) {
        encoder_.encode_symbol(multi_, kGpsv2MultiCodeFull + i);
        current_seq_ = (current_seq_ + i) & (kGpsSequences - 1);
        continue;
      }
      encoder_.encode_symbol(multi_, kGpsv2MultiCodeFull);
      write_full_time(time);
      return true;
    }

    const auto difference = static_cast<std::int32_t>(difference64);
    const std::int32_t multi = round_multiplier(multiplier_of(difference, step));
    bool extreme = false;
    if (multi == 1) {
      encoder_.encode_symbol(multi_, 1);
      time_.compress(step, difference, kGpsv2ContextSameStep);
      misses = 0;
    } else if (multi > 0) {
      if (multi < static_cast<std::int32_t>(kGpsv2MultiMax)) {
        encoder_.encode_symbol(multi_, static_cast<std::uint32_t>(multi));
        time_.compress(wrapping_mul(multi, step), difference,
                       multi < 10 ? kGpsv2ContextSmallMulti : kGpsv2ContextLargeMulti);
      } else {
        encoder_.encode_symbol(multi_, kGpsv2MultiMax);
        time_.compress(wrapping_mul(kGpsv2MultiMax, step), difference, kGpsv2ContextMaxMulti);
        extreme = true;
      }
    } else if (multi < 0) {
      if (multi > kGpsv2MultiMin) {
        encoder_.encode_symbol(multi_, static_cast<std::uint32_t>(kGpsv2MultiMax - multi));
        time_.compress(wrapping_mul(multi, step), difference, kGpsv2ContextNegativeMulti);
      } else {
        encoder_.encode_symbol(multi_, kGpsv2MultiMax - kGpsv2MultiMin);
        time_.compress(wrapping_mul(kGpsv2MultiMin, step), difference, kGpsv2ContextMinMulti);
        extreme = true;
      }
    } else {
      encoder_.encode_symbol(multi_, 0);
      time_.compress(0, difference, kGpsv2ContextZeroMulti);
      extreme = true;
    }
    if (extreme && ++misses > kGpsExtremeMultiLimit) {
      step = difference;
      misses = 0;
    }
    seq_time_[current_seq_] = time;
    return true;
  }
}

bool LASreadItemCompressed_GPSTIME11_v2::init(ByteStreamIn&, const std::uint8_t* item,
                                              std::uint32_t&) {
  GpsTime11v2Models::init(item);
  return true;
}

void LASreadItemCompressed_GPSTIME11_v2::read(std::uint8_t* item, std::uint32_t&) {
  // The decoder's interval stays in registers for the whole time, and the integer coder is
  // inlined once: every symbol that codes a difference or a full time first says what it
  // is predicted by, then one call decodes it.
  EntropyDecoder::Live decoder(decoder_);
  for (bool switched = false;; switched = true) {
    std::int32_t& step = seq_step_[current_seq_];
    std::int32_t& misses = seq_misses_[current_seq_];
    std::uint32_t switch_by = 0;
    bool coded = false;      // a difference follows, or the high half of a full time
    bool full_time = false;  // a full time: the high half, then the low half raw
    bool new_step = false;   // the difference is the step of a sequence that had none
    bool same_step = false;  // the difference was a step like the last
    bool extreme = false;    // the multiplier was at an end of its range
    std::int32_t prediction = 0;
    std::uint32_t context = 0;
    if (step == 0) {
      const std::uint32_t symbol = decoder.decode_symbol(zero_diff_);
      if (symbol == kGpsv2ZeroDiffFits) {
        coded = new_step = true;
        context = kGpsv2ContextFirstDiff;
      } else if (symbol == kGpsv2ZeroDiffCodeFull) {
        full_time = true;
      } else if (symbol > kGpsv2ZeroDiffCodeFull) {
        switch_by = symbol - kGpsv2ZeroDiffCodeFull;
      }
    } else {
      const std::uint32_t symbol = decoder.decode_symbol(multi_);
      if (symbol < kGpsv2MultiUnchanged) {
        coded = true;
        if (symbol == 1) {
          same_step = true;
          prediction = step;
          context = kGpsv2ContextSameStep;
        } else if (symbol == 0) {
          context = kGpsv2ContextZeroMulti;
          extreme = true;
        } else if (symbol < kGpsv2MultiMax) {
          const auto multi = static_cast<std::int32_t>(symbol);
          prediction = wrapping_mul(multi, step);
          context = multi < 10 ? kGpsv2ContextSmallMulti : kGpsv2ContextLargeMulti;
        } else if (symbol == kGpsv2MultiMax) {
          prediction = wrapping_mul(kGpsv2MultiMax, step);
          context = kGpsv2ContextMaxMulti;
          extreme = true;
        } else {
          const std::int32_t multi =
              static_cast<std::int32_t>(kGpsv2MultiMax) - static_cast<std::int32_t>(symbol);
          if (multi > kGpsv2MultiMin) {
            prediction = wrapping_mul(multi, step);
            context = kGpsv2ContextNegativeMulti;
          } else {
            prediction = wrapping_mul(kGpsv2MultiMin, step);
            context = kGpsv2ContextMinMulti;
            extreme = true;
          }
        }
      } else if (symbol == kGpsv2MultiCodeFull) {
        full_time = true;
      } else if (symbol > kGpsv2MultiCodeFull) {
        switch_by = symbol - kGpsv2MultiCodeFull;
      }
    }
    if (full_time) {
      coded = true;
      prediction = high_half(seq_time_[current_seq_]);
      context = kGpsv2ContextHighHalf;
    }
    if (coded) {
      const std::int32_t value = time_.decompress(decoder, prediction, context);
      if (full_time) {
        const std::uint32_t low = decoder.read_int();
        newest_seq_ = (newest_seq_ + 1) & (kGpsSequences - 1);
        current_seq_ = newest_seq_;
        seq_step_[current_seq_] = 0;
        seq_misses_[current_seq_] = 0;
        seq_time_[current_seq_] = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(value)) << 32) | low);
      } else {
        if (new_step) step = value;
        if (new_step || same_step) misses = 0;
        if (extreme && ++misses > kGpsExtremeMultiLimit) {
          step = value;
          misses = 0;
        }
        seq_time_[current_seq_] = wrapping_add64(seq_time_[current_seq_], value);
      }
    }
    if (switch_by == 0) break;
    if (switched) throw CodecCorruptData{};
    current_seq_ = (current_seq_ + switch_by) & (kGpsSequences - 1);
  }
  decoder.commit();
  store_time(seq_time_[current_seq_], item);
}

// ---- version 1 ----------------------------------------------------------------------------

GpsTime11v1Models::GpsTime11v1Models(EntropyEncoder& encoder)
    : multi_(kGpsv1MultiSymbols, true),
      zero_diff_(kGpsv1ZeroDiffSymbols, true),
      time_(&encoder, kGpsv1Bits, kGpsv1Contexts, kItemCoderHighBits) {}

GpsTime11v1Models::GpsTime11v1Models(EntropyDecoder& decoder)
    : multi_(kGpsv1MultiSymbols, false),
      zero_diff_(kGpsv1ZeroDiffSymbols, false),
      time_(&decoder, kGpsv1Bits, kGpsv1Contexts, kItemCoderHighBits) {}

void GpsTime11v1Models::init(const std::uint8_t* item) {
  step_ = 0;
  misses_ = 0;
  multi_.init();
  zero_diff_.init();
  time_.init();
  last_time_ = load_time(item);
}

bool LASwriteItemCompressed_GPSTIME11_v1::init(const std::uint8_t* item, std::uint32_t&) {
  GpsTime11v1Models::init(item);
  return true;
}

bool LASwriteItemCompressed_GPSTIME11_v1::write(const std::uint8_t* item, std::uint32_t&) {
  const std::int64_t time = load_time(item);
  const std::int64_t difference64 = wrapping_sub64(time, last_time_);
  if (step_ == 0) {
    if (difference64 == 0) {
      encoder_.encode_symbol(zero_diff_, kGpsv1ZeroDiffUnchanged);
      return true;
    }
    if (fits_32(difference64)) {
      const auto difference = static_cast<std::int32_t>(difference64);
      encoder_.encode_symbol(zero_diff_, kGpsv1ZeroDiffFits);
      time_.compress(0, difference, kGpsv1ContextFirstDiff);
      step_ = difference;
    } else {
      encoder_.encode_symbol(zero_diff_, kGpsv1ZeroDiffCodeFull);
      encoder_.write_int64(static_cast<std::uint64_t>(time));
    }
    last_time_ = time;
    return true;
  }

  if (difference64 == 0) {
    encoder_.encode_symbol(multi_, kGpsv1MultiUnchanged);
    return true;
  }
  if (!fits_32(difference64)) {
    encoder_.encode_symbol(multi_, kGpsv1MultiCodeFull);
    encoder_.write_int64(static_cast<std::uint64_t>(time));
    last_time_ = time;
    return true;
  }
  const auto difference = static_cast<std::int32_t>(difference64);
  // Truncated after adding a half, then held to the symbols that code multipliers.
  const float multi_f = multiplier_of(difference, step_) + 0.5f;
  const std::int32_t multi = std::clamp(static_cast<std::int32_t>(multi_f), 0, kGpsv1MultiMax);
  encoder_.encode_symbol(multi_, static_cast<std::uint32_t>(multi));
  bool extreme = false;
  if (multi == 1) {
    time_.compress(step_, difference, kGpsv1ContextSameStep);
    step_ = difference;
    misses_ = 0;
  } else if (multi == 0) {
    time_.compress(step_ / 4, difference, kGpsv1ContextZeroMulti);
    extreme = true;
  } else if (multi < 10) {
    time_.compress(wrapping_mul(multi, step_), difference, kGpsv1ContextSmallMulti);
  } else if (multi < 50) {
    time_.compress(wrapping_mul(multi, step_), difference, kGpsv1ContextMediumMulti);
  } else {
    time_.compress(wrapping_mul(multi, step_), difference, kGpsv1ContextLargeMulti);
    extreme = multi == kGpsv1MultiMax;
  }
  if (extreme && ++misses_ > kGpsExtremeMultiLimit) {
    step_ = difference;
    misses_ = 0;
  }
  last_time_ = time;
  return true;
}

bool LASreadItemCompressed_GPSTIME11_v1::init(ByteStreamIn&, const std::uint8_t* item,
                                              std::uint32_t&) {
  GpsTime11v1Models::init(item);
  return true;
}

void LASreadItemCompressed_GPSTIME11_v1::read(std::uint8_t* item, std::uint32_t&) {
  if (step_ == 0) {
    const std::uint32_t symbol = decoder_.decode_symbol(zero_diff_);
    if (symbol == kGpsv1ZeroDiffFits) {
      step_ = time_.decompress(0, kGpsv1ContextFirstDiff);
      last_time_ = wrapping_add64(last_time_, step_);
    } else if (symbol == kGpsv1ZeroDiffCodeFull) {
      last_time_ = static_cast<std::int64_t>(decoder_.read_int64());
    }
  } else {
    const std::uint32_t symbol = decoder_.decode_symbol(multi_);
    if (symbol < kGpsv1MultiCodeFull) {
      const auto multi = static_cast<std::int32_t>(symbol);
      std::int32_t difference;
      bool extreme = false;
      if (multi == 1) {
        difference = time_.decompress(step_, kGpsv1ContextSameStep);
        step_ = difference;
        misses_ = 0;
      } else if (multi == 0) {
        difference = time_.decompress(step_ / 4, kGpsv1ContextZeroMulti);
        extreme = true;
      } else if (multi < 10) {
        difference = time_.decompress(wrapping_mul(multi, step_), kGpsv1ContextSmallMulti);
      } else if (multi < 50) {
        difference = time_.decompress(wrapping_mul(multi, step_), kGpsv1ContextMediumMulti);
      } else {
        difference = time_.decompress(wrapping_mul(multi, step_), kGpsv1ContextLargeMulti);
        extreme = multi == kGpsv1MultiMax;
      }
      if (extreme && ++misses_ > kGpsExtremeMultiLimit) {
        step_ = difference;
        misses_ = 0;
      }
      last_time_ = wrapping_add64(last_time_, difference);
    } else if (symbol == kGpsv1MultiCodeFull) {
      last_time_ = static_cast<std::int64_t>(decoder_.read_int64());
    }
  }
  store_time(last_time_, item);
}
