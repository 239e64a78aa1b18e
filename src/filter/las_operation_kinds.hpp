#pragma once

// Operation classes built from a kernel: a small struct that names the operation, says
// which layers it reads and changes the point. Most operations of the transform are one
// line of arithmetic on one or two fields; the kernel keeps that line, the class template
// the rest (name, command text, layers).
//
// A kernel has `kName` (the option without "-"), `kLayers`, and `apply(point[, values])`.
// Kernels with arguments have `using Value = ...` (an unsigned, a float or a double).
//
// A kernel with a record form (see LASoperation::has_record_form) also has `kRecordWrites`
// (record_writes bits) and `apply_record(record, layout[, values])`, and, when it holds for
// some layouts or arguments only, `record_form(layout[, values])`.

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

template <class Kernel>
concept HasRecordForm = requires {
  Kernel::kRecordWrites;
};

}  // namespace operation_kinds

// What the operation templates below share: the record form of their kernel, with the
// operation's arguments handed in by each.
template <typename Kernel>
class LASoperationOfKernel : public LASoperation {
 public:
  const char* name() const override { return Kernel::kName; }
  std::uint32_t get_selective_decoding() const override { return Kernel::kLayers; }
  std::uint32_t record_writes() const override {
    if constexpr (operation_kinds::HasRecordForm<Kernel>) return Kernel::kRecordWrites;
    return record_writes::kAll;
  }

 protected:
  template <typename... Values>
  static bool kernel_record_form(const LASrecordLayout& layout, Values... values) {
    if constexpr (!operation_kinds::HasRecordForm<Kernel>) {
      return false;
    } else if constexpr (requires { Kernel::record_form(layout, values...); }) {
      return Kernel::record_form(layout, values...);
    }
    return true;
  }
  template <typename... Values>
  static void kernel_records(std::uint8_t* records, std::size_t count,
                             const LASrecordLayout& layout, Values... values) {
    if constexpr (operation_kinds::HasRecordForm<Kernel>) {
      for (std::size_t i = 0; i < count; i++)
        Kernel::apply_record(records + i * layout.size, layout, values...);
    }
  }
};

template <typename Kernel>
class LASoperationNoArgument final : public LASoperationOfKernel<Kernel> {
 public:
  using Base = LASoperationOfKernel<Kernel>;
  void transform(LASpoint& point) override { Kernel::apply(point); }
  bool has_record_form(const LASrecordLayout& layout) const override {
    return Base::kernel_record_form(layout);
  }
  void transform_records(std::uint8_t* records, std::size_t count,
                         const LASrecordLayout& layout) override {
    Base::kernel_records(records, count, layout);
  }
};

template <typename Kernel>
class LASoperationOneArgument final : public LASoperationOfKernel<Kernel> {
 public:
  using Base = LASoperationOfKernel<Kernel>;
  using Value = typename Kernel::Value;
  explicit LASoperationOneArgument(Value value) : value_(value) {}
  int write_command(char* buffer, std::size_t size) const override {
    const int written = Base::print(buffer, size, "-%s ", Kernel::kName);
    return operation_kinds::append_value(buffer, size, written, value_);
  }
  void transform(LASpoint& point) override { Kernel::apply(point, value_); }
  bool has_record_form(const LASrecordLayout& layout) const override {
    return Base::kernel_record_form(layout, value_);
  }
  void transform_records(std::uint8_t* records, std::size_t count,
                         const LASrecordLayout& layout) override {
    Base::kernel_records(records, count, layout, value_);
  }
  Value value() const { return value_; }

 private:
  Value value_;
};

template <typename Kernel>
class LASoperationTwoArguments final : public LASoperationOfKernel<Kernel> {
 public:
  using Base = LASoperationOfKernel<Kernel>;
  using Value = typename Kernel::Value;
  LASoperationTwoArguments(Value first, Value second) : first_(first), second_(second) {}
  int write_command(char* buffer, std::size_t size) const override {
    int written = Base::print(buffer, size, "-%s ", Kernel::kName);
    written = operation_kinds::append_value(buffer, size, written, first_);
    return operation_kinds::append_value(buffer, size, written, second_);
  }
  void transform(LASpoint& point) override { Kernel::apply(point, first_, second_); }
  bool has_record_form(const LASrecordLayout& layout) const override {
    return Base::kernel_record_form(layout, first_, second_);
  }
  void transform_records(std::uint8_t* records, std::size_t count,
                         const LASrecordLayout& layout) override {
    Base::kernel_records(records, count, layout, first_, second_);
  }

 private:
  Value first_, second_;
};
