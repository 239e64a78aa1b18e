#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "model/header_layout.hpp"

// An 8-byte no-data, minimum or maximum value of an attribute: unsigned types keep it as
// u64, signed types as i64, floating types as f64.
union LASattributeValue {
  std::uint64_t u64;
  std::int64_t i64;
  double f64;
};

// One extra-bytes attribute, laid out byte for byte as its 192 bytes in the "LASF_Spec" 4
// record, so that a payload is loaded and stored with one copy.
//
// `data_type` 0 means `options` undocumented bytes; 1-10 are U8, I8, U16, I16, U32, I32, U64,
// I64, F32, F64; 11-20 and 21-30 are two- and three-element arrays of the same (deprecated).
struct LASattributeDescriptor {
  enum Option : std::uint8_t {
    kNoDataValid = 1,
    kMinValid = 2,
    kMaxValid = 4,
    kScaleValid = 8,
    kOffsetValid = 16,
  };
  enum BaseType : int { U8, I8, U16, I16, U32, I32, U64, I64, F32, F64 };

  std::uint8_t reserved[2] = {0, 0};
  std::uint8_t data_type = 0;
  std::uint8_t options = 0;
  char name[32] = {};
  std::uint8_t unused[4] = {0, 0, 0, 0};
  LASattributeValue no_data[3] = {};
  LASattributeValue min[3] = {};
  LASattributeValue max[3] = {};
  double scale[3] = {0.0, 0.0, 0.0};
  double offset[3] = {0.0, 0.0, 0.0};
  char description[32] = {};

  LASattributeDescriptor() = default;
  // A descriptor of the given type; name and description are cut to 32 bytes.
  LASattributeDescriptor(std::uint8_t type, std::string_view attribute_name,
                         std::string_view attribute_description);

  std::string_view name_text() const;
  std::string_view description_text() const;
  void set_name(std::string_view text);
  void set_description(std::string_view text);

  bool has_no_data() const { return options & kNoDataValid; }
  bool has_min() const { return options & kMinValid; }
  bool has_max() const { return options & kMaxValid; }
  bool has_scale() const { return options & kScaleValid; }
  bool has_offset() const { return options & kOffsetValid; }
  // Set the first element's value and its option bit. No-data, minimum and maximum are
  // stored in the representation of the base type (integers rounded half away from zero).
  void set_scale(double value);
  void set_offset(double value);
  void set_no_data(double value);
  void set_min(double value);
  void set_max(double value);

  // Base type of each element (meaningless for data_type 0) and number of elements (1-3 for
  // the documented types, more for undefined type codes).
  BaseType base_type() const { return static_cast<BaseType>((data_type - 1) % 10); }
  int dimension() const { return data_type == 0 ? 1 : (data_type - 1) / 10 + 1; }
  bool is_deprecated() const { return data_type > 10; }

  // The value of `raw` in this descriptor's base type, as a double.
  double value_as_double(const LASattributeValue& raw) const;
  LASattributeValue value_from_double(double value) const;
};

static_assert(sizeof(LASattributeDescriptor) == kAttributeDescriptorSize);
static_assert(offsetof(LASattributeDescriptor, name) == 4);
static_assert(offsetof(LASattributeDescriptor, no_data) == 40);
static_assert(offsetof(LASattributeDescriptor, scale) == 112);
static_assert(offsetof(LASattributeDescriptor, description) == 160);

// Byte size of one attribute inside a point's extra bytes: `options` bytes for type 0,
// otherwise element size (1, 1, 2, 2, 4, 4, 8, 8, 4, 8 by base type) times the dimension.
std::int32_t attribute_size(const LASattributeDescriptor& descriptor);

// The extra-bytes attributes of a file: their descriptors and where each one lies inside a
// point's extra bytes (offset 0 for the first, each next one right after the previous).
// A LASpoint borrows the set of its header. Offsets and sizes come from the descriptors and
// are never checked against a point's extra bytes here: the value accessors check them.
class LASattributeSet {
 public:
  std::int32_t attribute_count() const { return static_cast<std::int32_t>(descriptors_.size()); }
  const LASattributeDescriptor& descriptor(int index) const { return descriptors_[index]; }
  // For values such as minimum and maximum; changing `data_type` or `options` of a type-0
  // attribute through it would leave the offsets stale (use load_descriptors instead).
  LASattributeDescriptor& descriptor(int index) { return descriptors_[index]; }
  const std::vector<LASattributeDescriptor>& descriptors() const { return descriptors_; }
  std::int32_t attribute_offset(int index) const { return attribute_offsets_[index]; }
  std::int32_t attribute_width(int index) const { return attribute_widths_[index]; }
  // Extra bytes the attributes cover: the end of the last one, 0 without attributes.
  std::int32_t attribute_bytes() const;
  // Index of the first attribute with this name, -1 when none.
  int find_attribute(std::string_view name) const;

  // Appends an attribute; its index, or -1 (nothing added) when its size would be 0.
  int add_attribute(const LASattributeDescriptor& descriptor);
  // Replaces the set by the descriptors of an extra-bytes payload: payload_length / 192 of
  // them, trailing bytes ignored. Descriptors of size 0 are kept, so indices match the file.
  void load_descriptors(const std::uint8_t* payload, std::size_t payload_length);
  void clear_attributes();
  // The descriptors as the bytes of an extra-bytes payload.
  std::vector<std::uint8_t> descriptor_payload() const;

  // The value of attribute `index` (element `element` of an array type) in a point's extra
  // bytes, with the attribute's scale and offset applied when valid. 0 when the index is not
  // defined, the type is undocumented or the bytes lie beyond `extra_bytes_size`.
  double get_value(const std::uint8_t* extra_bytes, std::int32_t extra_bytes_size, int index,
                   int element = 0) const;
  // Stores `value` into attribute `index`: removes the offset and scale when valid, rounds
  // half away from zero for integer types and clamps to the type's range. False, leaving the
  // bytes unchanged, when the attribute is not defined or does not fit `extra_bytes_size`.
  bool set_value(std::uint8_t* extra_bytes, std::int32_t extra_bytes_size, int index, double value,
                 int element = 0) const;

 private:
  bool locate(std::int32_t extra_bytes_size, int index, int element,
              std::int32_t& byte_offset) const;

  std::vector<LASattributeDescriptor> descriptors_;
  std::vector<std::int32_t> attribute_offsets_;
  std::vector<std::int32_t> attribute_widths_;
};
