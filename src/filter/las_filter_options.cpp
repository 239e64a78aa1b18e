#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "filter/las_criteria_basic.hpp"
#include "filter/las_criteria_sets.hpp"
#include "filter/las_criteria_state.hpp"
#include "filter/las_filter.hpp"
#include "options/command_options.hpp"

// The filter options as one table: name, argument kinds, argument names (for the messages
// and the usage), the usage heading, and the function that makes the criterion. Parsing
// walks the table; the usage is printed from it.

namespace {

constexpr std::uint32_t kMaxID = 65535;

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

}  // namespace

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

namespace {

using Make = bool (*)(LASfilterParse&, const Call&);

enum Group {
  kCoordinates,
  kReturns,
  kScanline,
  kIntensity,
  kClassifications,
  kUserData,
  kPointSource,
  kScanAngle,
  kGpsTime,
  kColour,
  kWavepacket,
  kAttributes,
  kThinning,
  kBoolean,
  kGroups
};

const char* const kHeadings[kGroups] = {
    "Filter points based on their coordinates.\n",
    "Filter points based on their return numbering.\n",
    "Filter points based on the scanline flags.\n",
    "Filter points based on their intensity.\n",
    "Filter points based on classifications or flags.\n",
    "Filter points based on their user data.\n",
    "Filter points based on their point source ID.\n",
    "Filter points based on their scan angle.\n",
    "Filter points based on their gps time.\n",
    "Filter points based on their RGB/CIR/NIR channels.\n",
    "Filter points based on their wavepacket.\n",
    "Filter points based on extra attributes.\n",
    "Filter points with simple thinning.\n",
    "Boolean combination of filters.\n",
};

struct FilterOption {
  std::string_view name;
  Group group;
  // One kind letter per fixed argument; "*" for an option that reads a list itself.
  const char* kinds;
  const char* arguments;  // their names, blank-separated
  Make make;
  // When not null: the missing-argument message (option) and the not-a-number message
  // (option, text, argument name) in place of the ones built from `arguments`.
  const char* missing = nullptr;
  const char* bad = nullptr;
  const char* note = nullptr;  // added to the usage line
};

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
bool add_values_of(LASfilterParse& parse, const Call& call, std::index_sequence<I...>) {
  parse.add(std::make_unique<C>(value_as<T>(call.values[I])...));
  return true;
}
template <typename C, typename T, std::size_t N>
bool add_values(LASfilterParse& parse, const Call& call) {
  return add_values_of<C, T>(parse, call, std::make_index_sequence<N>());
}

template <typename C>
bool add_plain(LASfilterParse& parse, const Call&) {
  parse.add(std::make_unique<C>());
  return true;
}

// Bounds given in either order.
template <typename C>
bool add_ordered(LASfilterParse& parse, const Call& call) {
  int min = call.values[0].whole();
  int max = call.values[1].whole();
  if (min > max) std::swap(min, max);
  parse.add(std::make_unique<C>(min, max));
  return true;
}

template <typename C, int kChannel>
bool add_channel(LASfilterParse& parse, const Call& call) {
  int min = call.values[0].whole();
  int max = call.values[1].whole();
  if (min > max) std::swap(min, max);
  parse.add(std::make_unique<C>(kChannel, min, max));
  return true;
}

template <int kNirChannel>
bool add_ndvi(LASfilterParse& parse, const Call& call) {
  parse.add(std::make_unique<LAScriterionKeepNDVI>(kNirChannel, call.values[0].single,
                                                   call.values[1].single));
  return true;
}

template <typename C, unsigned kNumber>
bool add_number_of_returns(LASfilterParse& parse, const Call&) {
  parse.add(std::make_unique<C>(kNumber));
  return true;
}

template <typename C>
bool add_number_of_returns_given(LASfilterParse& parse, const Call& call) {
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
bool add_limited(LASfilterParse& parse, const Call& call, const char* message) {
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
bool add_limited_pair(LASfilterParse& parse, const Call& call, const char* min_message,
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

bool add_keep_intensity(LASfilterParse& parse, const Call& call) {
  return add_limited_pair<LAScriterionKeepIntensity, 65535>(
      parse, call, "ERROR: cannot keep intensity because min of %u is larger than %u\n",
      "ERROR: cannot keep intensity because max of %u is larger than %u\n");
}
bool add_keep_intensity_above(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionKeepIntensityAbove, 65535>(
      parse, call, "ERROR: cannot keep intensity above max of %u because it is larger than %u\n");
}
bool add_keep_intensity_below(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionKeepIntensityBelow, 65535>(
      parse, call, "ERROR: cannot keep intensity below min of %u because it is larger than %u\n");
}
bool add_keep_point_source_between(LASfilterParse& parse, const Call& call) {
  return add_limited_pair<LAScriterionKeepPointSourceBetween, kMaxID>(
      parse, call, "ERROR: cannot keep point source because min_ID of %u is larger than %u\n",
      "ERROR: cannot keep point source because max_ID of %u is larger than %u\n");
}
bool add_drop_point_source_below(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionDropPointSourceBelow, kMaxID>(
      parse, call,
      "ERROR: cannot drop point source below min_ID of %u because it is larger than %u\n");
}
bool add_drop_point_source_above(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionDropPointSourceAbove, kMaxID>(
      parse, call,
      "ERROR: cannot drop point source above max_ID of %u because it is larger than %u\n");
}
bool add_drop_point_source_between(LASfilterParse& parse, const Call& call) {
  return add_limited_pair<LAScriterionDropPointSourceBetween, kMaxID>(
      parse, call, "ERROR: cannot drop point source because min_ID of %u is larger than %u\n",
      "ERROR: cannot drop point source because max_ID of %u is larger than %u\n");
}
bool add_drop_user_data_below(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionDropUserDataBelow, 255>(
      parse, call, "ERROR: cannot drop user data below %u because it is larger than %u\n");
}
bool add_drop_user_data_above(LASfilterParse& parse, const Call& call) {
  return add_limited<LAScriterionDropUserDataAbove, 255>(
      parse, call, "ERROR: cannot drop user data above %u because it is larger than %u\n");
}
bool add_drop_user_data_between(LASfilterParse& parse, const Call& call) {
  return add_limited_pair<LAScriterionDropUserDataBetween, 255>(
      parse, call,
      "ERROR: cannot drop user data between min and max because min of %u is larger than %u\n",
      "ERROR: cannot drop user data between min and max because max of %u is larger than %u\n");
}

bool add_drop_scan_direction(LASfilterParse& parse, const Call& call) {
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

bool add_keep_scanner_channel(LASfilterParse& parse, const Call& call) {
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

bool add_drop_scanner_channel(LASfilterParse& parse, const Call& call) {
  const std::uint32_t channel = call.values[0].natural();
  if (channel > 3) {
    std::fprintf(stderr, "ERROR: %u is no valid value for '%s'\n", channel, call.option);
    return false;
  }
  parse.add(std::make_unique<LAScriterionDropScannerChannel>(static_cast<int>(channel)));
  return true;
}

template <typename C>
bool add_return_mask(LASfilterParse& parse, const Call& call) {
  const std::uint32_t mask = call.values[0].natural();
  if (mask > 65535) {
    std::fprintf(stderr, "ERROR: '%s' needs a return_mask between 0 and %u but return_mask is %u\n",
                 call.option, 65535u, mask);
    return false;
  }
  parse.add(std::make_unique<C>(mask));
  return true;
}

bool add_keep_class_mask(LASfilterParse& parse, const Call& call) {
  parse.add(std::make_unique<LAScriterionKeepClassifications>(call.values[0].natural()));
  return true;
}
bool add_drop_class_mask(LASfilterParse& parse, const Call& call) {
  parse.add(std::make_unique<LAScriterionDropClassifications>(call.values[0].natural()));
  return true;
}

bool add_drop_abs_scan_angle_above(LASfilterParse& parse, const Call& call) {
  const int max = call.values[0].whole();
  parse.add(std::make_unique<LAScriterionKeepScanAngle>(-max, max));
  return true;
}
bool add_drop_abs_scan_angle_below(LASfilterParse& parse, const Call& call) {
  const int min = call.values[0].whole();
  parse.add(std::make_unique<LAScriterionDropScanAngleBetween>(1 - min, min - 1));
  return true;
}

template <typename C>
bool add_every_nth(LASfilterParse& parse, const Call& call) {
  const std::uint32_t nth = call.values[0].natural();
  if (nth == 0) {
    std::fprintf(stderr, "ERROR: %u is no valid nth for '%s'\n", nth, call.option);
    return false;
  }
  parse.add(std::make_unique<C>(nth));
  return true;
}

template <typename C>
bool add_spacing(LASfilterParse& parse, const Call& call, const char* what) {
  const float spacing = call.values[0].single;
  if (!(spacing > 0.0f)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: %s but '%g' is no valid value\n",
                 call.option, what, static_cast<double>(spacing));
    return false;
  }
  parse.add(std::make_unique<C>(spacing));
  return true;
}
bool add_thin_with_grid(LASfilterParse& parse, const Call& call) {
  return add_spacing<LAScriterionThinWithGrid>(parse, call, "grid spacing");
}
bool add_thin_pulses(LASfilterParse& parse, const Call& call) {
  return add_spacing<LAScriterionThinPulsesWithTime>(parse, call, "time spacing");
}
bool add_thin_points(LASfilterParse& parse, const Call& call) {
  return add_spacing<LAScriterionThinPointsWithTime>(parse, call, "time spacing");
}

bool add_random_fraction(LASfilterParse& parse, const Call& call) {
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

bool add_keep_class(LASfilterParse& parse, const Call& call) {
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

bool add_drop_class(LASfilterParse& parse, const Call& call) {
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
bool add_returns(LASfilterParse& parse, const Call& call) {
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
bool add_extended_class(LASfilterParse& parse, const Call& call) {
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

bool add_extended_class_mask(LASfilterParse& parse, const Call& call) {
  // mask7 comes first and covers classes 224-255.
  for (int k = 0; k < 8; k++)
    parse.drop_extended[7 - k] = call.values[k].natural();
  return true;
}

bool add_keep_point_source(LASfilterParse& parse, const Call& call) {
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

bool add_drop_point_source(LASfilterParse& parse, const Call& call) {
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

bool add_drop_user_data(LASfilterParse& parse, const Call& call) {
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
bool add_combination(LASfilterParse& parse, const Call& call) {
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

constexpr const char* kAttributeBad =
    "ERROR: '%s' needs 2 arguments: index value '%s' is no valid value\n";
constexpr const char* kChannelBad =
    "ERROR: '%s' needs 1 argument channel but '%s' is no valid value\n";

template <typename C, int kBounds>
bool add_attribute(LASfilterParse& parse, const Call& call) {
  const int index = call.values[0].whole();
  if constexpr (kBounds == 1) {
    parse.add(std::make_unique<C>(index, call.values[1].real));
  } else {
    parse.add(std::make_unique<C>(index, call.values[1].real, call.values[2].real));
  }
  return true;
}

const FilterOption kFilterOptions[] = {
    // Coordinates.
    {"-keep_tile", kCoordinates, "fff", "llx lly size",
     &add_values<LAScriterionKeepTile, float, 3>},
    {"-keep_circle", kCoordinates, "ddd", "center_x center_y radius",
     &add_values<LAScriterionKeepCircle, double, 3>},
    {"-keep_xy", kCoordinates, "dddd", "min_x min_y max_x max_y",
     &add_values<LAScriterionKeepxy, double, 4>},
    {"-drop_xy", kCoordinates, "dddd", "min_x min_y max_x max_y",
     &add_values<LAScriterionDropxy, double, 4>},
    {"-keep_xyz", kCoordinates, "dddddd", "min_x min_y min_z max_x max_y max_z",
     &add_values<LAScriterionKeepxyz, double, 6>},
    {"-drop_xyz", kCoordinates, "dddddd", "min_x min_y min_z max_x max_y max_z",
     &add_values<LAScriterionDropxyz, double, 6>},
    {"-keep_x", kCoordinates, "dd", "min_x max_x", &add_values<LAScriterionKeepx, double, 2>},
    {"-drop_x", kCoordinates, "dd", "min_x max_x", &add_values<LAScriterionDropx, double, 2>},
    {"-drop_x_below", kCoordinates, "d", "min_x", &add_values<LAScriterionDropxBelow, double, 1>},
    {"-drop_x_above", kCoordinates, "d", "max_x", &add_values<LAScriterionDropxAbove, double, 1>},
    {"-keep_y", kCoordinates, "dd", "min_y max_y", &add_values<LAScriterionKeepy, double, 2>},
    {"-drop_y", kCoordinates, "dd", "min_y max_y", &add_values<LAScriterionDropy, double, 2>},
    {"-drop_y_below", kCoordinates, "d", "min_y", &add_values<LAScriterionDropyBelow, double, 1>},
    {"-drop_y_above", kCoordinates, "d", "max_y", &add_values<LAScriterionDropyAbove, double, 1>},
    {"-keep_z", kCoordinates, "dd", "min_z max_z", &add_values<LAScriterionKeepz, double, 2>},
    {"-drop_z", kCoordinates, "dd", "min_z max_z", &add_values<LAScriterionDropz, double, 2>},
    {"-drop_z_below", kCoordinates, "d", "min_z", &add_values<LAScriterionDropzBelow, double, 1>},
    {"-drop_z_above", kCoordinates, "d", "max_z", &add_values<LAScriterionDropzAbove, double, 1>},
    {"-keep_z_above", kCoordinates, "d", "min_z", &add_values<LAScriterionDropzBelow, double, 1>},
    {"-keep_z_below", kCoordinates, "d", "max_z", &add_values<LAScriterionDropzAbove, double, 1>},
    {"-keep_X", kCoordinates, "ii", "min_X max_X", &add_values<LAScriterionKeepX, int, 2>},
    {"-keep_Y", kCoordinates, "ii", "min_Y max_Y", &add_values<LAScriterionKeepY, int, 2>},
    {"-keep_Z", kCoordinates, "ii", "min_Z max_Z", &add_values<LAScriterionKeepZ, int, 2>},
    {"-keep_XY", kCoordinates, "iiii", "min_X min_Y max_X max_Y",
     &add_values<LAScriterionKeepXY, int, 4>},
    {"-drop_X", kCoordinates, "ii", "min_X max_X", &add_values<LAScriterionDropX, int, 2>},
    {"-drop_X_below", kCoordinates, "i", "min_X", &add_values<LAScriterionDropXBelow, int, 1>},
    {"-drop_X_above", kCoordinates, "i", "max_X", &add_values<LAScriterionDropXAbove, int, 1>},
    {"-drop_Y", kCoordinates, "ii", "min_Y max_Y", &add_values<LAScriterionDropY, int, 2>},
    {"-drop_Y_below", kCoordinates, "i", "min_Y", &add_values<LAScriterionDropYBelow, int, 1>},
    {"-drop_Y_above", kCoordinates, "i", "max_Y", &add_values<LAScriterionDropYAbove, int, 1>},
    {"-drop_Z", kCoordinates, "ii", "min_Z max_Z", &add_values<LAScriterionDropZ, int, 2>},
    {"-drop_Z_below", kCoordinates, "i", "min_Z", &add_values<LAScriterionDropZBelow, int, 1>},
    {"-drop_Z_above", kCoordinates, "i", "max_Z", &add_values<LAScriterionDropZAbove, int, 1>},
    {"-keep_Z_above", kCoordinates, "i", "min_Z", &add_values<LAScriterionDropZBelow, int, 1>},
    {"-keep_Z_below", kCoordinates, "i", "max_Z", &add_values<LAScriterionDropZAbove, int, 1>},
    // Return numbering.
    {"-keep_first", kReturns, "", "", &add_plain<LAScriterionKeepFirstReturn>},
    {"-first_only", kReturns, "", "", &add_plain<LAScriterionKeepFirstReturn>},
    {"-keep_last", kReturns, "", "", &add_plain<LAScriterionKeepLastReturn>},
    {"-last_only", kReturns, "", "", &add_plain<LAScriterionKeepLastReturn>},
    {"-drop_first", kReturns, "", "", &add_plain<LAScriterionDropFirstReturn>},
    {"-drop_last", kReturns, "", "", &add_plain<LAScriterionDropLastReturn>},
    {"-keep_second_last", kReturns, "", "", &add_plain<LAScriterionKeepSecondLast>},
    {"-drop_second_last", kReturns, "", "", &add_plain<LAScriterionDropSecondLast>},
    {"-keep_first_of_many", kReturns, "", "", &add_plain<LAScriterionKeepFirstOfManyReturn>},
    {"-keep_last_of_many", kReturns, "", "", &add_plain<LAScriterionKeepLastOfManyReturn>},
    {"-drop_first_of_many", kReturns, "", "", &add_plain<LAScriterionDropFirstOfManyReturn>},
    {"-drop_last_of_many", kReturns, "", "", &add_plain<LAScriterionDropLastOfManyReturn>},
    {"-keep_middle", kReturns, "", "", &add_plain<LAScriterionKeepMiddleReturn>},
    {"-drop_middle", kReturns, "", "", &add_plain<LAScriterionDropMiddleReturn>},
    {"-keep_return", kReturns, "*", "return_number ...",
     &add_returns<LAScriterionKeepReturns, true>},
    {"-drop_return", kReturns, "*", "return_number ...",
     &add_returns<LAScriterionDropReturns, false>},
    {"-keep_return_mask", kReturns, "u", "return_mask", &add_return_mask<LAScriterionKeepReturns>},
    {"-drop_return_mask", kReturns, "u", "return_mask", &add_return_mask<LAScriterionDropReturns>},
    {"-keep_single", kReturns, "", "",
     &add_number_of_returns<LAScriterionKeepSpecificNumberOfReturns, 1>},
    {"-keep_double", kReturns, "", "",
     &add_number_of_returns<LAScriterionKeepSpecificNumberOfReturns, 2>},
    {"-keep_triple", kReturns, "", "",
     &add_number_of_returns<LAScriterionKeepSpecificNumberOfReturns, 3>},
    {"-keep_quadruple", kReturns, "", "",
     &add_number_of_returns<LAScriterionKeepSpecificNumberOfReturns, 4>},
    {"-keep_quintuple", kReturns, "", "",
     &add_number_of_returns<LAScriterionKeepSpecificNumberOfReturns, 5>},
    {"-drop_single", kReturns, "", "",
     &add_number_of_returns<LAScriterionDropSpecificNumberOfReturns, 1>},
    {"-drop_double", kReturns, "", "",
     &add_number_of_returns<LAScriterionDropSpecificNumberOfReturns, 2>},
    {"-drop_triple", kReturns, "", "",
     &add_number_of_returns<LAScriterionDropSpecificNumberOfReturns, 3>},
    {"-drop_quadruple", kReturns, "", "",
     &add_number_of_returns<LAScriterionDropSpecificNumberOfReturns, 4>},
    {"-drop_quintuple", kReturns, "", "",
     &add_number_of_returns<LAScriterionDropSpecificNumberOfReturns, 5>},
    {"-keep_number_of_returns", kReturns, "u", "number of returns",
     &add_number_of_returns_given<LAScriterionKeepSpecificNumberOfReturns>},
    {"-drop_number_of_returns", kReturns, "u", "number of returns",
     &add_number_of_returns_given<LAScriterionDropSpecificNumberOfReturns>},
    // Scanline flags.
    {"-drop_scan_direction", kScanline, "u", "scan direction", &add_drop_scan_direction, nullptr,
     nullptr, "0 or 1"},
    {"-keep_scan_direction_change", kScanline, "", "",
     &add_plain<LAScriterionKeepScanDirectionChange>},
    {"-keep_edge_of_flight_line", kScanline, "", "", &add_plain<LAScriterionKeepEdgeOfFlightLine>},
    // Intensity.
    {"-keep_intensity", kIntensity, "uu", "min max", &add_keep_intensity},
    {"-keep_intensity_above", kIntensity, "u", "max", &add_keep_intensity_above},
    {"-keep_intensity_below", kIntensity, "u", "min", &add_keep_intensity_below},
    {"-drop_intensity_above", kIntensity, "i", "value",
     &add_values<LAScriterionDropIntensityAbove, int, 1>},
    {"-drop_intensity_below", kIntensity, "i", "value",
     &add_values<LAScriterionDropIntensityBelow, int, 1>},
    {"-drop_intensity_between", kIntensity, "ii", "min max",
     &add_values<LAScriterionDropIntensityBetween, int, 2>},
    // Classifications and flags.
    {"-keep_class", kClassifications, "*", "classification ...", &add_keep_class},
    {"-keep_classification", kClassifications, "*", "classification ...", &add_keep_class},
    {"-drop_class", kClassifications, "*", "classification ...", &add_drop_class},
    {"-drop_classification", kClassifications, "*", "classification ...", &add_drop_class},
    {"-keep_classification_mask", kClassifications, "u", "mask", &add_keep_class_mask},
    {"-drop_classification_mask", kClassifications, "u", "mask", &add_drop_class_mask},
    {"-keep_extended_class", kClassifications, "*", "classification ...",
     &add_extended_class<true>},
    {"-keep_extended_classification", kClassifications, "*", "classification ...",
     &add_extended_class<true>},
    {"-drop_extended_class", kClassifications, "*", "classification ...",
     &add_extended_class<false>},
    {"-drop_extended_classification", kClassifications, "*", "classification ...",
     &add_extended_class<false>},
    {"-drop_extended_classification_mask", kClassifications, "uuuuuuuu",
     "mask7 mask6 mask5 mask4 mask3 mask2 mask1 mask0", &add_extended_class_mask, nullptr,
     "ERROR: '%s' needs 8 arguments: mask7 mask6 mask5 mask4 mask3 mask2 mask1 mask0\nbut '%s' is "
     "a bad argument for %s\n"},
    {"-keep_synthetic", kClassifications, "", "", &add_plain<LAScriterionKeepSynthetic>},
    {"-drop_synthetic", kClassifications, "", "", &add_plain<LAScriterionDropSynthetic>},
    {"-keep_keypoint", kClassifications, "", "", &add_plain<LAScriterionKeepKeypoint>},
    {"-drop_keypoint", kClassifications, "", "", &add_plain<LAScriterionDropKeypoint>},
    {"-keep_withheld", kClassifications, "", "", &add_plain<LAScriterionKeepWithheld>},
    {"-drop_withheld", kClassifications, "", "", &add_plain<LAScriterionDropWithheld>},
    {"-keep_overlap", kClassifications, "", "", &add_plain<LAScriterionKeepOverlap>},
    {"-drop_overlap", kClassifications, "", "", &add_plain<LAScriterionDropOverlap>},
    {"-keep_scanner_channel", kClassifications, "u", "channel", &add_keep_scanner_channel, nullptr,
     kChannelBad, "0 to 3"},
    {"-drop_scanner_channel", kClassifications, "u", "channel", &add_drop_scanner_channel, nullptr,
     kChannelBad, "0 to 3"},
    // User data.
    {"-keep_user_data", kUserData, "i", "value", &add_values<LAScriterionKeepUserData, int, 1>},
    {"-keep_user_data_below", kUserData, "i", "value",
     &add_values<LAScriterionKeepUserDataBelow, int, 1>},
    {"-keep_user_data_above", kUserData, "i", "value",
     &add_values<LAScriterionKeepUserDataAbove, int, 1>},
    {"-keep_user_data_between", kUserData, "ii", "min max",
     &add_values<LAScriterionKeepUserDataBetween, int, 2>},
    {"-drop_user_data", kUserData, "*", "value ...", &add_drop_user_data},
    {"-drop_user_data_below", kUserData, "u", "below", &add_drop_user_data_below},
    {"-drop_user_data_above", kUserData, "u", "above", &add_drop_user_data_above},
    {"-drop_user_data_between", kUserData, "uu", "min max", &add_drop_user_data_between},
    // Point source ID.
    {"-keep_point_source", kPointSource, "*", "ID ...", &add_keep_point_source},
    {"-keep_point_source_between", kPointSource, "uu", "min_ID max_ID",
     &add_keep_point_source_between},
    {"-drop_point_source", kPointSource, "*", "ID ...", &add_drop_point_source},
    {"-drop_point_source_below", kPointSource, "u", "min_ID", &add_drop_point_source_below, nullptr,
     "ERROR: '%s' needs 1 argument: min_ID max_ID but '%s' is no valid min_ID\n"},
    {"-drop_point_source_above", kPointSource, "u", "max_ID", &add_drop_point_source_above},
    {"-drop_point_source_between", kPointSource, "uu", "min_ID max_ID",
     &add_drop_point_source_between},
    // Scan angle.
    {"-keep_scan_angle", kScanAngle, "ii", "min max", &add_ordered<LAScriterionKeepScanAngle>},
    {"-keep_scan_angle_between", kScanAngle, "ii", "min max",
     &add_ordered<LAScriterionKeepScanAngle>},
    {"-drop_abs_scan_angle_above", kScanAngle, "i", "max", &add_drop_abs_scan_angle_above},
    {"-drop_abs_scan_angle_below", kScanAngle, "i", "min", &add_drop_abs_scan_angle_below},
    {"-drop_scan_angle_above", kScanAngle, "i", "max",
     &add_values<LAScriterionDropScanAngleAbove, int, 1>},
    {"-drop_scan_angle_below", kScanAngle, "i", "min",
     &add_values<LAScriterionDropScanAngleBelow, int, 1>},
    {"-drop_scan_angle_between", kScanAngle, "ii", "min max",
     &add_ordered<LAScriterionDropScanAngleBetween>},
    // GPS time.
    {"-keep_gps_time", kGpsTime, "dd", "start end",
     &add_values<LAScriterionKeepGpsTime, double, 2>},
    {"-keep_gpstime", kGpsTime, "dd", "start end", &add_values<LAScriterionKeepGpsTime, double, 2>},
    {"-keep_gps_time_between", kGpsTime, "dd", "start end",
     &add_values<LAScriterionKeepGpsTime, double, 2>},
    {"-keep_gpstime_between", kGpsTime, "dd", "start end",
     &add_values<LAScriterionKeepGpsTime, double, 2>},
    {"-keep_gps_time_above", kGpsTime, "d", "time",
     &add_values<LAScriterionDropGpsTimeBelow, double, 1>},
    {"-keep_gpstime_above", kGpsTime, "d", "time",
     &add_values<LAScriterionDropGpsTimeBelow, double, 1>},
    {"-keep_gps_time_below", kGpsTime, "d", "time",
     &add_values<LAScriterionDropGpsTimeAbove, double, 1>},
    {"-keep_gpstime_below", kGpsTime, "d", "time",
     &add_values<LAScriterionDropGpsTimeAbove, double, 1>},
    {"-drop_gps_time_above", kGpsTime, "d", "max_gps_time",
     &add_values<LAScriterionDropGpsTimeAbove, double, 1>},
    {"-drop_gpstime_above", kGpsTime, "d", "max_gps_time",
     &add_values<LAScriterionDropGpsTimeAbove, double, 1>},
    {"-drop_gps_time_below", kGpsTime, "d", "min_gps_time",
     &add_values<LAScriterionDropGpsTimeBelow, double, 1>},
    {"-drop_gpstime_below", kGpsTime, "d", "min_gps_time",
     &add_values<LAScriterionDropGpsTimeBelow, double, 1>},
    {"-drop_gps_time_between", kGpsTime, "dd", "start end",
     &add_values<LAScriterionDropGpsTimeBetween, double, 2>},
    {"-drop_gpstime_between", kGpsTime, "dd", "start end",
     &add_values<LAScriterionDropGpsTimeBetween, double, 2>},
    // Colour channels.
    {"-keep_RGB_red", kColour, "ii", "min max", &add_channel<LAScriterionKeepRGB, 0>},
    {"-keep_RGB_green", kColour, "ii", "min max", &add_channel<LAScriterionKeepRGB, 1>},
    {"-keep_RGB_blue", kColour, "ii", "min max", &add_channel<LAScriterionKeepRGB, 2>},
    {"-keep_RGB_nir", kColour, "ii", "min max", &add_channel<LAScriterionKeepRGB, 3>},
    {"-drop_RGB_red", kColour, "ii", "min max", &add_channel<LAScriterionDropRGB, 0>},
    {"-drop_RGB_green", kColour, "ii", "min max", &add_channel<LAScriterionDropRGB, 1>},
    {"-drop_RGB_blue", kColour, "ii", "min max", &add_channel<LAScriterionDropRGB, 2>},
    {"-drop_RGB_nir", kColour, "ii", "min max", &add_channel<LAScriterionDropRGB, 3>},
    {"-keep_RGB_greenness", kColour, "ii", "min max", &add_ordered<LAScriterionKeepRGBgreenness>},
    {"-keep_NDVI", kColour, "ff", "min max", &add_ndvi<3>},
    {"-keep_NDVI_green_is_NIR", kColour, "ff", "min max", &add_ndvi<1>},
    {"-keep_NDVI_blue_is_NIR", kColour, "ff", "min max", &add_ndvi<2>},
    {"-keep_NDVI_from_CIR", kColour, "ff", "min max",
     &add_values<LAScriterionKeepNDVIfromCIR, float, 2>},
    {"-keep_NDVI_intensity_is_NIR", kColour, "ff", "min max",
     &add_values<LAScriterionKeepNDVIintensityIsNIR, float, 2>},
    // Wave packets.
    {"-keep_wavepacket", kWavepacket, "u", "index",
     &add_values<LAScriterionKeepWavepacket, int, 1>},
    {"-drop_wavepacket", kWavepacket, "u", "index",
     &add_values<LAScriterionDropWavepacket, int, 1>},
    // Extra-byte attributes.
    {"-keep_attribute_above", kAttributes, "ud", "index value",
     &add_attribute<LAScriterionKeepAttributeAbove, 1>, nullptr, kAttributeBad},
    {"-keep_attribute_below", kAttributes, "ud", "index value",
     &add_attribute<LAScriterionKeepAttributeBelow, 1>, nullptr, kAttributeBad},
    {"-keep_attribute_between", kAttributes, "udd", "index min max",
     &add_attribute<LAScriterionKeepAttributeBetween, 2>},
    {"-drop_attribute_above", kAttributes, "ud", "index value",
     &add_attribute<LAScriterionDropAttributeAbove, 1>, nullptr, kAttributeBad},
    {"-drop_attribute_below", kAttributes, "ud", "index value",
     &add_attribute<LAScriterionDropAttributeBelow, 1>, nullptr, kAttributeBad},
    {"-drop_attribute_between", kAttributes, "udd", "index min max",
     &add_attribute<LAScriterionDropAttributeBetween, 2>},
    // Thinning.
    {"-keep_every_nth", kThinning, "u", "nth", &add_every_nth<LAScriterionKeepEveryNth>, nullptr,
     "ERROR: '%s' needs 1 argument nth but '%s' is no valid nth\n"},
    {"-drop_every_nth", kThinning, "u", "nth", &add_every_nth<LAScriterionDropEveryNth>, nullptr,
     "ERROR: '%s' needs 1 argument nth but '%s' is no valid nth\n"},
    {"-keep_random_fraction", kThinning, "*", "fraction [seed]", &add_random_fraction, nullptr,
     nullptr,
     "seed 0 unless given; the project's 15-bit generator, the same on every platform and equal "
     "to the Windows C runtime's rand"},
    {"-thin_with_grid", kThinning, "f", "grid spacing", &add_thin_with_grid},
    {"-thin_pulses_with_time", kThinning, "f", "time spacing", &add_thin_pulses},
    {"-thin_with_time", kThinning, "f", "time spacing", &add_thin_pulses},
    {"-thin_points_with_time", kThinning, "f", "time spacing", &add_thin_points},
    // Boolean combinations.
    {"-filter_and", kBoolean, "", "", &add_combination<LAScriterionAnd>, nullptr, nullptr,
     "keeps what both preceding filters keep"},
    {"-filter_or", kBoolean, "", "", &add_combination<LAScriterionOr>, nullptr, nullptr,
     "keeps what either preceding filter keeps"},
};

}  // namespace

bool LASfilterParse::finish() {
  const bool keep_any = keep_extended != std::array<std::uint32_t, 8>{};
  const bool drop_any = drop_extended != std::array<std::uint32_t, 8>{};
  if (keep_any) {
    if (drop_any) {
      std::fprintf(stderr,
                   "ERROR: cannot use '-drop_extended_class' and '-keep_extended_class' "
                   "simultaneously\n");
      return false;
    }
    for (int word = 0; word < 8; word++)
      drop_extended[word] = ~keep_extended[word];
  }
  if (drop_extended != std::array<std::uint32_t, 8>{}) {
    add(std::make_unique<LAScriterionDropExtendedClassifications>(drop_extended));
  }
  return true;
}

void LASfilter::usage() {
  for (int group = 0; group < kGroups; group++) {
    std::fputs(kHeadings[group], stderr);
    for (const FilterOption& option : kFilterOptions) {
      if (option.group != group) continue;
      std::fprintf(stderr, "  %.*s", static_cast<int>(option.name.size()), option.name.data());
      if (option.arguments[0] != '\0') std::fprintf(stderr, " %s", option.arguments);
      if (option.note != nullptr) std::fprintf(stderr, " (%s)", option.note);
      std::fputc('\n', stderr);
    }
  }
}

namespace {

// The name of argument `k` in the blank-separated `names`.
std::string_view argument_name(const char* names, int k) {
  std::string_view rest = names;
  for (int i = 0; i < k; i++) {
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) return rest;
    rest.remove_prefix(blank + 1);
  }
  return rest.substr(0, rest.find(' '));
}

void print_needs(const FilterOption& option, const char* typed, int count) {
  std::fprintf(stderr, "ERROR: '%s' needs %d argument%s: %s", typed, count, count == 1 ? "" : "s",
               option.arguments);
}

bool parse_number(char kind, const char* text, Value& value) {
  switch (kind) {
    case 'd':
      return command_options::parse_double(text, value.real);
    case 'f':
      return command_options::parse_float(text, value.single);
    case 'i': {
      int number = 0;
      if (!command_options::parse_int(text, number)) return false;
      value.integer = number;
      return true;
    }
    case 'u': {
      std::uint32_t number = 0;
      if (!command_options::parse_unsigned(text, number)) return false;
      value.integer = number;
      return true;
    }
  }
  return false;
}

enum class Outcome { kNotMine, kDone, kFailed };

Outcome run_filter_option(LASfilterParse& parse, int& index, int argc, char* argv[]) {
  const std::string_view name = argv[index];
  for (const FilterOption& option : kFilterOptions) {
    if (option.name != name) continue;
    const char* typed = argv[index];
    const int first = index;
    Value values[8];
    const bool list = option.kinds[0] == '*';
    const int count = list ? 0 : static_cast<int>(std::strlen(option.kinds));
    if (index + count >= argc) {
      if (option.missing != nullptr) {
        std::fprintf(stderr, option.missing, typed);
      } else {
        print_needs(option, typed, count);
        std::fputc('\n', stderr);
      }
      return Outcome::kFailed;
    }
    for (int k = 0; k < count; k++) {
      const char* text = argv[index + 1 + k];
      if (!parse_number(option.kinds[k], text, values[k])) {
        const std::string argument(argument_name(option.arguments, k));
        if (option.bad != nullptr) {
          std::fprintf(stderr, option.bad, typed, text, argument.c_str());
        } else {
          print_needs(option, typed, count);
          std::fprintf(stderr, " but '%s' is no valid %s\n", text, argument.c_str());
        }
        return Outcome::kFailed;
      }
    }
    if (!list) index += count;
    int cursor = first;
    const Call call{typed, values, argv + first + 1, cursor, argc, argv};
    if (!option.make(parse, call)) return Outcome::kFailed;
    if (list) index = cursor;
    for (int k = first; k <= index && k < argc; k++)
      command_options::blank(argv[k]);
    return Outcome::kDone;
  }
  return Outcome::kNotMine;
}

bool is_filter_option(std::string_view name) {
  return name.starts_with("-keep_") || name.starts_with("-drop_") || name.starts_with("-thin_") ||
         name.starts_with("-filter_") || name == "-first_only" || name == "-last_only";
}

}  // namespace

bool LASfilter::parse(int argc, char* argv[]) {
  LASfilterParse run(*this);
  for (int i = 1; i < argc; i++) {
    if (command_options::is_blank(argv[i])) continue;
    const std::string_view name = argv[i];
    if (name == "-h" || name == "-help") {
      usage();
      return true;
    }
    if (name.starts_with("-clip_")) {
      std::fprintf(stderr,
                   "ERROR: '%s' is no longer recognized. check documentation with '-h'.\n"
                   "  rename '-clip' to '-keep_xy'.\n"
                   "  rename '-clip_box' to '-keep_xyz'.\n"
                   "  rename '-clip_tile' to '-keep_tile'.\n"
                   "  rename '-clip_z_below' to '-drop_z_below'.\n"
                   "  rename '-clip_z_above' to '-drop_z_above'.\n"
                   "  rename '-clip_z_between' to '-drop_z'.\n"
                   "  etc ...\n",
                   argv[i]);
      return false;
    }
    if (!is_filter_option(name)) continue;
    if (run_filter_option(run, i, argc, argv) == Outcome::kFailed) return false;
  }
  return run.finish();
}
