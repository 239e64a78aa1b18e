#pragma once

// The option table of the point transform and its family handlers share these: one row
// per option, and the call of a row with the arguments found after the option.

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "filter/las_operation.hpp"
#include "filter/las_transform.hpp"
#include "options/command_options.hpp"

namespace transform_options {

struct Row;

// One option found on the command line: its arguments and the messages about them.
struct Call {
  const Row& row;
  const char* option;
  char** arguments;  // the entries after the option
  LAStransform& transform;

  std::string argument_name(int k) const;
  void print_missing_then(const char* clause_format, ...) const
      __attribute__((format(printf, 2, 3)));
  bool invalid(int k) const;
  bool real(int k, double& value) const {
    return command_options::parse_double(arguments[k], value) || invalid(k);
  }
  bool single(int k, float& value) const {
    return command_options::parse_float(arguments[k], value) || invalid(k);
  }
  bool integer(int k, int& value) const {
    return command_options::parse_int(arguments[k], value) || invalid(k);
  }
  bool natural(int k, std::uint32_t& value) const {
    return command_options::parse_unsigned(arguments[k], value) || invalid(k);
  }
  void add(std::unique_ptr<LASoperation> operation, std::uint32_t changed) const {
    transform.changed_fields |= changed;
    transform.append_operation(std::move(operation));
  }
};

using Handler = bool (*)(const Call&);
using MakeNone = std::unique_ptr<LASoperation> (*)();
using MakeOne = std::unique_ptr<LASoperation> (*)(std::uint32_t);
using MakeTwo = std::unique_ptr<LASoperation> (*)(std::uint32_t, std::uint32_t);

enum class Wording { kNeeds, kNeed };

// A row without a handler is no option: it starts a section of the help, its `arguments`
// the heading.
struct Row {
  std::string_view name;
  int count;              // arguments that must follow
  const char* arguments;  // their names, blank separated, as the messages print them
  Handler handler;
  int variant = 0;  // which member of the family
  std::uint32_t changed = 0;
  // The word of "but '%s' is no valid ..." when it is not the argument's name.
  const char* invalid_word = nullptr;
  Wording wording = Wording::kNeeds;
  std::uint32_t limit = 0;              // largest accepted value of a set or change
  const char* range_message = nullptr;  // printed with the value and the limit
  MakeNone make_none = nullptr;
  MakeOne make_one = nullptr;
  MakeTwo make_two = nullptr;
  const char* help = "";  // what -h transform says of it, when its heading does not
};

template <typename Operation>
std::unique_ptr<LASoperation> make_none() {
  return std::make_unique<Operation>();
}
template <typename Operation>
std::unique_ptr<LASoperation> make_one(std::uint32_t value) {
  return std::make_unique<Operation>(value);
}
template <typename Operation>
std::unique_ptr<LASoperation> make_two(std::uint32_t first, std::uint32_t second) {
  return std::make_unique<Operation>(first, second);
}

// The family handlers: each reads the arguments of its rows, prints one "ERROR: " line and
// returns false when one is refused, else appends the operation.
bool without_arguments(const Call& call);
bool translate_axis(const Call& call);
bool translate_xyz(const Call& call);
bool translate_then_scale_axis(const Call& call);
bool scale_axis(const Call& call);
bool scale_xyz(const Call& call);
bool translate_raw_axis(const Call& call);
bool translate_raw_xyz(const Call& call);
bool translate_raw_xy_at_random(const Call& call);
bool float_value(const Call& call);
bool translate_then_scale_float(const Call& call);
bool gps_time_value(const Call& call);
bool attribute_with_number(const Call& call);
bool attribute_index(const Call& call);
bool rotate(const Call& call);
bool transform_helmert(const Call& call);
bool transform_affine(const Call& call);
bool clamp_z(const Call& call);
bool clamp_raw_z(const Call& call);
bool clamp_intensity(const Call& call);
bool scale_rgb(const Call& call);
bool set_unsigned(const Call& call);
bool change_from_to(const Call& call);
bool set_scan_angle(const Call& call);
bool set_rgb(const Call& call);
bool set_rgb_of_class(const Call& call);
bool classify_z(const Call& call);
bool classify_intensity(const Call& call);
bool classify_attribute(const Call& call);
bool bin_z(const Call& call);
bool bin_scan_angle(const Call& call);
bool bin_gps_time(const Call& call);
bool multiply_intensity_into_channel(const Call& call);
bool map_values(const Call& call);
bool map_attribute_into_rgb(const Call& call);
bool load_attribute_from_text(const Call& call);
bool filtered_transform(const Call& call);

}  // namespace transform_options
