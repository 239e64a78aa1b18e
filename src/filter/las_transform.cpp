#include "filter/las_transform.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "filter/las_operations_values.hpp"

LAStransform::~LAStransform() = default;

void LAStransform::append_operation(std::unique_ptr<LASoperation> operation) {
  if (operation) operations_.push_back(std::move(operation));
}

void LAStransform::remove_operation(std::string_view name) {
  for (auto it = operations_.begin(); it != operations_.end(); ++it) {
    if (name == (*it)->name()) {
      operations_.erase(it);
      return;
    }
  }
}

void LAStransform::transform(LASpoint& point) {
  // A filter held here selects the points to change; it drops nothing.
  if (filter_ && filter_->filter(point)) return;
  for (const std::unique_ptr<LASoperation>& operation : operations_)
    operation->transform(point);
}

bool LAStransform::has_record_form(const LASrecordLayout& layout) const {
  // A filter decides on whole points.
  if (filter_ || operations_.empty()) return false;
  for (const std::unique_ptr<LASoperation>& operation : operations_) {
    if (!operation->has_record_form(layout)) return false;
  }
  return true;
}

void LAStransform::transform_records(std::uint8_t* records, std::size_t count,
                                     const LASrecordLayout& layout) {
  for (const std::unique_ptr<LASoperation>& operation : operations_)
    operation->transform_records(records, count, layout);
}

std::uint32_t LAStransform::record_writes() const {
  std::uint32_t fields = 0;
  for (const std::unique_ptr<LASoperation>& operation : operations_)
    fields |= operation->record_writes();
  return fields;
}

void LAStransform::reset() {
  for (const std::unique_ptr<LASoperation>& operation : operations_)
    operation->reset();
  if (filter_) filter_->reset();
}

void LAStransform::report_overflows() const {
  for (const std::unique_ptr<LASoperation>& operation : operations_) {
    if (operation->overflow == 0) continue;
    char command[256];
    operation->write_command(command, sizeof(command));
    std::fprintf(stderr, "WARNING: total of %" PRId64 " overflows caused by '%s'\n",
                 operation->overflow, command);
  }
}

void LAStransform::set_filter(std::unique_ptr<LASfilter> filter) {
  filter_ = std::move(filter);
  if (!filter_) filtered_ = false;
}

void LAStransform::set_point_source(std::uint16_t value) {
  remove_operation(value_kernels::SetPointSource::kName);
  append_operation(std::make_unique<LASoperationSetPointSource>(value));
}

int LAStransform::write_command(char* buffer, std::size_t size) const {
  std::string text;
  if (filter_) {
    text += filter_->write_command();
    text += "-filtered_transform ";
  }
  for (const std::unique_ptr<LASoperation>& operation : operations_) {
    const int length = operation->write_command(nullptr, 0);
    std::string command(static_cast<std::size_t>(length) + 1, '\0');
    operation->write_command(command.data(), command.size());
    command.resize(static_cast<std::size_t>(length));
    text += command;
  }
  if (size != 0) {
    const std::size_t copied = text.size() < size ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
  }
  return static_cast<int>(text.size());
}

std::uint32_t LAStransform::get_selective_decoding() const {
  std::uint32_t layers = filter_ ? filter_->get_selective_decoding() : 0;
  for (const std::unique_ptr<LASoperation>& operation : operations_)
    layers |= operation->get_selective_decoding();
  return layers;
}

void LAStransform::clean() {
  operations_.clear();
  filter_.reset();
  filtered_ = false;
  changed_fields = 0;
}
