#include "filter/las_criteria_sets.hpp"

namespace {

int write_classes(char* buffer, std::size_t size, const char* option, std::uint32_t classes) {
  las_criteria::CommandText text(buffer, size);
  text.add("%s ", option);
  for (unsigned c = 0; c < 32; c++) {
    if ((classes >> c) & 1u) text.add("%u ", c);
  }
  return text.used();
}

constexpr const char* kKeepNumberNames[6] = {
    "keep_number_of_returns", "keep_single",   "keep_double", "keep_triple",
    "keep_quadruple",         "keep_quintuple"};
constexpr const char* kDropNumberNames[6] = {
    "drop_number_of_returns", "drop_single",   "drop_double", "drop_triple",
    "drop_quadruple",         "drop_quintuple"};

// The 1-5 forms need no argument; other numbers are written with the general option.
int write_number(char* buffer, std::size_t size, const char* const (&names)[6], unsigned number) {
  las_criteria::CommandText text(buffer, size);
  if (number >= 1 && number <= 5) {
    text.add("-%s ", names[number]);
  } else {
    text.add("-%s %u ", names[0], number);
  }
  return text.used();
}

}  // namespace

int LAScriterionKeepClassifications::write_command(char* buffer, std::size_t size) const {
  return write_classes(buffer, size, "-keep_class", kept_classes());
}

int LAScriterionDropClassifications::write_command(char* buffer, std::size_t size) const {
  return write_classes(buffer, size, "-drop_class", drop_mask_);
}

int LAScriterionDropExtendedClassifications::write_command(char* buffer, std::size_t size) const {
  las_criteria::CommandText text(buffer, size);
  text.add("-%s ", name());
  for (int word = 7; word >= 0; word--)
    text.add("%u ", drop_words_[word]);
  return text.used();
}

const char* LAScriterionKeepSpecificNumberOfReturns::name() const {
  return number_ >= 1 && number_ <= 5 ? kKeepNumberNames[number_] : kKeepNumberNames[0];
}

int LAScriterionKeepSpecificNumberOfReturns::write_command(char* buffer, std::size_t size) const {
  return write_number(buffer, size, kKeepNumberNames, number_);
}

const char* LAScriterionDropSpecificNumberOfReturns::name() const {
  return number_ >= 1 && number_ <= 5 ? kDropNumberNames[number_] : kDropNumberNames[0];
}

int LAScriterionDropSpecificNumberOfReturns::write_command(char* buffer, std::size_t size) const {
  return write_number(buffer, size, kDropNumberNames, number_);
}

int LAScriterionKeepNDVI::write_command(char* buffer, std::size_t size) const {
  const char* suffix = nir_channel_ == 1   ? "_green_is_NIR"
                       : nir_channel_ == 2 ? "_blue_is_NIR"
                                           : "";
  return std::snprintf(buffer, size, "-%s%s %f %f ", name(), suffix, static_cast<double>(min_),
                       static_cast<double>(max_));
}

int LAScriterionKeepNDVIfromCIR::write_command(char* buffer, std::size_t size) const {
  return std::snprintf(buffer, size, "-%s %f %f ", name(), static_cast<double>(min_),
                       static_cast<double>(max_));
}

int LAScriterionKeepNDVIintensityIsNIR::write_command(char* buffer, std::size_t size) const {
  return std::snprintf(buffer, size, "-%s %f %f ", name(), static_cast<double>(min_),
                       static_cast<double>(max_));
}
