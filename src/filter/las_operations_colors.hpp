#pragma once

// Operations on the red, green, blue and near-infrared channels. A point type without
// colours carries the channels in the point too, but no writer stores them: setting them
// there changes nothing in the output.

#include <cstdint>
#include <utility>

#include "filter/las_operation_kinds.hpp"

namespace color_kernels {

namespace layer = transform_layers;
using operation_values::clamp_channel;
using operation_values::clamp_intensity;

inline constexpr int kRed = 0, kGreen = 1, kBlue = 2, kNIR = 3;

struct ScaleRGBdown {
  static constexpr const char* kName = "scale_RGB_down";
  static constexpr std::uint32_t kLayers = layer::kRGB;
  static void apply(LASpoint& p) {
    for (int c = kRed; c <= kBlue; c++)
      p.rgb[c] = static_cast<std::uint16_t>(p.rgb[c] >> 8);
  }
};
struct ScaleRGBup {
  static constexpr const char* kName = "scale_RGB_up";
  static constexpr std::uint32_t kLayers = layer::kRGB;
  static void apply(LASpoint& p) {
    for (int c = kRed; c <= kBlue; c++)
      p.rgb[c] = static_cast<std::uint16_t>(p.rgb[c] * 256u);
  }
};
// Only colours that are plainly 16-bit (8-bit) are scaled, so running it twice is harmless.
struct ScaleRGBto8bit {
  static constexpr const char* kName = "scale_RGB_to_8bit";
  static constexpr std::uint32_t kLayers = layer::kRGB;
  static void apply(LASpoint& p) {
    if (p.rgb[kRed] >= 256 || p.rgb[kGreen] >= 256 || p.rgb[kBlue] >= 256) ScaleRGBdown::apply(p);
  }
};
struct ScaleRGBto16bit {
  static constexpr const char* kName = "scale_RGB_to_16bit";
  static constexpr std::uint32_t kLayers = layer::kRGB;
  static void apply(LASpoint& p) {
    if (p.rgb[kRed] < 256 && p.rgb[kGreen] < 256 && p.rgb[kBlue] < 256) ScaleRGBup::apply(p);
  }
};

template <int kA, int kB>
struct SwitchChannels {
  static constexpr const char* kName =
      kA == kRed ? (kB == kGreen ? "switch_R_G" : "switch_R_B") : "switch_G_B";
  static constexpr std::uint32_t kLayers = layer::kRGB;
  static void apply(LASpoint& p) { std::swap(p.rgb[kA], p.rgb[kB]); }
};
struct SwitchRGBItoCIR {
  static constexpr const char* kName = "switch_RGBI_into_CIR";
  static constexpr std::uint32_t kLayers = layer::kRGB | layer::kNIR;
  static void apply(LASpoint& p) {
    const std::uint16_t red = p.rgb[kRed], green = p.rgb[kGreen];
    p.rgb[kRed] = p.rgb[kNIR];
    p.rgb[kGreen] = red;
    p.rgb[kBlue] = green;
  }
};
struct SwitchRGBIntensitytoCIR {
  static constexpr const char* kName = "switch_RGB_intensity_into_CIR";
  static constexpr std::uint32_t kLayers = layer::kRGB | layer::kIntensity;
  static void apply(LASpoint& p) {
    const std::uint16_t red = p.rgb[kRed], green = p.rgb[kGreen];
    p.rgb[kRed] = p.intensity;
    p.rgb[kGreen] = red;
    p.rgb[kBlue] = green;
  }
};

struct CopyRGBintoIntensity {
  static constexpr const char* kName = "copy_RGB_into_intensity";
  static constexpr std::uint32_t kLayers = layer::kRGB;
  static void apply(LASpoint& p) {
    const float grey = 0.2989f * p.rgb[kRed] + 0.587f * p.rgb[kGreen] + 0.114f * p.rgb[kBlue];
    p.intensity = clamp_intensity(grey + 0.5f);
  }
};
template <int kChannel>
struct CopyChannelIntoIntensity {
  static constexpr const char* kName = kChannel == kRed     ? "copy_R_into_intensity"
                                       : kChannel == kGreen ? "copy_G_into_intensity"
                                       : kChannel == kBlue  ? "copy_B_into_intensity"
                                                            : "copy_NIR_into_intensity";
  static constexpr std::uint32_t kLayers = kChannel == kNIR ? layer::kNIR : layer::kRGB;
  static void apply(LASpoint& p) { p.intensity = p.rgb[kChannel]; }
};
template <int kChannel>
struct CopyChannelIntoNIR {
  static constexpr const char* kName = kChannel == kRed     ? "copy_R_into_NIR"
                                       : kChannel == kGreen ? "copy_G_into_NIR"
                                                            : "copy_B_into_NIR";
  static constexpr std::uint32_t kLayers = layer::kRGB;
  static void apply(LASpoint& p) { p.rgb[kNIR] = p.rgb[kChannel]; }
};
struct CopyIntensityIntoNIR {
  static constexpr const char* kName = "copy_intensity_into_NIR";
  static constexpr std::uint32_t kLayers = layer::kIntensity;
  static void apply(LASpoint& p) { p.rgb[kNIR] = p.intensity; }
};
// channel = intensity * scale * channel (the "divided" options pass 1 / divisor).
template <int kChannel>
struct MultiplyScaledIntensityIntoChannel {
  using Value = float;
  static constexpr const char* kName =
      kChannel == kRed     ? "multiply_scaled_intensity_into_RGB_red"
      : kChannel == kGreen ? "multiply_scaled_intensity_into_RGB_green"
      : kChannel == kBlue  ? "multiply_scaled_intensity_into_RGB_blue"
                           : "multiply_scaled_intensity_into_RGB_nir";
  static constexpr std::uint32_t kLayers = layer::kRGB | layer::kIntensity;
  static void apply(LASpoint& p, float scale) {
    p.rgb[kChannel] = clamp_intensity(static_cast<float>(p.intensity) * scale * p.rgb[kChannel]);
  }
};

}  // namespace color_kernels

// R G B each 0 ... 65535.
class LASoperationSetRGB final : public LASoperation {
 public:
  LASoperationSetRGB(std::uint16_t red, std::uint16_t green, std::uint16_t blue)
      : rgb_{red, green, blue} {}
  const char* name() const override { return "set_RGB"; }
  int write_command(char* buffer, std::size_t size) const override {
    return print(buffer, size, "-%s %u %u %u ", name(), unsigned{rgb_[0]}, unsigned{rgb_[1]},
                 unsigned{rgb_[2]});
  }
  void transform(LASpoint& point) override {
    point.rgb[0] = rgb_[0];
    point.rgb[1] = rgb_[1];
    point.rgb[2] = rgb_[2];
  }

 private:
  std::uint16_t rgb_[3];
};

// Colours the points of one class; `kExtended` tests the 8-bit extended classification
// (classes above 31), otherwise the 5-bit class.
template <bool kExtended>
class LASoperationSetRGBofClassOf final : public LASoperation {
 public:
  LASoperationSetRGBofClassOf(std::uint8_t classification, std::uint16_t red, std::uint16_t green,
                              std::uint16_t blue)
      : classification_(classification), rgb_{red, green, blue} {}
  const char* name() const override { return "set_RGB_of_class"; }
  int write_command(char* buffer, std::size_t size) const override {
    return print(buffer, size, "-%s %u %u %u %u ", name(), unsigned{classification_},
                 unsigned{rgb_[0]}, unsigned{rgb_[1]}, unsigned{rgb_[2]});
  }
  std::uint32_t get_selective_decoding() const override {
    return transform_layers::kClassification;
  }
  void transform(LASpoint& point) override {
    const std::uint8_t current = kExtended ? point.extended_classification : point.classification;
    if (current != classification_) return;
    point.rgb[0] = rgb_[0];
    point.rgb[1] = rgb_[1];
    point.rgb[2] = rgb_[2];
  }

 private:
  std::uint8_t classification_;
  std::uint16_t rgb_[3];
};
using LASoperationSetRGBofClass = LASoperationSetRGBofClassOf<false>;
using LASoperationSetRGBofExtendedClass = LASoperationSetRGBofClassOf<true>;

class LASoperationScaleRGB final : public LASoperation {
 public:
  LASoperationScaleRGB(float red, float green, float blue) : scale_{red, green, blue} {}
  const char* name() const override { return "scale_RGB"; }
  int write_command(char* buffer, std::size_t size) const override {
    return print(buffer, size, "-%s %f %f %f ", name(), double{scale_[0]}, double{scale_[1]},
                 double{scale_[2]});
  }
  std::uint32_t get_selective_decoding() const override { return transform_layers::kRGB; }
  void transform(LASpoint& point) override {
    for (int c = 0; c < 3; c++)
      point.rgb[c] = color_kernels::clamp_channel(scale_[c] * point.rgb[c]);
  }

 private:
  float scale_[3];
};

using LASoperationScaleRGBdown = LASoperationNoArgument<color_kernels::ScaleRGBdown>;
using LASoperationScaleRGBup = LASoperationNoArgument<color_kernels::ScaleRGBup>;
using LASoperationScaleRGBto8bit = LASoperationNoArgument<color_kernels::ScaleRGBto8bit>;
using LASoperationScaleRGBto16bit = LASoperationNoArgument<color_kernels::ScaleRGBto16bit>;
using LASoperationSwitchRG = LASoperationNoArgument<
    color_kernels::SwitchChannels<color_kernels::kRed, color_kernels::kGreen>>;
using LASoperationSwitchRB = LASoperationNoArgument<
    color_kernels::SwitchChannels<color_kernels::kRed, color_kernels::kBlue>>;
using LASoperationSwitchGB = LASoperationNoArgument<
    color_kernels::SwitchChannels<color_kernels::kGreen, color_kernels::kBlue>>;
using LASoperationSwitchRGBItoCIR = LASoperationNoArgument<color_kernels::SwitchRGBItoCIR>;
using LASoperationSwitchRGBIntensitytoCIR =
    LASoperationNoArgument<color_kernels::SwitchRGBIntensitytoCIR>;
using LASoperationCopyRGBintoIntensity =
    LASoperationNoArgument<color_kernels::CopyRGBintoIntensity>;
using LASoperationCopyRintoIntensity =
    LASoperationNoArgument<color_kernels::CopyChannelIntoIntensity<color_kernels::kRed>>;
using LASoperationCopyGintoIntensity =
    LASoperationNoArgument<color_kernels::CopyChannelIntoIntensity<color_kernels::kGreen>>;
using LASoperationCopyBintoIntensity =
    LASoperationNoArgument<color_kernels::CopyChannelIntoIntensity<color_kernels::kBlue>>;
using LASoperationCopyNIRintoIntensity =
    LASoperationNoArgument<color_kernels::CopyChannelIntoIntensity<color_kernels::kNIR>>;
using LASoperationCopyRintoNIR =
    LASoperationNoArgument<color_kernels::CopyChannelIntoNIR<color_kernels::kRed>>;
using LASoperationCopyGintoNIR =
    LASoperationNoArgument<color_kernels::CopyChannelIntoNIR<color_kernels::kGreen>>;
using LASoperationCopyBintoNIR =
    LASoperationNoArgument<color_kernels::CopyChannelIntoNIR<color_kernels::kBlue>>;
using LASoperationCopyIntensityIntoNIR =
    LASoperationNoArgument<color_kernels::CopyIntensityIntoNIR>;
template <int kChannel>
using LASoperationMultiplyScaledIntensityIntoRGB =
    LASoperationOneArgument<color_kernels::MultiplyScaledIntensityIntoChannel<kChannel>>;
