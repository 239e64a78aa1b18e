#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "filter/las_criteria_basic.hpp"
#include "model/las_attribute.hpp"

// Criteria over sets of values (classes, return numbers, numbers of returns), the colour
// channels and indices, and the extra-byte attributes.

// Classes 0-31 held as a drop mask: bit c set drops class c. The keep form stores the
// complement of the classes it keeps, so both test the same way.
class LAScriterionKeepClassifications final : public LAScriterion {
 public:
  explicit LAScriterionKeepClassifications(std::uint32_t kept_classes)
      : drop_mask_(~kept_classes) {}
  const char* name() const override { return "keep_classification_mask"; }
  int write_command(char* buffer, std::size_t size) const override;
  std::uint32_t get_selective_decoding() const override { return kLayerClassification; }
  bool filter(const LASpoint& point) override {
    return ((1u << point.classification) & drop_mask_) != 0;
  }
  std::uint32_t kept_classes() const { return ~drop_mask_; }

 private:
  std::uint32_t drop_mask_;
};

class LAScriterionDropClassifications final : public LAScriterion {
 public:
  explicit LAScriterionDropClassifications(std::uint32_t dropped_classes)
      : drop_mask_(dropped_classes) {}
  const char* name() const override { return "drop_classification_mask"; }
  int write_command(char* buffer, std::size_t size) const override;
  std::uint32_t get_selective_decoding() const override { return kLayerClassification; }
  bool filter(const LASpoint& point) override {
    return ((1u << point.classification) & drop_mask_) != 0;
  }
  std::uint32_t dropped_classes() const { return drop_mask_; }

 private:
  std::uint32_t drop_mask_;
};

// The extended classification (0-255) of point types 6-10, the class of the others.
class LAScriterionDropExtendedClassifications final : public LAScriterion {
 public:
  explicit LAScriterionDropExtendedClassifications(const std::array<std::uint32_t, 8>& drop_words)
      : drop_words_(drop_words) {}
  const char* name() const override { return "drop_extended_classification_mask"; }
  int write_command(char* buffer, std::size_t size) const override;
  std::uint32_t get_selective_decoding() const override { return kLayerClassification; }
  bool filter(const LASpoint& point) override {
    const unsigned value =
        point.extended_layout ? point.extended_classification : point.classification;
    return ((drop_words_[value >> 5] >> (value & 31)) & 1u) != 0;
  }

 private:
  std::array<std::uint32_t, 8> drop_words_;  // word 0 covers classes 0-31
};

// Return numbers 0-15 as a 16-bit mask: keep drops a point whose bit is clear, drop one
// whose bit is set.
template <LAScriterionName kName, const char* kOption, bool kKeep>
class LAScriterionReturnMask final : public LAScriterion {
 public:
  explicit LAScriterionReturnMask(std::uint32_t mask) : mask_(mask & 0xFFFF) {}
  const char* name() const override { return kName.text; }
  int write_command(char* buffer, std::size_t size) const override {
    las_criteria::CommandText text(buffer, size);
    text.add("%s ", kOption);
    for (unsigned r = 0; r < 16; r++) {
      if ((mask_ >> r) & 1u) text.add("%u ", r);
    }
    return text.used();
  }
  bool filter(const LASpoint& point) override {
    const bool set = ((mask_ >> point.return_number) & 1u) != 0;
    return kKeep ? !set : set;
  }
  std::uint32_t mask() const { return mask_; }

 private:
  std::uint32_t mask_;
};

namespace las_criteria {
inline constexpr char kKeepReturnOption[] = "-keep_return";
inline constexpr char kDropReturnOption[] = "-drop_return";
}  // namespace las_criteria

using LAScriterionKeepReturns =
    LAScriterionReturnMask<"keep_return_mask", las_criteria::kKeepReturnOption, true>;
using LAScriterionDropReturns =
    LAScriterionReturnMask<"drop_return_mask", las_criteria::kDropReturnOption, false>;

// The number of returns n equal to (drop) or different from (keep) a number; named after
// the 1-5 forms ("keep_single" ... "keep_quintuple").
class LAScriterionKeepSpecificNumberOfReturns final : public LAScriterion {
 public:
  explicit LAScriterionKeepSpecificNumberOfReturns(unsigned number) : number_(number) {}
  const char* name() const override;
  int write_command(char* buffer, std::size_t size) const override;
  bool filter(const LASpoint& point) override { return point.number_of_returns != number_; }

 private:
  unsigned number_;
};

class LAScriterionDropSpecificNumberOfReturns final : public LAScriterion {
 public:
  explicit LAScriterionDropSpecificNumberOfReturns(unsigned number) : number_(number) {}
  const char* name() const override;
  int write_command(char* buffer, std::size_t size) const override;
  bool filter(const LASpoint& point) override { return point.number_of_returns == number_; }

 private:
  unsigned number_;
};

// One colour channel (0 red, 1 green, 2 blue, 3 near infrared) in [min, max].
template <LAScriterionName kName, bool kKeep>
class LAScriterionChannel final : public LAScriterion {
 public:
  LAScriterionChannel(int channel, int min, int max) : channel_(channel), min_(min), max_(max) {}
  const char* name() const override { return kName.text; }
  int write_command(char* buffer, std::size_t size) const override {
    static constexpr const char* kChannels[4] = {"red", "green", "blue", "nir"};
    las_criteria::CommandText text(buffer, size);
    text.add("-%s_%s %d %d ", kName.text, kChannels[channel_ & 3], min_, max_);
    return text.used();
  }
  std::uint32_t get_selective_decoding() const override {
    return channel_ == 3 ? kLayerNIR : kLayerRGB;
  }
  bool filter(const LASpoint& point) override {
    const int value = point.rgb[channel_];
    const bool inside = min_ <= value && value <= max_;
    return kKeep ? !inside : inside;
  }

 private:
  int channel_, min_, max_;
};

using LAScriterionKeepRGB = LAScriterionChannel<"keep_RGB", true>;
using LAScriterionDropRGB = LAScriterionChannel<"drop_RGB", false>;

// 2 G - B - R in [min, max].
class LAScriterionKeepRGBgreenness final : public LAScriterion {
 public:
  LAScriterionKeepRGBgreenness(int min, int max) : min_(min), max_(max) {}
  const char* name() const override { return "keep_RGB_greenness"; }
  int write_command(char* buffer, std::size_t size) const override {
    const int bounds[2] = {min_, max_};
    return las_criteria::write_bounds(buffer, size, name(), 2, bounds);
  }
  std::uint32_t get_selective_decoding() const override { return kLayerRGB; }
  bool filter(const LASpoint& point) override {
    const int greenness = 2 * point.rgb[1] - point.rgb[2] - point.rgb[0];
    return greenness < min_ || greenness > max_;
  }

 private:
  int min_, max_;
};

// A normalised difference (a - b) / (a + b) in single precision, kept in [min, max]. A
// point whose two values are both 0 has no index and is dropped.
namespace las_criteria {
inline bool ndvi_outside(float a, float b, float min, float max) {
  const float index = (a - b) / (a + b);
  return !(min <= index && index <= max);
}
}  // namespace las_criteria

// `nir_channel`: 3 (NIR), 1 (green is NIR) or 2 (blue is NIR); red is the other value.
class LAScriterionKeepNDVI final : public LAScriterion {
 public:
  LAScriterionKeepNDVI(int nir_channel, float min, float max)
      : nir_channel_(nir_channel), min_(min), max_(max) {}
  const char* name() const override { return "keep_NDVI"; }
  int write_command(char* buffer, std::size_t size) const override;
  std::uint32_t get_selective_decoding() const override {
    return nir_channel_ == 3 ? kLayerRGB | kLayerNIR : kLayerRGB;
  }
  bool filter(const LASpoint& point) override {
    return las_criteria::ndvi_outside(point.rgb[nir_channel_], point.rgb[0], min_, max_);
  }

 private:
  int nir_channel_;
  float min_, max_;
};

// From colour-infrared: (R - G) / (R + G).
class LAScriterionKeepNDVIfromCIR final : public LAScriterion {
 public:
  LAScriterionKeepNDVIfromCIR(float min, float max) : min_(min), max_(max) {}
  const char* name() const override { return "keep_NDVI_from_CIR"; }
  int write_command(char* buffer, std::size_t size) const override;
  std::uint32_t get_selective_decoding() const override { return kLayerRGB; }
  bool filter(const LASpoint& point) override {
    return las_criteria::ndvi_outside(point.rgb[0], point.rgb[1], min_, max_);
  }

 private:
  float min_, max_;
};

class LAScriterionKeepNDVIintensityIsNIR final : public LAScriterion {
 public:
  LAScriterionKeepNDVIintensityIsNIR(float min, float max) : min_(min), max_(max) {}
  const char* name() const override { return "keep_NDVI_intensity_is_NIR"; }
  int write_command(char* buffer, std::size_t size) const override;
  std::uint32_t get_selective_decoding() const override { return kLayerRGB | kLayerIntensity; }
  bool filter(const LASpoint& point) override {
    return las_criteria::ndvi_outside(point.intensity, point.rgb[0], min_, max_);
  }

 private:
  float min_, max_;
};

// Extra-byte attribute `index` as a double (0 when the point's header has no such
// attribute), compared with its bounds.
template <LAScriterionName kName, las_criteria::Test kTest>
class LAScriterionAttribute final : public LAScriterion {
 public:
  LAScriterionAttribute(int index, double a, double b = 0.0) : index_(index), a_(a), b_(b) {}
  const char* name() const override { return kName.text; }
  int write_command(char* buffer, std::size_t size) const override {
    las_criteria::CommandText text(buffer, size);
    text.add("-%s %d %lf ", kName.text, index_, a_);
    if (las_criteria::takes_two_bounds(kTest)) text.add("%lf ", b_);
    return text.used();
  }
  std::uint32_t get_selective_decoding() const override { return kLayerExtraBytes; }
  bool filter(const LASpoint& point) override {
    const double value = point.attribute_set == nullptr
                             ? 0.0
                             : point.attribute_set->get_value(point.extra_bytes.data(),
                                                              point.extra_bytes_size, index_);
    return las_criteria::drops<kTest>(value, a_, b_);
  }

 private:
  int index_;
  double a_, b_;
};

using LAScriterionKeepAttributeAbove =
    LAScriterionAttribute<"keep_attribute_above", Test::kDropAtOrBelow>;
using LAScriterionKeepAttributeBelow =
    LAScriterionAttribute<"keep_attribute_below", Test::kDropAtOrAbove>;
using LAScriterionKeepAttributeBetween =
    LAScriterionAttribute<"keep_attribute_between", Test::kKeepClosed>;
using LAScriterionDropAttributeAbove =
    LAScriterionAttribute<"drop_attribute_above", Test::kDropAbove>;
using LAScriterionDropAttributeBelow =
    LAScriterionAttribute<"drop_attribute_below", Test::kDropBelow>;
using LAScriterionDropAttributeBetween =
    LAScriterionAttribute<"drop_attribute_between", Test::kDropClosed>;
