#pragma once

// Operations that read or write extra-bytes attributes, classify by a threshold, copy
// values into the coordinates, and map values through tables read from text files.
// Attribute values go through the attribute set of the point's header: an index the
// header does not define reads as 0 and is never written.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "filter/las_operation_kinds.hpp"
#include "filter/las_operations_coordinates.hpp"

// Where a classification threshold looks: z, intensity or an attribute.
enum class LASclassifySource { kZ, kIntensity, kAttribute };
// Strictly below, strictly above, or between both bounds inclusive.
enum class LASclassifyTest { kBelow, kAbove, kBetween };

template <LASclassifySource kSource, LASclassifyTest kTest>
class LASoperationClassifyAs final : public LASoperation {
 public:
  LASoperationClassifyAs(std::uint32_t index, double low, double high, std::uint8_t classification)
      : index_(index), low_(low), high_(high), classification_(classification) {}
  const char* name() const override {
    static constexpr const char* kNames[3][3] = {
        {"classify_z_below_as", "classify_z_above_as", "classify_z_between_as"},
        {"classify_intensity_below_as", "classify_intensity_above_as",
         "classify_intensity_between_as"},
        {"classify_attribute_below_as", "classify_attribute_above_as",
         "classify_attribute_between_as"}};
    return kNames[static_cast<int>(kSource)][static_cast<int>(kTest)];
  }
  int write_command(char* buffer, std::size_t size) const override {
    int written = print(buffer, size, "-%s ", name());
    if (kSource == LASclassifySource::kAttribute) {
      written = operation_kinds::append_value(buffer, size, written, index_);
    }
    if (kSource == LASclassifySource::kIntensity) {
      written = operation_kinds::append_value(buffer, size, written, static_cast<unsigned>(low_));
      if (kTest == LASclassifyTest::kBetween) {
        written =
            operation_kinds::append_value(buffer, size, written, static_cast<unsigned>(high_));
      }
    } else {
      written = operation_kinds::append_value(buffer, size, written, low_);
      if (kTest == LASclassifyTest::kBetween) {
        written = operation_kinds::append_value(buffer, size, written, high_);
      }
    }
    return operation_kinds::append_value(buffer, size, written, unsigned{classification_});
  }
  std::uint32_t get_selective_decoding() const override {
    if (kSource == LASclassifySource::kZ) return transform_layers::kZ;
    if (kSource == LASclassifySource::kIntensity) return transform_layers::kIntensity;
    return transform_layers::kExtraBytes;
  }
  void transform(LASpoint& point) override {
    double value;
    if constexpr (kSource == LASclassifySource::kZ) {
      value = point.get_z();
    } else if constexpr (kSource == LASclassifySource::kIntensity) {
      value = point.intensity;
    } else {
      value = operation_values::attribute_value(point, index_);
    }
    bool hit;
    if constexpr (kTest == LASclassifyTest::kBelow) {
      hit = value < low_;
    } else if constexpr (kTest == LASclassifyTest::kAbove) {
      hit = value > low_;
    } else {
      hit = low_ <= value && value <= high_;
    }
    if (hit) point.set_classification(classification_);
  }

 private:
  std::uint32_t index_;
  double low_, high_;  // the one threshold in `low_`, or both bounds
  std::uint8_t classification_;
};
using LASoperationClassifyZbelowAs =
    LASoperationClassifyAs<LASclassifySource::kZ, LASclassifyTest::kBelow>;
using LASoperationClassifyZaboveAs =
    LASoperationClassifyAs<LASclassifySource::kZ, LASclassifyTest::kAbove>;
using LASoperationClassifyZbetweenAs =
    LASoperationClassifyAs<LASclassifySource::kZ, LASclassifyTest::kBetween>;
using LASoperationClassifyIntensityBelowAs =
    LASoperationClassifyAs<LASclassifySource::kIntensity, LASclassifyTest::kBelow>;
using LASoperationClassifyIntensityAboveAs =
    LASoperationClassifyAs<LASclassifySource::kIntensity, LASclassifyTest::kAbove>;
using LASoperationClassifyIntensityBetweenAs =
    LASoperationClassifyAs<LASclassifySource::kIntensity, LASclassifyTest::kBetween>;
using LASoperationClassifyAttributeBelowAs =
    LASoperationClassifyAs<LASclassifySource::kAttribute, LASclassifyTest::kBelow>;
using LASoperationClassifyAttributeAboveAs =
    LASoperationClassifyAs<LASclassifySource::kAttribute, LASclassifyTest::kAbove>;
using LASoperationClassifyAttributeBetweenAs =
    LASoperationClassifyAs<LASclassifySource::kAttribute, LASclassifyTest::kBetween>;

// Operations on one attribute given by index, with at most one number.
enum class LASattributeAction {
  kSet,                  // attribute = number
  kScale,                // attribute *= number
  kTranslate,            // attribute += number
  kCopyUserData,         // attribute = user data
  kIntoX,                // x = attribute
  kIntoY,                // y = attribute
  kIntoZ,                // z = attribute
  kIntoUserData,         // user data = attribute, clamped
  kIntoIntensity,        // intensity = attribute, clamped
  kAddToZ,               // z += attribute
  kAddScaledToZ,         // z += attribute * number
  kAddScaledToUserData,  // user data += attribute * number, rounded, at least 0
};

template <LASattributeAction kAction>
class LASoperationAttribute final : public LASoperationCoordinate {
 public:
  explicit LASoperationAttribute(std::uint32_t index, double number = 0.0)
      : index_(index), number_(number) {}
  const char* name() const override {
    switch (kAction) {
      case LASattributeAction::kSet:
        return "set_attribute";
      case LASattributeAction::kScale:
        return "scale_attribute";
      case LASattributeAction::kTranslate:
        return "translate_attribute";
      case LASattributeAction::kCopyUserData:
        return "copy_user_data_into_attribute";
      case LASattributeAction::kIntoX:
        return "copy_attribute_into_x";
      case LASattributeAction::kIntoY:
        return "copy_attribute_into_y";
      case LASattributeAction::kIntoZ:
        return "copy_attribute_into_z";
      case LASattributeAction::kIntoUserData:
        return "copy_attribute_into_user_data";
      case LASattributeAction::kIntoIntensity:
        return "copy_attribute_into_intensity";
      case LASattributeAction::kAddToZ:
        return "add_attribute_to_z";
      case LASattributeAction::kAddScaledToZ:
        return "add_scaled_attribute_to_z";
      case LASattributeAction::kAddScaledToUserData:
        return "add_scaled_attribute_to_user_data";
    }
    return "";
  }
  static constexpr bool has_number() {
    return kAction == LASattributeAction::kSet || kAction == LASattributeAction::kScale ||
           kAction == LASattributeAction::kTranslate ||
           kAction == LASattributeAction::kAddScaledToZ ||
           kAction == LASattributeAction::kAddScaledToUserData;
  }
  int write_command(char* buffer, std::size_t size) const override {
    if (has_number()) return print(buffer, size, "-%s %u %lf ", name(), index_, number_);
    return print(buffer, size, "-%s %u ", name(), index_);
  }
  std::uint32_t get_selective_decoding() const override {
    std::uint32_t layers = transform_layers::kExtraBytes;
    if (kAction == LASattributeAction::kAddToZ || kAction == LASattributeAction::kAddScaledToZ) {
      layers |= transform_layers::kZ;
    }
    if (kAction == LASattributeAction::kAddScaledToUserData ||
        kAction == LASattributeAction::kCopyUserData) {
      layers |= transform_layers::kUserData;
    }
    return layers;
  }
  void transform(LASpoint& point) override {
    using operation_values::attribute_value;
    using operation_values::set_attribute_value;
    switch (kAction) {
      case LASattributeAction::kSet:
        set_attribute_value(point, index_, number_);
        break;
      case LASattributeAction::kScale:
        set_attribute_value(point, index_, attribute_value(point, index_) * number_);
        break;
      case LASattributeAction::kTranslate:
        set_attribute_value(point, index_, attribute_value(point, index_) + number_);
        break;
      case LASattributeAction::kCopyUserData:
        set_attribute_value(point, index_, point.user_data);
        break;
      case LASattributeAction::kIntoX:
        store<0>(point, attribute_value(point, index_));
        break;
      case LASattributeAction::kIntoY:
        store<1>(point, attribute_value(point, index_));
        break;
      case LASattributeAction::kIntoZ:
        store<2>(point, attribute_value(point, index_));
        break;
      case LASattributeAction::kIntoUserData:
        point.user_data =
            operation_values::clamp_user_data(static_cast<float>(attribute_value(point, index_)));
        break;
      case LASattributeAction::kIntoIntensity:
        point.intensity =
            operation_values::clamp_intensity(static_cast<float>(attribute_value(point, index_)));
        break;
      case LASattributeAction::kAddToZ:
        store<2>(point, point.get_z() + attribute_value(point, index_));
        break;
      case LASattributeAction::kAddScaledToZ:
        store<2>(point, point.get_z() + attribute_value(point, index_) * number_);
        break;
      case LASattributeAction::kAddScaledToUserData: {
        const double sum = point.user_data + number_ * attribute_value(point, index_);
        // Rounded; below 0 is 0 and, so that a large value does not wrap, above 255 is 255.
        const double rounded = sum + 0.5;
        point.user_data = !(rounded > 0.0)   ? 0
                          : rounded >= 255.0 ? 255
                                             : static_cast<std::uint8_t>(rounded);
        break;
      }
    }
  }

 private:
  std::uint32_t index_;
  double number_;
};
using LASoperationSetAttribute = LASoperationAttribute<LASattributeAction::kSet>;
using LASoperationScaleAttribute = LASoperationAttribute<LASattributeAction::kScale>;
using LASoperationTranslateAttribute = LASoperationAttribute<LASattributeAction::kTranslate>;
using LASoperationCopyUserDataIntoAttribute =
    LASoperationAttribute<LASattributeAction::kCopyUserData>;
using LASoperationCopyAttributeIntoX = LASoperationAttribute<LASattributeAction::kIntoX>;
using LASoperationCopyAttributeIntoY = LASoperationAttribute<LASattributeAction::kIntoY>;
using LASoperationCopyAttributeIntoZ = LASoperationAttribute<LASattributeAction::kIntoZ>;
using LASoperationCopyAttributeIntoUserData =
    LASoperationAttribute<LASattributeAction::kIntoUserData>;
using LASoperationCopyAttributeIntoIntensity =
    LASoperationAttribute<LASattributeAction::kIntoIntensity>;
using LASoperationAddAttributeToZ = LASoperationAttribute<LASattributeAction::kAddToZ>;
using LASoperationAddScaledAttributeToZ = LASoperationAttribute<LASattributeAction::kAddScaledToZ>;
using LASoperationAddScaledAttributeToUserData =
    LASoperationAttribute<LASattributeAction::kAddScaledToUserData>;

// z = user data or z = intensity, by the store rule.
template <bool kIntensity>
class LASoperationCopyIntoZ final : public LASoperationCoordinate {
 public:
  const char* name() const override {
    return kIntensity ? "copy_intensity_into_z" : "copy_user_data_into_z";
  }
  std::uint32_t get_selective_decoding() const override {
    return kIntensity ? transform_layers::kIntensity : transform_layers::kUserData;
  }
  void transform(LASpoint& point) override {
    store<2>(point, kIntensity ? static_cast<double>(point.intensity)
                               : static_cast<double>(point.user_data));
  }
};
using LASoperationCopyUserDataIntoZ = LASoperationCopyIntoZ<false>;
using LASoperationCopyIntensityIntoZ = LASoperationCopyIntoZ<true>;

// ---- value maps and value files ----

// Which field a lookup table maps.
enum class LASmapField { kUserData, kPointSource, kIntensity };

// A full lookup table read from lines "from to"; values not listed map to themselves.
class LASoperationMap final : public LASoperation {
 public:
  // Null after "ERROR: ... cannot be opened" (naming `option`) when the file does not open.
  static std::unique_ptr<LASoperationMap> load(LASmapField field, const char* option,
                                               const char* file_name);
  const char* name() const override;
  int write_command(char* buffer, std::size_t size) const override {
    return print(buffer, size, "-%s \"%s\" ", name(), file_name_.c_str());
  }
  std::uint32_t get_selective_decoding() const override;
  void transform(LASpoint& point) override;

 private:
  LASmapField field_ = LASmapField::kUserData;
  std::string file_name_;
  std::vector<std::uint16_t> table_;  // 256 or 65536 entries
};
using LASoperationMapUserData = LASoperationMap;
using LASoperationMapPointSource = LASoperationMap;
using LASoperationMapIntensity = LASoperationMap;

// Colours a point by the value of an attribute: the colour of the first value for
// attributes at or below it, of the last one at or above it, else of the nearest value.
class LASoperationMapAttributeIntoRGB final : public LASoperation {
 public:
  static std::unique_ptr<LASoperationMapAttributeIntoRGB> load(std::uint32_t index,
                                                               const char* option,
                                                               const char* file_name);
  const char* name() const override { return "map_attribute_into_RGB"; }
  int write_command(char* buffer, std::size_t size) const override {
    return print(buffer, size, "-%s %u \"%s\" ", name(), index_, file_name_.c_str());
  }
  std::uint32_t get_selective_decoding() const override { return transform_layers::kExtraBytes; }
  void transform(LASpoint& point) override;

 private:
  struct Entry {
    double value;
    std::uint16_t rgb[3];
  };
  std::uint32_t index_ = 0;
  std::string file_name_;
  std::vector<Entry> entries_;  // in file order
};

// Writes the values of a text file into an attribute, one line per point in reading order;
// points after the end of the file are left alone. `reset` starts the file again.
class LASoperationLoadAttributeFromText final : public LASoperation {
 public:
  static std::unique_ptr<LASoperationLoadAttributeFromText> load(std::uint32_t index,
                                                                 const char* option,
                                                                 const char* file_name);
  ~LASoperationLoadAttributeFromText() override;
  const char* name() const override { return "load_attribute_from_text"; }
  int write_command(char* buffer, std::size_t size) const override {
    return print(buffer, size, "-%s %u \"%s\" ", name(), index_, file_name_.c_str());
  }
  void transform(LASpoint& point) override;
  void reset() override;

 private:
  void close();

  std::uint32_t index_ = 0;
  std::string file_name_;
  std::FILE* file_ = nullptr;
};
