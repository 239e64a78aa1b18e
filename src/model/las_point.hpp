#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/las_item.hpp"
#include "model/las_scaling.hpp"

class LASattributeSet;

// The fixed fields of a point record: the union of the fields of LAS point types 0-10.
// The first 20 bytes are laid out exactly as the POINT10 item, so that item is copied in
// and out with one 20-byte copy. Bit-fields are allocated from the least significant bit
// (the ABI of every platform we build on), which gives the record bytes of the LAS format.
struct LASpointFields {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  std::int32_t Z = 0;
  std::uint16_t intensity = 0;
  // return byte
  std::uint8_t return_number : 3 = 1;
  std::uint8_t number_of_returns : 3 = 1;
  std::uint8_t scan_direction_flag : 1 = 0;
  std::uint8_t edge_of_flight_line : 1 = 0;
  // class byte
  std::uint8_t classification : 5 = 0;
  std::uint8_t synthetic_flag : 1 = 0;
  std::uint8_t keypoint_flag : 1 = 0;
  std::uint8_t withheld_flag : 1 = 0;
  std::int8_t scan_angle_rank = 0;
  std::uint8_t user_data = 0;
  std::uint16_t point_source_ID = 0;
  // ---- end of the POINT10 bytes ----
  std::int16_t extended_scan_angle = 0;  // units of 0.006 degree
  // extended byte
  std::uint8_t extended_layout : 2 = 0;  // non-zero for point types 6-10
  std::uint8_t extended_scanner_channel : 2 = 0;
  std::uint8_t extended_classification_flags : 4 = 0;  // synthetic, keypoint, withheld, overlap
  std::uint8_t extended_classification = 0;
  // extended return byte
  std::uint8_t extended_return_number : 4 = 1;
  std::uint8_t extended_number_of_returns : 4 = 1;
  std::uint8_t deletion_mark = 0;  // non-zero: removed by the noise tool
  double gps_time = 0.0;
  std::uint16_t rgb[4] = {0, 0, 0, 0};  // red, green, blue, near infrared
  std::uint8_t wave_packet[29] = {};    // the wave packet item as stored on disk
};

static_assert(offsetof(LASpointFields, intensity) == 12);
static_assert(offsetof(LASpointFields, scan_angle_rank) == 16);
static_assert(offsetof(LASpointFields, point_source_ID) == 18);

// Byte sizes of the items that live inside the point.
inline constexpr int kPoint10Size = 20;
inline constexpr int kPoint14Size = 30;
inline constexpr int kWavePacketSize = 29;

// One point record, laid out by a list of items. Readers fill it, filters, transforms and
// the noise tool inspect and change it, writers store it. `item_data[i]` is where the bytes
// of item i live inside this point: for POINT10 and POINT14 it is the address of the
// LASpointFields part (POINT14 codecs recover the point with `from_item`), for the other
// items the matching field, for the byte items the `extra_bytes` buffer.
// A copy is bound to the same items as its source, with `item_data` pointing into the copy.
// `scaling` and `attribute_set` are borrowed and must outlive the point.
class LASpoint : public LASpointFields {
 public:
  std::vector<std::uint8_t> extra_bytes;  // the record's extra bytes, extra_bytes_size long
  const LASscaling* scaling = nullptr;
  double coordinates[3] = {0.0, 0.0, 0.0};  // cache filled by fill_coordinates
  const LASattributeSet* attribute_set = nullptr;
  std::vector<std::uint8_t*> item_data;
  bool has_gps_time = false;
  bool has_rgb = false;
  bool has_nir = false;
  bool has_wave_packet = false;
  std::int32_t extra_bytes_size = 0;
  std::int32_t record_size = 0;  // sum of the item sizes
  std::uint16_t num_items = 0;
  std::vector<LASitem> items;

  LASpoint() = default;
  LASpoint(const LASpoint& other);
  LASpoint& operator=(const LASpoint& other);
  LASpoint(LASpoint&& other) noexcept;
  LASpoint& operator=(LASpoint&& other) noexcept;
  ~LASpoint() = default;

  // Binds the point to an item list (after `reset`). False, without a message, for an item
  // type that is not in the table of item types.
  bool init_layout(const LASscaling* scaling, std::uint16_t num_items, const LASitem* items,
                   const LASattributeSet* attribute_set);
  // Binds the point to the item list of a standard point type and record length. Prints
  // "ERROR: unknown point type %d with point size %d" and returns false (the point stays
  // reset) for a point type above 10.
  bool init_for_point_type(const LASscaling* scaling, std::uint8_t point_type,
                           std::uint16_t record_length, const LASattributeSet* attribute_set);
  // The empty point: every value zero, return 1 of 1 (legacy and extended), no layout.
  void reset();
  // Copies the values of `other` (fixed fields and as many extra bytes as both hold) and
  // keeps this point's own layout.
  void copy_values_from(const LASpoint& other);
  // Sets all values to those of a reset point and keeps the layout (extra bytes zeroed).
  void clear_values();

  // The point whose POINT10 or POINT14 item data pointer is `item`.
  static LASpoint& from_item(std::uint8_t* item) {
    return static_cast<LASpoint&>(*reinterpret_cast<LASpointFields*>(item));
  }
  static const LASpoint& from_item(const std::uint8_t* item) {
    return static_cast<const LASpoint&>(*reinterpret_cast<const LASpointFields*>(item));
  }

  // Coordinates through `scaling`.
  double get_x() const { return scaling->get_x(X); }
  double get_y() const { return scaling->get_y(Y); }
  double get_z() const { return scaling->get_z(Z); }
  void fill_coordinates() {
    coordinates[0] = get_x();
    coordinates[1] = get_y();
    coordinates[2] = get_z();
  }
  // Store the quantized value; false when it did not fit 32 bits (the field then holds the
  // value wrapped to 32 bits).
  bool set_x(double x);
  bool set_y(double y);
  bool set_z(double z);

  // Mutators that keep the legacy and the extended fields in step.
  void set_classification(std::uint8_t classification_code);
  void set_synthetic_flag(bool value);
  void set_keypoint_flag(bool value);
  void set_withheld_flag(bool value);
  void set_overlap_flag(bool value);
  bool get_overlap_flag() const { return (extended_classification_flags & 0x8) != 0; }
  void set_return_number(std::uint8_t value);
  void set_number_of_returns(std::uint8_t value);
  void set_extended_return_number(std::uint8_t value) { extended_return_number = value & 0xF; }
  void set_extended_number_of_returns(std::uint8_t value) {
    extended_number_of_returns = value & 0xF;
  }
  void set_extended_scanner_channel(std::uint8_t channel) {
    extended_scanner_channel = channel & 0x3;
  }
  // Degrees, single precision: the extended angle in 0.006 degree units for point types
  // 6-10, the 8-bit rank otherwise; rounded half away from zero.
  void set_scan_angle(float degrees);
  float get_scan_angle() const;

  // The classification and return number as the 4-bit/8-bit extended values when the
  // point has the extended layout, the legacy ones otherwise.
  std::uint8_t get_classification() const {
    return extended_layout ? (classification ? classification : extended_classification)
                           : classification;
  }
  std::uint8_t get_inventory_return_number() const {
    return extended_layout ? extended_return_number : return_number;
  }

  // The 30-byte POINT14 item, converted field by field in either direction.
  void read_point14(const std::uint8_t* bytes);
  void write_point14(std::uint8_t* bytes) const;

 private:
  // Every value and layout field but the owned buffers, which the caller copies or moves.
  void copy_layout_scalars(const LASpoint& other);
  void bind_item_data();
};
