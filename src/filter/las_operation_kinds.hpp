#pragma once

// Operation classes built from a kernel: a small struct that names the operation, says
// which layers it reads and changes the point. Most operations of the transform are one
// line of arithmetic on one or two fields; the kernel keeps that line, the class template
// the rest (name, command text, layers).
//
// A kernel has `kName` (the option without "-"), `kLayers`, and `apply(point[, values])`.
// Kernels with arguments have `using Value = ...` (an unsigned, a float or a double).

#include <concepts>
#include <cstdint>

#include "filter/las_operation.hpp"

namespace operation_kinds {

template <typename Value>
int print_value(char* buffer, std::size_t size, Value value) {
  if constexpr (std::floating_point<Value>) {
    return std::snprintf(buffer, size, "%lf ", static_cast<double>(value));
  } else if constexpr (std::signed_integral<Value>) {
    return std::snprintf(buffer, size, "%d ", static_cast<int>(value));
  } else {
    return std::snprintf(buffer, size, "%u ", static_cast<unsigned>(value));
  }
}

// Appends to a command being written: `written` characters so far (maybe beyond `size`).
template <typename Value>
int append_value(char* buffer, std::size_t size, int written, Value value) {
  const std::size_t at = static_cast<std::size_t>(written);
  const int more = print_value(at < size ? buffer + at : nullptr, at < size ? size - at : 0, value);
  return written + (more < 0 ? 0 : more);
}

}  // namespace operation_kinds

template <typename Kernel>
class LASoperationNoArgument final : public LASoperation {
 public:
  const char* name() const override { return Kernel::kName; }
  std::uint32_t get_selective_decoding() const override { return Kernel::kLayers; }
  void transform(LASpoint& point) override { Kernel::apply(point); }
};

template <typename Kernel>
class LASoperationOneArgument final : public LASoperation {
 public:
  using Value = typename Kernel::Value;
  explicit LASoperationOneArgument(Value value) : value_(value) {}
  const char* name() const override { return Kernel::kName; }
  int write_command(char* buffer, std::size_t size) const override {
    const int written = print(buffer, size, "-%s ", name());
    return operation_kinds::append_value(buffer, size, written, value_);
  }
  std::uint32_t get_selective_decoding() const override { return Kernel::kLayers; }
  void transform(LASpoint& point) override { Kernel::apply(point, value_); }
  Value value() const { return value_; }

 private:
  Value value_;
};

template <typename Kernel>
class LASoperationTwoArguments final : public LASoperation {
 public:
  using Value = typename Kernel::Value;
  LASoperationTwoArguments(Value first, Value second) : first_(first), second_(second) {}
  const char* name() const override { return Kernel::kName; }
  int write_command(char* buffer, std::size_t size) const override {
    int written = print(buffer, size, "-%s ", name());
    written = operation_kinds::append_value(buffer, size, written, first_);
    return operation_kinds::append_value(buffer, size, written, second_);
  }
  std::uint32_t get_selective_decoding() const override { return Kernel::kLayers; }
  void transform(LASpoint& point) override { Kernel::apply(point, first_, second_); }

 private:
  Value first_, second_;
};
