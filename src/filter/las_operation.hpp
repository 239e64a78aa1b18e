#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "filter/las_record_layout.hpp"
#include "model/las_attribute.hpp"
#include "model/las_point.hpp"
#include "model/las_scaling.hpp"

// Bits of LASpoint fields that operations change (LAStransform::changed_fields).
inline constexpr std::uint32_t kChangedX = 1;
inline constexpr std::uint32_t kChangedY = 2;
inline constexpr std::uint32_t kChangedZ = 4;
inline constexpr std::uint32_t kChangedRGB = 131072;
inline constexpr std::uint32_t kChangedNIR = 33554432;

// Point layers an operation must read (get_selective_decoding), the same bits as the
// compressed reader's selective decoding; x and y need none.
namespace transform_layers {
inline constexpr std::uint32_t kZ = 1;
inline constexpr std::uint32_t kClassification = 2;
inline constexpr std::uint32_t kFlags = 4;
inline constexpr std::uint32_t kIntensity = 8;
inline constexpr std::uint32_t kScanAngle = 16;
inline constexpr std::uint32_t kUserData = 32;
inline constexpr std::uint32_t kPointSource = 64;
inline constexpr std::uint32_t kGpsTime = 128;
inline constexpr std::uint32_t kRGB = 256;
inline constexpr std::uint32_t kNIR = 512;
inline constexpr std::uint32_t kWavePacket = 1024;
inline constexpr std::uint32_t kExtraBytes = 4294901760u;
}  // namespace transform_layers

// One change a transform applies to every point it sees.
//
// `write_command` writes the operation as command-line text ("-" + name, then each argument
// followed by one blank) into `buffer` (at most `size` bytes, always terminated) and returns
// the number of characters of the full text. `overflow` counts the coordinates that did not
// fit the stored 32-bit integer since the last `reset`.
class LASoperation {
 public:
  std::int64_t overflow = 0;

  LASoperation() = default;
  LASoperation(const LASoperation&) = delete;
  LASoperation& operator=(const LASoperation&) = delete;
  virtual ~LASoperation() = default;

  virtual const char* name() const = 0;
  virtual int write_command(char* buffer, std::size_t size) const {
    return print(buffer, size, "-%s ", name());
  }
  virtual std::uint32_t get_selective_decoding() const { return 0; }
  virtual void transform(LASpoint& point) = 0;
  // Forgets the overflows of the previous pass; stateful operations start afresh too.
  virtual void reset() { overflow = 0; }

  // The record form: whether `transform_records` can change stored records of `layout` in
  // place, giving exactly the bytes (and the overflow count) that filling each point,
  // `transform` and storing it again would give. It reads only fields the records hold, so
  // a chain of record forms needs no point between its operations. Most operations have
  // none.
  virtual bool has_record_form(const LASrecordLayout& layout) const {
    (void)layout;
    return false;
  }
  // `count` records of `layout.size` bytes, one after the other, in reading order.
  virtual void transform_records(std::uint8_t* records, std::size_t count,
                                 const LASrecordLayout& layout) {
    (void)records;
    (void)count;
    (void)layout;
  }
  // The fields the record form writes (record_writes bits).
  virtual std::uint32_t record_writes() const { return record_writes::kAll; }

 protected:
  // snprintf that returns 0 instead of a negative count.
  static int print(char* buffer, std::size_t size, const char* format, ...)
      __attribute__((format(printf, 3, 4))) {
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(buffer, size, format, arguments);
    va_end(arguments);
    return written < 0 ? 0 : written;
  }

  // The store rule: the coordinate back to the stored integer with the point's scale and
  // offset, rounded half away from zero, low 32 bits kept; a value beyond 32 bits counts as
  // one overflow.
  // `Point` is a LASpoint or the LASrecordCoordinates of a record.
  template <class Point>
  void store_x(Point& point, double x) {
    if (!point.set_x(x)) overflow++;
  }
  template <class Point>
  void store_y(Point& point, double y) {
    if (!point.set_y(y)) overflow++;
  }
  template <class Point>
  void store_z(Point& point, double z) {
    if (!point.set_z(z)) overflow++;
  }
};

// Helpers shared by the operation families.
namespace operation_values {

// Intensity arithmetic: 0 at or below 0, 65535 at or above, else truncated toward zero.
inline std::uint16_t clamp_intensity(float value) {
  if (!(value > 0.0f)) return 0;
  if (value >= 65535.0f) return 65535;
  return static_cast<std::uint16_t>(value);
}
// User data arithmetic, the same way into 0 ... 255.
inline std::uint8_t clamp_user_data(float value) {
  if (!(value > 0.0f)) return 0;
  if (value >= 255.0f) return 255;
  return static_cast<std::uint8_t>(value);
}
// The 8-bit scan angle rank: rounded half away from zero, clamped to -128 ... 127.
inline std::int8_t clamp_scan_angle_rank(float value) {
  const float rounded = value >= 0.0f ? value + 0.5f : value - 0.5f;
  if (!(rounded > -128.0f)) return -128;
  if (rounded >= 127.0f) return 127;
  return static_cast<std::int8_t>(static_cast<int>(rounded));
}
// A colour channel times a factor, clamped to 0 ... 65535 and truncated.
inline std::uint16_t clamp_channel(float value) {
  return clamp_intensity(value);
}

// Attribute `index` of the point, 0 when the point's header does not define it.
inline double attribute_value(const LASpoint& point, std::uint32_t index) {
  if (point.attribute_set == nullptr) return 0.0;
  return point.attribute_set->get_value(point.extra_bytes.data(), point.extra_bytes_size,
                                        static_cast<int>(index));
}
// Stores `value` through the header's description of the attribute (offset and scale
// removed, rounded into the stored type); an undefined attribute is left alone.
inline void set_attribute_value(LASpoint& point, std::uint32_t index, double value) {
  if (point.attribute_set == nullptr) return;
  point.attribute_set->set_value(point.extra_bytes.data(), point.extra_bytes_size,
                                 static_cast<int>(index), value);
}
inline bool has_attribute(const LASpoint& point, std::uint32_t index) {
  return point.attribute_set != nullptr &&
         index < static_cast<std::uint32_t>(point.attribute_set->attribute_count());
}

}  // namespace operation_values
