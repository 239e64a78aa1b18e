#include "model/las_item.hpp"

std::uint16_t LASitem::fixed_size(Type type) {
  switch (type) {
    case POINT10:
      return 20;
    case GPSTIME11:
      return 8;
    case RGB12:
      return 6;
    case WAVEPACKET13:
      return 29;
    case POINT14:
      return 30;
    case RGB14:
      return 6;
    case RGBNIR14:
      return 8;
    case WAVEPACKET14:
      return 29;
    case BYTE:
    case BYTE14:
      return 0;
  }
  return 0;
}

const char* LASitem::type_name(Type type) {
  switch (type) {
    case BYTE:
      return "BYTE";
    case POINT10:
      return "POINT10";
    case GPSTIME11:
      return "GPSTIME11";
    case RGB12:
      return "RGB12";
    case WAVEPACKET13:
      return "WAVEPACKET13";
    case POINT14:
      return "POINT14";
    case RGB14:
      return "RGB14";
    case RGBNIR14:
      return "RGBNIR14";
    case WAVEPACKET14:
      return "WAVEPACKET14";
    case BYTE14:
      return "BYTE14";
  }
  return "UNKNOWN";
}

bool LASitem::is_item_type(std::uint32_t value) {
  return value == 0 || (value >= 6 && value <= 14);
}
