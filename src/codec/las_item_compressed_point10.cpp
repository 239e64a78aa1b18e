#include "codec/las_item_compressed_point10.hpp"

#include <algorithm>
#include <cstring>

namespace {

Point10Record load(const std::uint8_t* item) {
  Point10Record record;
  std::memcpy(&record, item, sizeof(record));
  return record;
}

void store(const Point10Record& record, std::uint8_t* item) {
  std::memcpy(item, &record, sizeof(record));
}

std::uint32_t bit_if(bool condition, std::uint32_t bit) {
  return condition ? bit : 0u;
}

// The coordinate coders switch context by the bit-length class of the differences before:
// even classes only, capped, and a context of its own for single returns.
std::uint32_t class_context(std::uint32_t k, std::uint32_t cap) {
  return k < cap ? (k & ~1u) : cap;
}

std::int32_t median3(const std::int32_t* v) {
  return std::max(std::min(v[0], v[1]), std::min(std::max(v[0], v[1]), v[2]));
}

}  // namespace

// ---- version 2 ----------------------------------------------------------------------------

Point10v2Models::Point10v2Models(EntropyEncoder& encoder)
    : changed_values_(kPoint10ChangedSymbols, true),
      scan_angle_{{kByteSymbols, true}, {kByteSymbols, true}},
      return_byte_(true),
      class_byte_(true),
      user_data_(true),
      intensity_(&encoder, kPoint10v2IntensityBits, kPoint10v2IntensityContexts,
                 kItemCoderHighBits),
      point_source_(&encoder, kPoint10v2PointSourceBits, 1, kItemCoderHighBits),
      dx_(&encoder, kPoint10v2CoordinateBits, kPoint10v2DxContexts, kItemCoderHighBits),
      dy_(&encoder, kPoint10v2CoordinateBits, kPoint10v2DyContexts, kItemCoderHighBits),
      z_(&encoder, kPoint10v2CoordinateBits, kPoint10v2ZContexts, kItemCoderHighBits) {}

Point10v2Models::Point10v2Models(EntropyDecoder& decoder)
    : changed_values_(kPoint10ChangedSymbols, false),
      scan_angle_{{kByteSymbols, false}, {kByteSymbols, false}},
      return_byte_(false),
      class_byte_(false),
      user_data_(false),
      intensity_(&decoder, kPoint10v2IntensityBits, kPoint10v2IntensityContexts,
                 kItemCoderHighBits),
      point_source_(&decoder, kPoint10v2PointSourceBits, 1, kItemCoderHighBits),
      dx_(&decoder, kPoint10v2CoordinateBits, kPoint10v2DxContexts, kItemCoderHighBits),
      dy_(&decoder, kPoint10v2CoordinateBits, kPoint10v2DyContexts, kItemCoderHighBits),
      z_(&decoder, kPoint10v2CoordinateBits, kPoint10v2ZContexts, kItemCoderHighBits) {}

void Point10v2Models::init(const std::uint8_t* item) {
  for (std::uint32_t m = 0; m < kReturnClasses; m++) {
    dx_median_[m].reset();
    dy_median_[m].reset();
    intensity_by_class_[m] = 0;
  }
  std::fill(std::begin(z_by_depth_), std::end(z_by_depth_), 0);
  changed_values_.init();
  scan_angle_[0].init();
  scan_angle_[1].init();
  return_byte_.init();
  class_byte_.init();
  user_data_.init();
  intensity_.init();
  point_source_.init();
  dx_.init();
  dy_.init();
  z_.init();
  last_ = load(item);
  // The intensity memories start at 0, and q's intensity must agree with the memory of
  // its class: a point that changes nothing keeps q's intensity.
  last_.intensity = 0;
}

bool LASwriteItemCompressed_POINT10_v2::init(const std::uint8_t* item, std::uint32_t&) {
  Point10v2Models::init(item);
  return true;
}

bool LASwriteItemCompressed_POINT10_v2::write(const std::uint8_t* item, std::uint32_t&) {
  const Point10Record p = load(item);
  const std::uint32_t r = return_number_of(p.return_byte);
  const std::uint32_t n = number_of_returns_of(p.return_byte);
  const std::uint32_t m = kReturnClass[n][r];
  const std::uint32_t l = kReturnDepth[n][r];
  const std::uint32_t single = n == 1 ? 1 : 0;

  const std::uint32_t changed =
      bit_if(p.return_byte != last_.return_byte, kPoint10v2ChangedReturnByte) |
      bit_if(p.intensity != intensity_by_class_[m], kPoint10v2ChangedIntensity) |
      bit_if(p.class_byte != last_.class_byte, kPoint10v2ChangedClassByte) |
      bit_if(p.scan_angle_rank != last_.scan_angle_rank, kPoint10v2ChangedScanAngle) |
      bit_if(p.user_data != last_.user_data, kPoint10v2ChangedUserData) |
      bit_if(p.point_source_ID != last_.point_source_ID, kPoint10v2ChangedPointSource);
  encoder_.encode_symbol(changed_values_, changed);

  if (changed & kPoint10v2ChangedReturnByte) {
    encoder_.encode_symbol(return_byte_[last_.return_byte], p.return_byte);
  }
  if (changed & kPoint10v2ChangedIntensity) {
    intensity_.compress(intensity_by_class_[m], p.intensity, std::min(m, 3u));
    intensity_by_class_[m] = p.intensity;
  }
  if (changed & kPoint10v2ChangedClassByte) {
    encoder_.encode_symbol(class_byte_[last_.class_byte], p.class_byte);
  }
  if (changed & kPoint10v2ChangedScanAngle) {
    encoder_.encode_symbol(scan_angle_[scan_direction_of(p.return_byte)],
                           byte_fold(p.scan_angle_rank - last_.scan_angle_rank));
  }
  if (changed & kPoint10v2ChangedUserData) {
    encoder_.encode_symbol(user_data_[last_.user_data], p.user_data);
  }
  if (changed & kPoint10v2ChangedPointSource) {
    point_source_.compress(last_.point_source_ID, p.point_source_ID, 0);
  }

  const std::int32_t dx = wrapping_sub(p.x, last_.x);
  dx_.compress(dx_median_[m].get(), dx, single);
  dx_median_[m].add(dx);

  const std::int32_t dy = wrapping_sub(p.y, last_.y);
  dy_.compress(dy_median_[m].get(), dy, class_context(dx_.get_k(), kPoint10v2DyClassCap) + single);
  dy_median_[m].add(dy);

  const std::uint32_t kz = (dx_.get_k() + dy_.get_k()) / 2;
  z_.compress(z_by_depth_[l], p.z, class_context(kz, kPoint10v2ZClassCap) + single);
  z_by_depth_[l] = p.z;

  last_ = p;
  return true;
}

bool LASreadItemCompressed_POINT10_v2::init(ByteStreamIn&, const std::uint8_t* item,
                                            std::uint32_t&) {
  Point10v2Models::init(item);
  return true;
}

void LASreadItemCompressed_POINT10_v2::read(std::uint8_t* item, std::uint32_t&) {
  // The decoder's interval stays in registers for the whole point.
  EntropyDecoder::Live decoder(decoder_);
  const std::uint32_t changed = decoder.decode_symbol(changed_values_);
  std::uint32_t m;
  std::uint32_t l;
  std::uint32_t n;
  if (changed) {
    if (changed & kPoint10v2ChangedReturnByte) {
      last_.return_byte =
          static_cast<std::uint8_t>(decoder.decode_symbol(return_byte_[last_.return_byte]));
    }
    const std::uint32_t r = return_number_of(last_.return_byte);
    n = number_of_returns_of(last_.return_byte);
    m = kReturnClass[n][r];
    l = kReturnDepth[n][r];
    if (changed & kPoint10v2ChangedIntensity) {
      last_.intensity = static_cast<std::uint16_t>(
          intensity_.decompress(decoder, intensity_by_class_[m], std::min(m, 3u)));
      intensity_by_class_[m] = last_.intensity;
    } else {
      last_.intensity = intensity_by_class_[m];
    }
    if (changed & kPoint10v2ChangedClassByte) {
      last_.class_byte =
          static_cast<std::uint8_t>(decoder.decode_symbol(class_byte_[last_.class_byte]));
    }
    if (changed & kPoint10v2ChangedScanAngle) {
      const std::uint32_t difference =
          decoder.decode_symbol(scan_angle_[scan_direction_of(last_.return_byte)]);
      last_.scan_angle_rank = static_cast<std::uint8_t>(last_.scan_angle_rank + difference);
    }
    if (changed & kPoint10v2ChangedUserData) {
      last_.user_data =
          static_cast<std::uint8_t>(decoder.decode_symbol(user_data_[last_.user_data]));
    }
    if (changed & kPoint10v2ChangedPointSource) {
      last_.point_source_ID =
          static_cast<std::uint16_t>(point_source_.decompress(decoder, last_.point_source_ID, 0));
    }
  } else {
    const std::uint32_t r = return_number_of(last_.return_byte);
    n = number_of_returns_of(last_.return_byte);
    m = kReturnClass[n][r];
    l = kReturnDepth[n][r];
  }
  const std::uint32_t single = n == 1 ? 1 : 0;

  const std::int32_t dx = dx_.decompress(decoder, dx_median_[m].get(), single);
  last_.x = wrapping_add(last_.x, dx);
  dx_median_[m].add(dx);

  const std::int32_t dy = dy_.decompress(decoder, dy_median_[m].get(),
                                         class_context(dx_.get_k(), kPoint10v2DyClassCap) + single);
  last_.y = wrapping_add(last_.y, dy);
  dy_median_[m].add(dy);

  const std::uint32_t kz = (dx_.get_k() + dy_.get_k()) / 2;
  last_.z = z_.decompress(decoder, z_by_depth_[l], class_context(kz, kPoint10v2ZClassCap) + single);
  z_by_depth_[l] = last_.z;
  decoder.commit();

  store(last_, item);
}

// ---- version 1 ----------------------------------------------------------------------------

Point10v1Models::Point10v1Models(EntropyEncoder& encoder)
    : changed_values_(kPoint10ChangedSymbols, true),
      return_byte_(true),
      class_byte_(true),
      user_data_(true),
      dx_(&encoder, kPoint10v1CoordinateBits, kPoint10v1DxContexts, kItemCoderHighBits),
      dy_(&encoder, kPoint10v1CoordinateBits, kPoint10v1DyContexts, kItemCoderHighBits),
      z_(&encoder, kPoint10v1CoordinateBits, kPoint10v1ZContexts, kItemCoderHighBits),
      intensity_(&encoder, kPoint10v1IntensityBits, 1, kItemCoderHighBits),
      scan_angle_(&encoder, kPoint10v1ScanAngleBits, kPoint10v1ScanAngleContexts,
                  kItemCoderHighBits),
      point_source_(&encoder, kPoint10v1PointSourceBits, 1, kItemCoderHighBits) {}

Point10v1Models::Point10v1Models(EntropyDecoder& decoder)
    : changed_values_(kPoint10ChangedSymbols, false),
      return_byte_(false),
      class_byte_(false),
      user_data_(false),
      dx_(&decoder, kPoint10v1CoordinateBits, kPoint10v1DxContexts, kItemCoderHighBits),
      dy_(&decoder, kPoint10v1CoordinateBits, kPoint10v1DyContexts, kItemCoderHighBits),
      z_(&decoder, kPoint10v1CoordinateBits, kPoint10v1ZContexts, kItemCoderHighBits),
      intensity_(&decoder, kPoint10v1IntensityBits, 1, kItemCoderHighBits),
      scan_angle_(&decoder, kPoint10v1ScanAngleBits, kPoint10v1ScanAngleContexts,
                  kItemCoderHighBits),
      point_source_(&decoder, kPoint10v1PointSourceBits, 1, kItemCoderHighBits) {}

void Point10v1Models::init(const std::uint8_t* item) {
  std::fill(std::begin(last_dx_), std::end(last_dx_), 0);
  std::fill(std::begin(last_dy_), std::end(last_dy_), 0);
  diff_index_ = 0;
  dx_.init();
  dy_.init();
  z_.init();
  intensity_.init();
  scan_angle_.init();
  point_source_.init();
  changed_values_.init();
  return_byte_.init();
  class_byte_.init();
  user_data_.init();
  last_ = load(item);
}

std::int32_t Point10v1Models::median_dx() const {
  return median3(last_dx_);
}
std::int32_t Point10v1Models::median_dy() const {
  return median3(last_dy_);
}

bool LASwriteItemCompressed_POINT10_v1::init(const std::uint8_t* item, std::uint32_t&) {
  Point10v1Models::init(item);
  return true;
}

bool LASwriteItemCompressed_POINT10_v1::write(const std::uint8_t* item, std::uint32_t&) {
  const Point10Record p = load(item);

  const std::int32_t dx = wrapping_sub(p.x, last_.x);
  const std::int32_t dy = wrapping_sub(p.y, last_.y);
  dx_.compress(median_dx(), dx, 0);
  const std::uint32_t kx = dx_.get_k();
  dy_.compress(median_dy(), dy, std::min(kx, kPoint10v1ClassCap));
  const std::uint32_t kxy = kx + dy_.get_k();
  z_.compress(last_.z, p.z, std::min(kxy / 2, kPoint10v1ClassCap));

  const std::uint32_t changed =
      bit_if(p.intensity != last_.intensity, kPoint10v1ChangedIntensity) |
      bit_if(p.return_byte != last_.return_byte, kPoint10v1ChangedReturnByte) |
      bit_if(p.class_byte != last_.class_byte, kPoint10v1ChangedClassByte) |
      bit_if(p.scan_angle_rank != last_.scan_angle_rank, kPoint10v1ChangedScanAngle) |
      bit_if(p.user_data != last_.user_data, kPoint10v1ChangedUserData) |
      bit_if(p.point_source_ID != last_.point_source_ID, kPoint10v1ChangedPointSource);
  encoder_.encode_symbol(changed_values_, changed);

  if (changed & kPoint10v1ChangedIntensity) intensity_.compress(last_.intensity, p.intensity, 0);
  if (changed & kPoint10v1ChangedReturnByte) {
    encoder_.encode_symbol(return_byte_[last_.return_byte], p.return_byte);
  }
  if (changed & kPoint10v1ChangedClassByte) {
    encoder_.encode_symbol(class_byte_[last_.class_byte], p.class_byte);
  }
  if (changed & kPoint10v1ChangedScanAngle) {
    scan_angle_.compress(last_.scan_angle_rank, p.scan_angle_rank,
                         kxy < kPoint10v1ScanAngleSmallClasses ? 1 : 0);
  }
  if (changed & kPoint10v1ChangedUserData) {
    encoder_.encode_symbol(user_data_[last_.user_data], p.user_data);
  }
  if (changed & kPoint10v1ChangedPointSource) {
    point_source_.compress(last_.point_source_ID, p.point_source_ID, 0);
  }

  remember(dx, dy);
  last_ = p;
  return true;
}

bool LASreadItemCompressed_POINT10_v1::init(ByteStreamIn&, const std::uint8_t* item,
                                            std::uint32_t&) {
  Point10v1Models::init(item);
  return true;
}

void LASreadItemCompressed_POINT10_v1::read(std::uint8_t* item, std::uint32_t&) {
  const std::int32_t dx = dx_.decompress(median_dx(), 0);
  last_.x = wrapping_add(last_.x, dx);
  const std::uint32_t kx = dx_.get_k();
  const std::int32_t dy = dy_.decompress(median_dy(), std::min(kx, kPoint10v1ClassCap));
  last_.y = wrapping_add(last_.y, dy);
  const std::uint32_t kxy = kx + dy_.get_k();
  last_.z = z_.decompress(last_.z, std::min(kxy / 2, kPoint10v1ClassCap));

  const std::uint32_t changed = decoder_.decode_symbol(changed_values_);
  if (changed) {
    if (changed & kPoint10v1ChangedIntensity) {
      last_.intensity = static_cast<std::uint16_t>(intensity_.decompress(last_.intensity, 0));
    }
    if (changed & kPoint10v1ChangedReturnByte) {
      last_.return_byte =
          static_cast<std::uint8_t>(decoder_.decode_symbol(return_byte_[last_.return_byte]));
    }
    if (changed & kPoint10v1ChangedClassByte) {
      last_.class_byte =
          static_cast<std::uint8_t>(decoder_.decode_symbol(class_byte_[last_.class_byte]));
    }
    if (changed & kPoint10v1ChangedScanAngle) {
      last_.scan_angle_rank = static_cast<std::uint8_t>(scan_angle_.decompress(
          last_.scan_angle_rank, kxy < kPoint10v1ScanAngleSmallClasses ? 1 : 0));
    }
    if (changed & kPoint10v1ChangedUserData) {
      last_.user_data =
          static_cast<std::uint8_t>(decoder_.decode_symbol(user_data_[last_.user_data]));
    }
    if (changed & kPoint10v1ChangedPointSource) {
      last_.point_source_ID =
          static_cast<std::uint16_t>(point_source_.decompress(last_.point_source_ID, 0));
    }
  }

  remember(dx, dy);
  store(last_, item);
}
