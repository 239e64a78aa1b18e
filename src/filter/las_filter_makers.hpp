#pragma once

// The functions of the filter's option table that turn parsed arguments into criteria,
// with their range checks and messages. Included by the table only.

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>

#include "filter/las_criteria_basic.hpp"
#include "filter/las_criteria_sets.hpp"
#include "filter/las_criteria_state.hpp"
#include "filter/las_filter.hpp"
#include "options/command_options.hpp"

namespace las_filter_makers {

inline constexpr std::uint32_t kMaxID = 65535;

// One parsed argument, by its kind letter: 'd' double ("%lf"), 'f' float ("%f"), 'i' signed
// integer ("%d"), 'u' unsigned integer ("%u").
struct Value {
  double real = 0.0;
  float single = 0.0f;
  std::int64_t integer = 0;
  std::uint32_t natural() const { return static_cast<std::uint32_t>(integer); }
  int whole() const { return static_cast<int>(integer); }
};

// What a make function gets: the option as typed, its parsed fixed arguments and their
// texts, and for list options the vector with `index` at the option (to be advanced to the
// last entry consumed).
struct Call {
  const char* option;
  const Value* values;
  char* const* texts;
  int& index;
  int argc;
  char** argv;
};

}  // namespace las_filter_makers

// The state of one parse run: the filter being filled and the extended class sets, which
// become one criterion after the last entry.
class LASfilterParse {
 public:
  explicit LASfilterParse(LASfilter& filter) : filter_(filter) {}
  void add(std::unique_ptr<LAScriterion> criterion) {
    filter_.append_criterion(std::move(criterion));
  }
  std::unique_ptr<LAScriterion> take_last() { return filter_.take_last(); }
  const LAScriterion* last() const {
    return filter_.criteria_.empty() ? nullptr : filter_.criteria_.back().get();
  }
  bool finish();

  std::array<std::uint32_t, 8> keep_extended{};
  std::array<std::uint32_t, 8> drop_extended{};

 private:
  LASfilter& filter_;
};

namespace las_filter_makers {

// ---- make functions --------------------------------------------------------------------

template <typename T>
T value_as(const Value& value) {
  if constexpr (std::is_same_v<T, double>) return value.real;
  if constexpr (std::is_same_v<T, float>) return value.single;
  if constexpr (std::is_same_v<T, int>) return value.whole();
  if constexpr (std::is_same_v<T, std::uint32_t>) return value.natural();
}

// The criterion made from the first N arguments converted to T.
template <typename C, typename T, std::size_t... I>
inline bool add_values_of(LASfilterParse& parse, const Call& call, std::index_sequence<I...>) {
  parse.add(std::make_unique<C>(value_as<T>(call.values[I])...));
  return true;
}
template <typename C, typename T, std::size_t N>
inline bool add_values(LASfilterParse& parse, const Call& call) {
  return add_values_of<C, T>(parse, call, std::make_index_sequence<N>());
}

template <typename C>
inline bool add_plain(LASfilterParse& parse, const Call&) {
  parse.add(std::make_unique<C>());
  return true;
}

// Bounds given in either order.
template <typename C>
inline bool add_ordered(LASfilterParse& parse, const Call& call) {
  int min = call.values[0].whole();
  int max = call.values[1].whole();
  if (min > max) std::swap(min, max);
  parse.add(std::make_unique<C>(min, max));
  return true;
}

template <typename C, int kChannel>
inline bool add_channel(LASfilterParse& parse, const Call& call) {
  int min = call.values[0].whole();
  int max = call.values[1].whole();
  if (min > max) std::swap(min, max);
  parse.add(std::make_unique<C>(kChannel, min, max));
  return true;
}

template <int kNirChannel>
inline bool add_ndvi(LASfilterParse& parse, const Call& call) {
  parse.add(std::make_unique<LAScriterionKeepNDVI>(kNirChannel, call.values[0].single,
                                                   call.values[1].single));
  return true;
}

template <typename C, unsigned kNumber>
inline bool add_number_of_returns(LASfilterParse& parse, const Call&) {
  parse.add(std::make_unique<C>(kNumber));
  return true;
}

template <typename C>
inline bool add_number_of_returns_given(LASfilterParse& parse, const Call& call) {
  const std::uint32_t number = call.values[0].natural();
  if (number > 15) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: number of returns but '%u' is no valid value\n",
                 call.option, number);
    return false;
  }
  parse.add(std::make_unique<C>(number));
  return true;
}

// A 1-argument criterion on an unsigned value at most `kMax`; `message` has the value and
// the maximum.
template <typename C, std::uint32_t kMax>
inline bool add_limited(LASfilterParse& parse, const Call& call, const char* message) {
  const std::uint32_t value = call.values[0].natural();
  if (value > kMax) {
    std::fprintf(stderr, message, value, kMax);
    return false;
  }
  parse.add(std::make_unique<C>(static_cast<int>(value)));
  return true;
}

// A 2-argument criterion on unsigned values at most `kMax`.
template <typename C, std::uint32_t kMax>
inline bool add_limited_pair(LASfilterParse& parse, const Call& call, const char* min_message,
                             const char* max_message) {
  const std::uint32_t min = call.values[0].natural();
  const std::uint32_t max = call.values[1].natural();
  if (min > kMax) {
    std::fprintf(stderr, min_message, min, kMax);
    return false;
  }
  if (max > kMax) {
    std::fprintf(stderr, max_message, max, kMax);
    return false;
  }
  parse.add(std::make_unique<C>(static_cast<int>(min), static_cast<int>(max)));
  return true;
}

inline bool add_keep_intensity(LASfilterParse& parse, const Call& call) {
  return add_limited_pair<LAScriterionKeepIntensity, 65535>(
      parse, call, "ERROR: cannot keep intensity because min of %u is larger than %u\n",
      "ERROR: cannot keep intensity because max of %u is larger than %u\n");
}
inline bool add_keep_intensity_above(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionKeepIntensityAbove, 65535>(
      parse, call, "ERROR: cannot keep intensity above max of %u because it is larger than %u\n");
}
inline bool add_keep_intensity_below(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionKeepIntensityBelow, 65535>(
      parse, call, "ERROR: cannot keep intensity below min of %u because it is larger than %u\n");
}
inline bool add_keep_point_source_between(LASfilterParse& parse, const Call& call) {
  return add_limited_pair<LAScriterionKeepPointSourceBetween, kMaxID>(
      parse, call, "ERROR: cannot keep point source because min_ID of %u is larger than %u\n",
      "ERROR: cannot keep point source because max_ID of %u is larger than %u\n");
}
inline bool add_drop_point_source_below(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionDropPointSourceBelow, kMaxID>(
      parse, call,
      "ERROR: cannot drop point source below min_ID of %u because it is larger than %u\n");
}
inline bool add_drop_point_source_above(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionDropPointSourceAbove, kMaxID>(
      parse, call,
      "ERROR: cannot drop point source above max_ID of %u because it is larger than %u\n");
}
inline bool add_drop_point_source_between(LASfilterParse& parse, const Call& call) {
  return add_limited_pair<LAScriterionDropPointSourceBetween, kMaxID>(
      parse, call, "ERROR: cannot drop point source because min_ID of %u is larger than %u\n",
      "ERROR: cannot drop point source because max_ID of %u is larger than %u\n");
}
inline bool add_drop_user_data_below(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionDropUserDataBelow, 255>(
      parse, call, "ERROR: cannot drop user data below %u because it is larger than %u\n");
}
inline bool add_drop_user_data_above(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionDropUserDataAbove, 255>(
      parse, call, "ERROR: cannot drop user data above %u because it is larger than %u\n");
}
inline bool add_drop_user_data_between(LASfilterParse& parse, const Call& call) {
  return add_limited_pair<LAScriterionDropUserDataBetween, 255>(
      parse, call,
      "ERROR: cannot drop user data between min and max because min of %u is larger than %u\n",
      "ERROR: cannot drop user data between min and max because max of %u is larger than %u\n");
}

inline bool add_drop_scan_direction(LASfilterParse& parse, const Call& call) {
  const std::uint32_t direction = call.values[0].natural();
  if (direction > 1) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: scan direction but '%u' is no valid value\n",
                 call.option, direction);
    return false;
  }
  parse.add(std::make_unique<LAScriterionDropScanDirection>(static_cast<int>(direction)));
  return true;
}

inline bool add_keep_scanner_channel(LASfilterParse& parse, const Call& call) {
  const std::uint32_t channel = call.values[0].natural();
  if (channel > 3) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: number between 0 and 3 so '%s' is not valid\n",
                 call.option, call.texts[0]);
    return false;
  }
  parse.add(std::make_unique<LAScriterionKeepScannerChannel>(static_cast<int>(channel)));
  return true;
}

inline bool add_drop_scanner_channel(LASfilterParse& parse, const Call& call) {
  const std::uint32_t channel = call.values[0].natural();
  if (channel > 3) {
    std::fprintf(stderr, "ERROR: %u is no valid value for '%s'\n", channel, call.option);
    return false;
  }
  parse.add(std::make_unique<LAScriterionDropScannerChannel>(static_cast<int>(channel)));
  return true;
}

template <typename C>
inline bool add_return_mask(LASfilterParse& parse, const Call& call) {
  const std::uint32_t mask = call.values[0].natural();
  if (mask > 65535) {
    std::fprintf(stderr, "ERROR: '%s' needs a return_mask between 0 and %u but return_mask is %u\n",
                 call.option, 65535u, mask);
    return false;
  }
  parse.add(std::make_unique<C>(mask));
  return true;
}

inline bool add_keep_class_mask(LASfilterParse& parse, const Call& call) {
  parse.add(std::make_unique<LAScriterionKeepClassifications>(call.values[0].natural()));
  return true;
}
inline bool add_drop_class_mask(LASfilterParse& parse, const Call& call) {
  parse.add(std::make_unique<LAScriterionDropClassifications>(call.values[0].natural()));
  return true;
}

inline bool add_drop_abs_scan_angle_above(LASfilterParse& parse, const Call& call) {
  const int max = call.values[0].whole();
  parse.add(std::make_unique<LAScriterionKeepScanAngle>(-max, max));
  return true;
}
inline bool add_drop_abs_scan_angle_below(LASfilterParse& parse, const Call& call) {
  const int min = call.values[0].whole();
  parse.add(std::make_unique<LAScriterionDropScanAngleBetween>(1 - min, min - 1));
  return true;
}

template <typename C>
inline bool add_every_nth(LASfilterParse& parse, const Call& call) {
  const std::uint32_t nth = call.values[0].natural();
  if (nth == 0) {
    std::fprintf(stderr, "ERROR: %u is no valid nth for '%s'\n", nth, call.option);
    return false;
  }
  parse.add(std::make_unique<C>(nth));
  return true;
}

template <typename C>
inline bool add_spacing(LASfilterParse& parse, const Call& call, const char* what) {
  const float spacing = call.values[0].single;
  if (!(spacing > 0.0f)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: %s but '%g' is no valid value\n",
                 call.option, what, static_cast<double>(spacing));
    return false;
  }
  parse.add(std::make_unique<C>(spacing));
  return true;
}
inline bool add_thin_with_grid(LASfilterParse& parse, const Call& call) {
  return add_spacing<LAScriterionThinWithGrid>(parse, call, "grid spacing");
}
inline bool add_thin_pulses(LASfilterParse& parse, const Call& call) {
  return add_spacing<LAScriterionThinPulsesWithTime>(parse, call, "time spacing");
}
inline bool add_thin_points(LASfilterParse& parse, const Call& call) {
  return add_spacing<LAScriterionThinPointsWithTime>(parse, call, "time spacing");
}

inline bool add_random_fraction(LASfilterParse& parse, const Call& call) {
  int& i = call.index;
  char** argv = call.argv;
  if (i + 1 >= call.argc || command_options::is_blank(argv[i + 1])) {
    std::fprintf(stderr, "ERROR: '%s' needs at least 1 argument: fraction [seed]\n", call.option);
    return false;
  }
  float fraction = 0.0f;
  if (!command_options::parse_float(argv[i + 1], fraction)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs at least 1 argument: fraction [seed] but '%s' is no valid "
                 "fraction\n",
                 call.option, argv[i + 1]);
    return false;
  }
  i++;
  std::uint32_t seed = 0;
  if (command_options::is_list_argument(i + 1, call.argc, argv)) {
    if (!command_options::parse_unsigned(argv[i + 1], seed)) {
      std::fprintf(stderr, "ERROR: '%s' takes seed as second argument but '%s' is no valid seed\n",
                   call.option, argv[i + 1]);
      return false;
    }
    i++;
  }
  parse.add(std::make_unique<LAScriterionKeepRandomFraction>(fraction, seed));
  return true;
}

// The entries after the option that begin with a digit, as unsigned numbers; each is
// handed to `take`, which may refuse it after its own message. False after a message.
template <typename Take>
bool read_list(const Call& call, const char* missing, const char* bad, Take take) {
  int& i = call.index;
  auto starts_with_digit = [&](int k) {
    return k < call.argc && call.argv[k] != nullptr && call.argv[k][0] >= '0' &&
           call.argv[k][0] <= '9';
  };
  if (!starts_with_digit(i + 1)) {
    std::fprintf(stderr, missing, call.option);
    return false;
  }
  while (starts_with_digit(i + 1)) {
    std::uint32_t value = 0;
    if (!command_options::parse_unsigned(call.argv[i + 1], value)) {
      std::fprintf(stderr, bad, call.option, call.argv[i + 1]);
      return false;
    }
    if (!take(value)) return false;
    i++;
  }
  return true;
}

inline bool add_keep_class(LASfilterParse& parse, const Call& call) {
  std::uint32_t classes = 0;
  if (!read_list(call, "ERROR: '%s' needs at least 1 argument: classification\n",
                 "ERROR: '%s' needs at least 1 argument: classification but '%s' is no valid "
                 "classification\n",
                 [&](std::uint32_t c) {
                   if (c > 31) {
                     std::fprintf(stderr,
                                  "ERROR: '%s' needs arguments between 0 and 31 but '%u' is out of "
                                  "range\n",
                                  call.option, c);
                     return false;
                   }
                   classes |= 1u << c;
                   return true;
                 })) {
    return false;
  }
  // "-keep_class 2 -keep_class 6" keeps both: a directly preceding class set is merged.
  if (const auto* last = dynamic_cast<const LAScriterionKeepClassifications*>(parse.last())) {
    classes |= last->kept_classes();
    parse.take_last();
  }
  parse.add(std::make_unique<LAScriterionKeepClassifications>(classes));
  return true;
}

inline bool add_drop_class(LASfilterParse& parse, const Call& call) {
  std::uint32_t classes = 0;
  if (!read_list(call, "ERROR: '%s' needs at least 1 argument: classification\n",
                 "ERROR: '%s' needs at least 1 argument: classification but '%s' is no valid "
                 "classification\n",
                 [&](std::uint32_t c) {
                   if (c > 31) {
                     std::fprintf(
                         stderr,
                         "ERROR: cannot drop classification %u because it is larger than 31\n", c);
                     return false;
                   }
                   classes |= 1u << c;
                   return true;
                 })) {
    return false;
  }
  if (const auto* last = dynamic_cast<const LAScriterionDropClassifications*>(parse.last())) {
    classes |= last->dropped_classes();
    parse.take_last();
  }
  parse.add(std::make_unique<LAScriterionDropClassifications>(classes));
  return true;
}

template <typename C, bool kKeep>
inline bool add_returns(LASfilterParse& parse, const Call& call) {
  std::uint32_t mask = 0;
  if (!read_list(call, "ERROR: '%s' needs at least 1 argument: return_number\n",
                 "ERROR: '%s' needs at least 1 argument: return_number but '%s' is no valid "
                 "return_number\n",
                 [&](std::uint32_t r) {
                   if (r > 15) {
                     std::fprintf(
                         stderr,
                         kKeep
                             ? "ERROR: cannot keep return_number %u because it is larger than 15\n"
                             : "ERROR: cannot drop return_number %u because it is larger than 15\n",
                         r);
                     return false;
                   }
                   mask |= 1u << r;
                   return true;
                 })) {
    return false;
  }
  if (const auto* last = dynamic_cast<const C*>(parse.last())) {
    mask |= last->mask();
    parse.take_last();
  }
  parse.add(std::make_unique<C>(mask));
  return true;
}

template <bool kKeep>
inline bool add_extended_class(LASfilterParse& parse, const Call& call) {
  std::array<std::uint32_t, 8>& set = kKeep ? parse.keep_extended : parse.drop_extended;
  return read_list(
      call, "ERROR: '%s' needs at least a argument: classification\n",
      "ERROR: '%s' needs at least 1 argument: classification but '%s' is no valid "
      "classification\n",
      [&](std::uint32_t c) {
        if (c > 255) {
          std::fprintf(
              stderr,
              kKeep
                  ? "ERROR: cannot keep extended classification %u because it is larger than 255\n"
                  : "ERROR: cannot drop extended classification %u because it is larger than 255\n",
              c);
          return false;
        }
        set[c >> 5] |= 1u << (c & 31);
        return true;
      });
}

inline bool add_extended_class_mask(LASfilterParse& parse, const Call& call) {
  // mask7 comes first and covers classes 224-255.
  for (int k = 0; k < 8; k++)
    parse.drop_extended[7 - k] = call.values[k].natural();
  return true;
}

inline bool add_keep_point_source(LASfilterParse& parse, const Call& call) {
  bool first = true;
  return read_list(
      call, "ERROR: '%s' needs at least 1 argument: ID\n",
      "ERROR: '%s' takes one or more IDs but '%s' is no valid ID\n", [&](std::uint32_t ID) {
        if (ID > kMaxID) {
          std::fprintf(stderr,
                       "ERROR: cannot keep_point_source ID %u because it is larger than %u\n", ID,
                       kMaxID);
          return false;
        }
        auto keep = std::make_unique<LAScriterionKeepPointSource>(static_cast<int>(ID));
        if (first) {
          parse.add(std::move(keep));
          first = false;
        } else {
          // Each further ID widens what is kept: either the earlier IDs or this one.
          parse.add(std::make_unique<LAScriterionOr>(parse.take_last(), std::move(keep)));
        }
        return true;
      });
}

inline bool add_drop_point_source(LASfilterParse& parse, const Call& call) {
  return read_list(
      call, "ERROR: '%s' needs at least 1 argument: ID\n",
      "ERROR: '%s' needs at least 1 argument: ID but '%s' is no valid ID\n", [&](std::uint32_t ID) {
        if (ID > kMaxID) {
          std::fprintf(stderr,
                       "ERROR: cannot drop_point_source ID %u because it is larger than %u\n", ID,
                       kMaxID);
          return false;
        }
        parse.add(std::make_unique<LAScriterionDropPointSource>(static_cast<int>(ID)));
        return true;
      });
}

inline bool add_drop_user_data(LASfilterParse& parse, const Call& call) {
  return read_list(
      call, "ERROR: '%s' needs at least 1 argument: value\n",
      "ERROR: '%s' needs at least 1 argument: value but '%s' is no valid value\n",
      [&](std::uint32_t value) {
        if (value > 255) {
          std::fprintf(stderr, "ERROR: cannot drop user data %u because it is larger than 255\n",
                       value);
          return false;
        }
        parse.add(std::make_unique<LAScriterionDropUserData>(static_cast<int>(value)));
        return true;
      });
}

template <typename C>
inline bool add_combination(LASfilterParse& parse, const Call& call) {
  std::unique_ptr<LAScriterion> two = parse.take_last();
  std::unique_ptr<LAScriterion> one = parse.take_last();
  if (!one) {
    std::fprintf(stderr, "ERROR: '%s' needs to be preceeded by at least two filters\n",
                 call.option);
    if (two) parse.add(std::move(two));
    return false;
  }
  parse.add(std::make_unique<C>(std::move(one), std::move(two)));
  return true;
}

}  // namespace las_filter_makers
