#include "codec/las_item_raw.hpp"

#include <algorithm>
#include <initializer_list>

std::unique_ptr<LASwriteItemRaw> create_raw_item_writer(const LASitem& item) {
  switch (item.type) {
    case LASitem::BYTE:
    case LASitem::BYTE14:
      return std::make_unique<LASwriteItemRaw_BYTE>(item.size);
    case LASitem::POINT10:
      return std::make_unique<LASwriteItemRaw_POINT10_LE>();
    case LASitem::GPSTIME11:
      return std::make_unique<LASwriteItemRaw_GPSTIME11_LE>();
    case LASitem::RGB12:
    case LASitem::RGB14:
      return std::make_unique<LASwriteItemRaw_RGB12_LE>();
    case LASitem::WAVEPACKET13:
    case LASitem::WAVEPACKET14:
      return std::make_unique<LASwriteItemRaw_WAVEPACKET13_LE>();
    case LASitem::RGBNIR14:
      return std::make_unique<LASwriteItemRaw_RGBNIR14_LE>();
    case LASitem::POINT14:
      return std::make_unique<LASwriteItemRaw_POINT14_LE>();
  }
  return nullptr;
}

std::unique_ptr<LASreadItemRaw> create_raw_item_reader(const LASitem& item) {
  switch (item.type) {
    case LASitem::BYTE:
    case LASitem::BYTE14:
      return std::make_unique<LASreadItemRaw_BYTE>(item.size);
    case LASitem::POINT10:
      return std::make_unique<LASreadItemRaw_POINT10_LE>();
    case LASitem::GPSTIME11:
      return std::make_unique<LASreadItemRaw_GPSTIME11_LE>();
    case LASitem::RGB12:
    case LASitem::RGB14:
      return std::make_unique<LASreadItemRaw_RGB12_LE>();
    case LASitem::WAVEPACKET13:
    case LASitem::WAVEPACKET14:
      return std::make_unique<LASreadItemRaw_WAVEPACKET13_LE>();
    case LASitem::RGBNIR14:
      return std::make_unique<LASreadItemRaw_RGBNIR14_LE>();
    case LASitem::POINT14:
      return std::make_unique<LASreadItemRaw_POINT14_LE>();
  }
  return nullptr;
}

bool RawRecordLayout::init(std::span<const LASitem> items) {
  steps_.clear();
  record_size_ = 0;
  shape_ = Shape::OTHER;
  for (std::uint32_t i = 0; i < items.size(); i++) {
    const LASitem& item = items[i];
    // A fixed-size item of another size would copy past its field in the point.
    const std::uint16_t fixed = LASitem::fixed_size(item.type);
    if (!LASitem::is_item_type(item.type) || (fixed != 0 && item.size != fixed)) {
      steps_.clear();
      record_size_ = 0;
      return false;
    }
    Step step{Step::COPY, i, record_size_, item.size};
    if (item.type == LASitem::POINT14) {
      step.kind = Step::POINT14;
    } else if (item.size == 20) {
      step.kind = Step::COPY20;
    } else if (item.size == 8) {
      step.kind = Step::COPY8;
    } else if (item.size == 6) {
      step.kind = Step::COPY6;
    } else if (item.size == 29) {
      step.kind = Step::COPY29;
    }
    steps_.push_back(step);
    record_size_ += item.size;
  }
  const auto kinds_are = [this](std::initializer_list<Step::Kind> kinds) {
    return std::equal(steps_.begin(), steps_.end(), kinds.begin(), kinds.end(),
                      [](const Step& step, Step::Kind kind) { return step.kind == kind; });
  };
  if (kinds_are({Step::COPY20, Step::COPY8})) shape_ = Shape::COPY_20_8;
  if (kinds_are({Step::COPY20, Step::COPY8, Step::COPY6})) shape_ = Shape::COPY_20_8_6;
  return true;
}
