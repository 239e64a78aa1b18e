// The cell kinds of LASraster: their planes and their add, get, set and clear operations.
// The counter and occupancy kinds also have inline paths in the header (counter_bits_),
// which the isolation grid uses per point; the operations here serve every other caller.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <limits>

#include "model/las_point.hpp"
#include "tool/las_raster.hpp"

namespace {

bool contains(std::string_view name, std::string_view word) {
  return name.find(word) != std::string_view::npos;
}

template <class... Words>
bool contains_any(std::string_view name, Words... words) {
  return (contains(name, words) || ...);
}

// Bits of plane k: the 1-bit "set" plane and the others.
bool bit_of(const std::uint8_t* plane, std::uint32_t i) {
  return (LASraster::load<std::uint32_t>(plane, i >> 5) >> (i & 31)) & 1u;
}
void set_bit(std::uint8_t* plane, std::uint32_t i) {
  LASraster::store<std::uint32_t>(plane, i >> 5,
                                  LASraster::load<std::uint32_t>(plane, i >> 5) | (1u << (i & 31)));
}
void clear_bit(std::uint8_t* plane, std::uint32_t i) {
  LASraster::store<std::uint32_t>(
      plane, i >> 5, LASraster::load<std::uint32_t>(plane, i >> 5) & ~(1u << (i & 31)));
}

std::int32_t clamp_to_int32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

// Point attributes folded by the statistics kinds, as the integers the record stores.
using Attribute = std::int32_t (*)(const LASpoint&);
std::int32_t elevation(const LASpoint& p) {
  return p.Z;
}
std::int32_t intensity(const LASpoint& p) {
  return p.intensity;
}
std::int32_t scan_angle(const LASpoint& p) {
  return p.extended_layout ? p.extended_scan_angle : p.scan_angle_rank;
}
std::int32_t abs_scan_angle(const LASpoint& p) {
  return std::abs(scan_angle(p));
}
std::int32_t user_data(const LASpoint& p) {
  return p.user_data;
}
std::int32_t point_source(const LASpoint& p) {
  return p.point_source_ID;
}
std::int32_t number_returns(const LASpoint& p) {
  return p.extended_layout ? p.extended_number_of_returns : p.number_of_returns;
}
// 1 single, 2 first of many, 3 intermediate, 4 last of many.
std::int32_t return_type(const LASpoint& p) {
  const int r = p.return_number;
  const int n = p.number_of_returns;
  if (n <= 1) return 1;
  if (r <= 1) return 2;
  if (r < n) return 3;
  return 4;
}

}  // namespace

// Friend of LASraster: configures a raster for one kind.
struct RasterKinds {
  using Raster = LASraster;

  static void configure(Raster& raster, std::initializer_list<std::uint32_t> planes,
                        Raster::AddFunction add, Raster::GetFunction get, Raster::SetFunction set,
                        Raster::ClearFunction clear, std::uint32_t counter_bits) {
    int k = 0;
    for (std::uint32_t bits : planes)
      raster.plane_bits_[k++] = bits;
    raster.plane_bits_[k] = 0;
    raster.add_ = add;
    raster.get_ = get;
    raster.set_ = set;
    raster.clear_ = clear;
    raster.counter_bits_ = counter_bits;
    raster.sparse_ = raster.sparse_wanted_ && counter_bits != 0;
  }

  static void track(Raster& raster, std::int32_t value) {
    if (!raster.track_range) return;
    if (value < raster.min_value) raster.min_value = value;
    if (value > raster.max_value) raster.max_value = value;
  }

  // ---- counters and occupancy (the same rules as the inline paths) ----
  static void add_counter(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint*) {
    switch (r.counter_bits_) {
      case 1:
        r.add_occupancy(tile, i);
        break;
      case 2:
        r.add_counter_2bit(tile, i);
        break;
      case 4:
        r.add_counter_4bit(tile, i);
        break;
      case 8:
        r.add_counter<std::uint8_t>(tile, i);
        break;
      case 16:
        r.add_counter<std::uint16_t>(tile, i);
        break;
      default:
        r.add_counter<std::uint32_t>(tile, i);
        break;
    }
  }
  static std::uint32_t read_counter(const Raster& r, const std::uint8_t* tile, std::uint32_t i) {
    switch (r.counter_bits_) {
      case 1:
        return bit_of(tile, i);
      case 2:
        return (tile[i >> 2] >> (6 - 2 * (i & 3))) & 3u;
      case 4:
        return (tile[i >> 1] >> ((i & 1) ? 0 : 4)) & 15u;
      case 8:
        return tile[i];
      case 16:
        return Raster::load<std::uint16_t>(tile, i);
      default:
        return Raster::load<std::uint32_t>(tile, i);
    }
  }
  static bool get_counter(const Raster& r, const std::uint8_t* tile, std::uint32_t i, double& value,
                          std::uint32_t) {
    const std::uint32_t count = read_counter(r, tile, i);
    value = count;
    return count != 0;
  }
  static void set_counter(Raster& r, std::uint8_t* tile, std::uint32_t i, std::uint32_t value) {
    switch (r.counter_bits_) {
      case 8:
        tile[i] = static_cast<std::uint8_t>(std::min<std::uint32_t>(value, 255));
        break;
      case 16:
        Raster::store<std::uint16_t>(
            tile, i, static_cast<std::uint16_t>(std::min<std::uint32_t>(value, 65535)));
        break;
      default:
        Raster::store<std::uint32_t>(tile, i, value);
        break;
    }
  }
  static void clear_counter(Raster& r, std::uint8_t* tile, std::uint32_t i) {
    switch (r.counter_bits_) {
      case 1:
        clear_bit(tile, i);
        break;
      case 2:
        tile[i >> 2] &= static_cast<std::uint8_t>(~(3u << (6 - 2 * (i & 3))));
        break;
      case 4:
        tile[i >> 1] &= static_cast<std::uint8_t>((i & 1) ? 0xF0 : 0x0F);
        break;
      case 8:
        tile[i] = 0;
        break;
      case 16:
        Raster::store<std::uint16_t>(tile, i, 0);
        break;
      default:
        Raster::store<std::uint32_t>(tile, i, 0);
        break;
    }
  }

  // ---- extremes: plane 0 the value, plane 1 the "set" bit ----
  template <Attribute attribute, bool highest>
  static void add_extreme(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    const std::int32_t value = attribute(*p);
    std::uint8_t* values = r.plane(tile, 0);
    std::uint8_t* set = r.plane(tile, 1);
    if (!bit_of(set, i) || (highest ? value > Raster::load<std::int32_t>(values, i)
                                    : value < Raster::load<std::int32_t>(values, i))) {
      Raster::store<std::int32_t>(values, i, value);
      set_bit(set, i);
      track(r, value);
    }
  }
  static bool get_value(const Raster& r, const std::uint8_t* tile, std::uint32_t i, double& value,
                        std::uint32_t) {
    if (!bit_of(r.plane(tile, 1), i)) return false;
    value = Raster::load<std::int32_t>(r.plane(tile, 0), i);
    return true;
  }
  static void set_value(Raster& r, std::uint8_t* tile, std::uint32_t i, std::uint32_t value) {
    Raster::store<std::uint32_t>(r.plane(tile, 0), i, value);
    set_bit(r.plane(tile, 1), i);
  }
  static void clear_value(Raster& r, std::uint8_t* tile, std::uint32_t i) {
    clear_bit(r.plane(tile, 1), i);
  }
  static void add_nothing(Raster&, std::uint8_t*, std::uint32_t, const LASpoint*) {}

  // ---- lowest elevation with the index of its point: planes z, index, "set" ----
  static void add_lowest_index(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    std::uint8_t* set = r.plane(tile, 2);
    if (!bit_of(set, i) || p->Z < Raster::load<std::int32_t>(r.plane(tile, 0), i)) {
      Raster::store<std::int32_t>(r.plane(tile, 0), i, p->Z);
      Raster::store<std::uint32_t>(r.plane(tile, 1), i, r.point_index);
      set_bit(set, i);
      track(r, p->Z);
    }
  }
  // argument 0: the point index of the lowest point; 1: its elevation.
  static bool get_lowest_index(const Raster& r, const std::uint8_t* tile, std::uint32_t i,
                               double& value, std::uint32_t argument) {
    if (!bit_of(r.plane(tile, 2), i)) return false;
    value = argument == 1 ? static_cast<double>(Raster::load<std::int32_t>(r.plane(tile, 0), i))
                          : static_cast<double>(Raster::load<std::uint32_t>(r.plane(tile, 1), i));
    return true;
  }
  static void clear_set_plane_2(Raster& r, std::uint8_t* tile, std::uint32_t i) {
    clear_bit(r.plane(tile, 2), i);
  }

  // ---- range: planes lowest, highest, "set" ----
  template <Attribute attribute>
  static void add_range(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    const std::int32_t value = attribute(*p);
    std::uint8_t* low = r.plane(tile, 0);
    std::uint8_t* high = r.plane(tile, 1);
    std::uint8_t* set = r.plane(tile, 2);
    if (!bit_of(set, i)) {
      Raster::store<std::int32_t>(low, i, value);
      Raster::store<std::int32_t>(high, i, value);
      set_bit(set, i);
    } else if (value < Raster::load<std::int32_t>(low, i)) {
      Raster::store<std::int32_t>(low, i, value);
    } else if (value > Raster::load<std::int32_t>(high, i)) {
      Raster::store<std::int32_t>(high, i, value);
    }
    track(r, clamp_to_int32(std::int64_t{Raster::load<std::int32_t>(high, i)} -
                            Raster::load<std::int32_t>(low, i)));
  }
  static bool get_range(const Raster& r, const std::uint8_t* tile, std::uint32_t i, double& value,
                        std::uint32_t) {
    if (!bit_of(r.plane(tile, 2), i)) return false;
    value = static_cast<double>(std::int64_t{Raster::load<std::int32_t>(r.plane(tile, 1), i)} -
                                Raster::load<std::int32_t>(r.plane(tile, 0), i));
    return true;
  }

  // ---- average: a 64-bit sum (no 32-bit overflow for elevations) and a 16-bit count ----
  template <Attribute attribute>
  static void add_average(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    std::uint8_t* sums = r.plane(tile, 0);
    std::uint8_t* counts = r.plane(tile, 1);
    const std::uint16_t count = Raster::load<std::uint16_t>(counts, i);
    if (count == 65535) {
      r.overflow_count++;
      return;
    }
    const std::int64_t sum = Raster::load<std::int64_t>(sums, i) + attribute(*p);
    Raster::store<std::int64_t>(sums, i, sum);
    Raster::store<std::uint16_t>(counts, i, static_cast<std::uint16_t>(count + 1));
    track(r, clamp_to_int32(sum / (count + 1)));
  }
  static bool get_average(const Raster& r, const std::uint8_t* tile, std::uint32_t i, double& value,
                          std::uint32_t) {
    const std::uint16_t count = Raster::load<std::uint16_t>(r.plane(tile, 1), i);
    if (count == 0) return false;
    value = static_cast<double>(Raster::load<std::int64_t>(r.plane(tile, 0), i)) / count;
    return true;
  }
  static void clear_plane_1_count(Raster& r, std::uint8_t* tile, std::uint32_t i) {
    Raster::store<std::uint16_t>(r.plane(tile, 1), i, 0);
    Raster::store<std::int64_t>(r.plane(tile, 0), i, 0);
  }

  // ---- standard deviation: running mean and sum of squared deviations, 16-bit count ----
  template <Attribute attribute>
  static void add_stddev(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    std::uint8_t* counts = r.plane(tile, 2);
    const std::uint16_t count = Raster::load<std::uint16_t>(counts, i);
    if (count == 65535) {
      r.overflow_count++;
      return;
    }
    const double value = attribute(*p);
    const double mean = Raster::load<double>(r.plane(tile, 0), i);
    const double squares = Raster::load<double>(r.plane(tile, 1), i);
    const double delta = value - mean;
    const double new_mean = mean + delta / (count + 1);
    Raster::store<double>(r.plane(tile, 0), i, new_mean);
    Raster::store<double>(r.plane(tile, 1), i, squares + delta * (value - new_mean));
    Raster::store<std::uint16_t>(counts, i, static_cast<std::uint16_t>(count + 1));
  }
  static bool get_stddev(const Raster& r, const std::uint8_t* tile, std::uint32_t i, double& value,
                         std::uint32_t) {
    const std::uint16_t count = Raster::load<std::uint16_t>(r.plane(tile, 2), i);
    if (count == 0) return false;
    value = std::sqrt(Raster::load<double>(r.plane(tile, 1), i) / count);
    return true;
  }
  static void clear_stddev(Raster& r, std::uint8_t* tile, std::uint32_t i) {
    Raster::store<std::uint16_t>(r.plane(tile, 2), i, 0);
    Raster::store<double>(r.plane(tile, 0), i, 0.0);
    Raster::store<double>(r.plane(tile, 1), i, 0.0);
  }

  // ---- return types seen, as a 4-bit mask in an 8-bit plane ----
  static void add_return_mask(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    tile[i] = static_cast<std::uint8_t>(tile[i] | (1u << (return_type(*p) - 1)));
    track(r, tile[i]);
  }
  static bool get_byte_mask(const Raster&, const std::uint8_t* tile, std::uint32_t i, double& value,
                            std::uint32_t) {
    value = tile[i];
    return tile[i] != 0;
  }
  static void clear_byte(Raster&, std::uint8_t* tile, std::uint32_t i) { tile[i] = 0; }

  // ---- classes seen: a 32-bit mask of the classes 0-31, get gives their number ----
  static void add_variety(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    const std::uint32_t code = p->get_classification();
    if (code >= 32) return;
    const std::uint32_t mask = Raster::load<std::uint32_t>(tile, i) | (1u << code);
    Raster::store<std::uint32_t>(tile, i, mask);
    track(r, std::popcount(mask));
  }
  static bool get_variety(const Raster&, const std::uint8_t* tile, std::uint32_t i, double& value,
                          std::uint32_t) {
    const std::uint32_t mask = Raster::load<std::uint32_t>(tile, i);
    value = std::popcount(mask);
    return mask != 0;
  }
  static void clear_word(Raster&, std::uint8_t* tile, std::uint32_t i) {
    Raster::store<std::uint32_t>(tile, i, 0);
  }

  // ---- average colour: three 32-bit sums and a 16-bit count; argument = channel ----
  static void add_rgb(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    std::uint8_t* counts = r.plane(tile, 3);
    const std::uint16_t count = Raster::load<std::uint16_t>(counts, i);
    if (count == 65535) {
      r.overflow_count++;
      return;
    }
    for (int c = 0; c < 3; c++) {
      Raster::store<std::uint32_t>(r.plane(tile, c), i,
                                   Raster::load<std::uint32_t>(r.plane(tile, c), i) + p->rgb[c]);
    }
    Raster::store<std::uint16_t>(counts, i, static_cast<std::uint16_t>(count + 1));
  }
  static bool get_rgb(const Raster& r, const std::uint8_t* tile, std::uint32_t i, double& value,
                      std::uint32_t argument) {
    const std::uint16_t count = Raster::load<std::uint16_t>(r.plane(tile, 3), i);
    if (count == 0 || argument > 2) return false;
    value = static_cast<double>(Raster::load<std::uint32_t>(r.plane(tile, argument), i)) / count;
    return true;
  }
  static void clear_plane_3_count(Raster& r, std::uint8_t* tile, std::uint32_t i) {
    for (int c = 0; c < 3; c++)
      Raster::store<std::uint32_t>(r.plane(tile, c), i, 0);
    Raster::store<std::uint16_t>(r.plane(tile, 3), i, 0);
  }

  // ---- one point of the cell drawn at random (reservoir of one), raw X, Y, Z ----
  static void add_random_xyz(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    std::uint8_t* counts = r.plane(tile, 3);
    const std::uint16_t count = Raster::load<std::uint16_t>(counts, i);
    if (count < 65535)
      Raster::store<std::uint16_t>(counts, i, static_cast<std::uint16_t>(count + 1));
    if (r.next_random() % (std::uint64_t{count} + 1) != 0) return;
    Raster::store<std::int32_t>(r.plane(tile, 0), i, p->X);
    Raster::store<std::int32_t>(r.plane(tile, 1), i, p->Y);
    Raster::store<std::int32_t>(r.plane(tile, 2), i, p->Z);
  }
  static bool get_random_xyz(const Raster& r, const std::uint8_t* tile, std::uint32_t i,
                             double& value, std::uint32_t argument) {
    if (Raster::load<std::uint16_t>(r.plane(tile, 3), i) == 0 || argument > 2) return false;
    value = Raster::load<std::int32_t>(r.plane(tile, argument), i);
    return true;
  }

  // ---- mean of the raw X, Y, Z: 64-bit sums and a 16-bit count ----
  static void add_mean_xyz(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    std::uint8_t* counts = r.plane(tile, 3);
    const std::uint16_t count = Raster::load<std::uint16_t>(counts, i);
    if (count == 65535) {
      r.overflow_count++;
      return;
    }
    const std::int32_t xyz[3] = {p->X, p->Y, p->Z};
    for (int c = 0; c < 3; c++) {
      Raster::store<std::int64_t>(r.plane(tile, c), i,
                                  Raster::load<std::int64_t>(r.plane(tile, c), i) + xyz[c]);
    }
    Raster::store<std::uint16_t>(counts, i, static_cast<std::uint16_t>(count + 1));
  }
  static bool get_mean_xyz(const Raster& r, const std::uint8_t* tile, std::uint32_t i,
                           double& value, std::uint32_t argument) {
    const std::uint16_t count = Raster::load<std::uint16_t>(r.plane(tile, 3), i);
    if (count == 0 || argument > 2) return false;
    value = static_cast<double>(Raster::load<std::int64_t>(r.plane(tile, argument), i)) / count;
    return true;
  }
  static void clear_mean_xyz(Raster& r, std::uint8_t* tile, std::uint32_t i) {
    for (int c = 0; c < 3; c++)
      Raster::store<std::int64_t>(r.plane(tile, c), i, 0);
    Raster::store<std::uint16_t>(r.plane(tile, 3), i, 0);
  }

  // ---- two counters per cell and their share, scaled to the counter maximum ----
  // Class quotient: plane 0 counts points of quotient_class, plane 1 the others. Return
  // quotient: plane 0 counts single returns, plane 1 first returns (singles included).
  template <class T, bool of_returns>
  static void add_pair(Raster& r, std::uint8_t* tile, std::uint32_t i, const LASpoint* p) {
    if (p == nullptr) return;
    int which;
    if (of_returns) {
      if (p->return_number > 1) return;
      if (p->number_of_returns <= 1) bump<T>(r, r.plane(tile, 0), i);
      which = 1;
    } else {
      which = p->get_classification() == r.quotient_class_ ? 0 : 1;
    }
    bump<T>(r, r.plane(tile, which), i);
  }
  template <class T>
  static void bump(Raster& r, std::uint8_t* plane, std::uint32_t i) {
    const T count = Raster::load<T>(plane, i);
    if (count == std::numeric_limits<T>::max()) {
      r.overflow_count++;
      return;
    }
    Raster::store<T>(plane, i, static_cast<T>(count + 1));
  }
  template <class T, bool of_returns>
  static bool get_pair(const Raster& r, const std::uint8_t* tile, std::uint32_t i, double& value,
                       std::uint32_t) {
    const double part = Raster::load<T>(r.plane(tile, 0), i);
    const double other = Raster::load<T>(r.plane(tile, 1), i);
    const double whole = of_returns ? other : part + other;
    if (whole == 0) return false;
    value = std::floor(part * std::numeric_limits<T>::max() / whole);
    return true;
  }
  template <class T>
  static void clear_pair(Raster& r, std::uint8_t* tile, std::uint32_t i) {
    Raster::store<T>(r.plane(tile, 0), i, T{0});
    Raster::store<T>(r.plane(tile, 1), i, T{0});
  }

  // Plain counters by width keyword; the first keyword that matches wins, and "32bit"
  // must be tried before "2bit", which it contains.
  static void choose_counter(Raster& raster, std::string_view name, bool allow_narrow) {
    std::uint32_t bits = 8;
    if (contains(name, "16bit")) {
      bits = 16;
    } else if (contains(name, "32bit")) {
      bits = 32;
    } else if (allow_narrow && contains(name, "2bit")) {
      bits = 2;
    } else if (allow_narrow && contains(name, "4bit")) {
      bits = 4;
    }
    configure(raster, {bits}, add_counter, get_counter, bits >= 8 ? set_counter : nullptr,
              clear_counter, bits);
    raster.min_value = 0;
  }

  template <Attribute attribute>
  static void choose_statistic(Raster& raster, int variant) {
    switch (variant) {
      case kHighest:
        configure(raster, {32, 1}, add_extreme<attribute, true>, get_value, nullptr, clear_value,
                  0);
        break;
      case kLowest:
        configure(raster, {32, 1}, add_extreme<attribute, false>, get_value, nullptr, clear_value,
                  0);
        break;
      case kAverage:
        configure(raster, {64, 16}, add_average<attribute>, get_average, nullptr,
                  clear_plane_1_count, 0);
        break;
      case kStddev:
        configure(raster, {64, 64, 16}, add_stddev<attribute>, get_stddev, nullptr, clear_stddev,
                  0);
        break;
      case kRange:
        configure(raster, {32, 32, 1}, add_range<attribute>, get_range, nullptr, clear_set_plane_2,
                  0);
        break;
    }
  }

  enum Variant { kNone, kHighest, kLowest, kAverage, kStddev, kRange, kIndex };

  static int variant_of(std::string_view name) {
    if (contains(name, "index")) return kIndex;
    if (contains_any(name, "stddev", "std")) return kStddev;
    if (contains_any(name, "average", "avg", "mean")) return kAverage;
    if (contains(name, "range")) return kRange;
    if (contains_any(name, "highest", "max")) return kHighest;
    if (contains_any(name, "lowest", "min")) return kLowest;
    return kNone;
  }

  static bool choose(Raster& raster, std::string_view name) {
    if (contains(name, "occupancy")) {
      configure(raster, {1}, add_counter, get_counter, nullptr, clear_counter, 1);
      raster.min_value = 0;
      raster.max_value = 1;
      return true;
    }
    if (contains(name, "quotient")) {
      const bool wide = contains(name, "16bit");
      if (contains(name, "counter")) {
        if (wide) {
          configure(raster, {16, 16}, add_pair<std::uint16_t, true>, get_pair<std::uint16_t, true>,
                    nullptr, clear_pair<std::uint16_t>, 0);
        } else {
          configure(raster, {8, 8}, add_pair<std::uint8_t, true>, get_pair<std::uint8_t, true>,
                    nullptr, clear_pair<std::uint8_t>, 0);
        }
        raster.min_value = 0;
        return true;
      }
      for (char digit = '1'; digit <= '8'; digit++) {
        const char keyword[] = {'_', digit, '_', '\0'};
        if (!contains(name, keyword)) continue;
        raster.quotient_class_ = static_cast<std::uint32_t>(digit - '0');
        if (wide) {
          configure(raster, {16, 16}, add_pair<std::uint16_t, false>,
                    get_pair<std::uint16_t, false>, nullptr, clear_pair<std::uint16_t>, 0);
        } else {
          configure(raster, {8, 8}, add_pair<std::uint8_t, false>, get_pair<std::uint8_t, false>,
                    nullptr, clear_pair<std::uint8_t>, 0);
        }
        raster.min_value = 0;
        return true;
      }
      return false;
    }
    if (contains(name, "counter")) {
      choose_counter(raster, name, true);
      return true;
    }
    if (contains(name, "majority")) {
      choose_counter(raster, name, false);
      return true;
    }
    if (contains(name, "variety")) {
      configure(raster, {32}, add_variety, get_variety, nullptr, clear_word, 0);
      return true;
    }
    if (contains(name, "return_type")) {
      if (name == "return_type") {
        configure(raster, {8}, add_return_mask, get_byte_mask, nullptr, clear_byte, 0);
        return true;
      }
      const int variant = variant_of(name);
      if (variant != kHighest && variant != kLowest) return false;
      choose_statistic<return_type>(raster, variant);
      return true;
    }
    if (contains(name, "rgb")) {
      configure(raster, {32, 32, 32, 16}, add_rgb, get_rgb, nullptr, clear_plane_3_count, 0);
      return true;
    }
    if (contains(name, "xyz_random")) {
      configure(raster, {32, 32, 32, 16}, add_random_xyz, get_random_xyz, nullptr,
                clear_plane_3_count, 0);
      return true;
    }
    if (contains(name, "mean_xyz")) {
      configure(raster, {64, 64, 64, 16}, add_mean_xyz, get_mean_xyz, nullptr, clear_mean_xyz, 0);
      return true;
    }
    if (name == "value") {
      configure(raster, {32, 1}, add_nothing, get_value, set_value, clear_value, 0);
      return true;
    }
    if (contains(name, "scan_angle")) {
      if (contains_any(name, "highest_abs", "abs_highest", "max_abs", "abs_max")) {
        choose_statistic<abs_scan_angle>(raster, kHighest);
        return true;
      }
      if (contains_any(name, "average_abs", "abs_average", "avg_abs", "abs_avg")) {
        choose_statistic<abs_scan_angle>(raster, kAverage);
        return true;
      }
      if (contains(name, "abs")) {
        choose_statistic<abs_scan_angle>(raster, kHighest);
        return true;
      }
      return choose_attribute<scan_angle>(raster, name, kHighest);
    }
    if (contains(name, "elevation")) {
      if (variant_of(name) == kIndex) {
        configure(raster, {32, 32, 1}, add_lowest_index, get_lowest_index, nullptr,
                  clear_set_plane_2, 0);
        return true;
      }
      return choose_attribute<elevation>(raster, name, kLowest);
    }
    if (contains(name, "intensity")) return choose_attribute<intensity>(raster, name, kHighest);
    if (contains(name, "user_data")) return choose_attribute<user_data>(raster, name, kHighest);
    if (contains(name, "point_source")) {
      return choose_attribute<point_source>(raster, name, kHighest);
    }
    if (contains(name, "number_returns")) {
      return choose_attribute<number_returns>(raster, name, kHighest);
    }
    return false;
  }

  template <Attribute attribute>
  static bool choose_attribute(Raster& raster, std::string_view name, int default_variant) {
    int variant = variant_of(name);
    if (variant == kIndex) return false;  // only elevation keeps the index of its point
    if (variant == kNone) variant = default_variant;
    choose_statistic<attribute>(raster, variant);
    return true;
  }
};

bool LASraster::set_kind(std::string_view name) {
  if (tile_bytes_ != 0) return false;  // the layout is fixed once a tile exists
  const std::int32_t old_min = min_value, old_max = max_value;
  min_value = 2147483647;
  max_value = -2147483647 - 1;
  if (RasterKinds::choose(*this, name)) return true;
  min_value = old_min;
  max_value = old_max;
  return false;
}
