#include <climits>
#include <cstdio>
#include <string_view>

#include "index/las_index.hpp"
#include "select/command_options.hpp"
#include "select/las_reader_factory.hpp"
#include "stream/bytestream_blocks.hpp"

using command_options::is_blank;
using command_options::is_list_argument;
using command_options::parse_double;
using command_options::parse_float;
using command_options::parse_int;
using command_options::parse_unsigned;

namespace {

constexpr const char* kUsageLines[] = {
    "Supported LAS Inputs\n",
    "  -i lidar.las\n",
    "  -i lidar.pkz\n",
    "  -i lidar1.las lidar2.las lidar3.las -merged\n",
    "  -i *.las - merged\n",
    "  -i flight0??.pkz flight1??.pkz\n",
    "  -i terrasolid.bin\n",
    "  -i esri.shp\n",
    "  -i nasa.qi\n",
    "  -i lidar.txt -iparse xyzti -iskip 2 (on-the-fly from ASCII)\n",
    "  -i lidar.txt -iparse xyzi -itranslate_intensity 1024\n",
    "  -lof file_list.txt\n",
    "  -stdin (pipe from stdin)\n",
    "  -rescale 0.01 0.01 0.001\n",
    "  -rescale_xy 0.01 0.01\n",
    "  -rescale_z 0.01\n",
    "  -reoffset 600000 4000000 0\n",
    "Fast AOI Queries for LAS/PKZ with spatial indexing LAX files\n",
    "  -inside min_x min_y max_x max_y\n",
    "  -inside_tile ll_x ll_y size\n",
    "  -inside_circle center_x center_y radius\n",
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Options

using ReaderOption = command_options::Option<LASreaderFactory>;
constexpr auto kHeading = command_options::heading<LASreaderFactory>;

// Grouped for the help (-h input): parsing only looks for the name.
const ReaderOption LASreaderFactory::kOptions[] = {
    kHeading("Input files"),
    {"-i", 0, nullptr, &LASreaderFactory::parse_input, "names",
     "input files: names or wildcards, up to the next option"},
    {"-lof", 1, "ERROR: '%s' needs 1 argument: list_of_files\n",
     &LASreaderFactory::parse_list_of_files, "list.txt",
     "input files named in a list file, one a line (tile_list lines too)"},
    {"-unique", 0, nullptr, &LASreaderFactory::set_flag<&LASreaderSettings::unique, true>, "",
     "names given after it are taken once, however often they repeat"},
    {"-stdin", 0, nullptr, &LASreaderFactory::set_flag<&LASreaderSettings::from_stdin, true>, "",
     "read one LAS or PKZ stream (text with -itxt) from standard input"},
    {"-merged", 0, nullptr, &LASreaderFactory::set_flag<&LASreaderSettings::merged, true>, "",
     "read all inputs as one point cloud, denoised together into one output"},
    {"-files_are_flightlines", 0, nullptr, &LASreaderFactory::parse_flightlines, "[n]",
     "give each file's points its number in the list as point source ID (from n, else 1)"},
    {"-faf", 0, nullptr, &LASreaderFactory::parse_flightlines, "[n]",
     "the same as -files_are_flightlines"},
    {"-faf_index", 1, "ERROR: '%s' needs 1 argument: index\n",
     &LASreaderFactory::parse_flightlines_index, "index",
     "the list position that gets the start value of -files_are_flightlines [1]"},
    {"-apply_file_source_ID", 0, nullptr,
     &LASreaderFactory::set_flag<&LASreaderSettings::apply_file_source_ID, true>, "",
     "give each point the file source ID of its file's header as point source ID"},
    kHeading("Tiles with their neighbours"),
    {"-buffered", 1, "ERROR: '%s' needs 1 argument: buffer_size\n",
     &LASreaderFactory::parse_buffered, "d",
     "also count the neighbours' points within d of the tile; verdicts of the whole survey "
     "for d of two cells or more"},
    {"-neighbors", 0, nullptr, &LASreaderFactory::parse_neighbors, "names",
     "the tiles around the input, for -buffered: names or wildcards"},
    {"-neighbors_lof", 1, "ERROR: '%s' needs at least 1 argument: file_name\n",
     &LASreaderFactory::parse_neighbors_list, "list.lof",
     "the tiles around the input named in a list file (tile_list writes one)"},
    kHeading("Areas (only the points inside are read; an index reads only those near)"),
    {"-inside", 4, "ERROR: '%s' needs 4 arguments: min_x min_y max_x max_y\n",
     &LASreaderFactory::parse_inside_rectangle, "min_x min_y max_x max_y",
     "a rectangle, its max edges left out"},
    {"-inside_rectangle", 4, "ERROR: '%s' needs 4 arguments: min_x min_y max_x max_y\n",
     &LASreaderFactory::parse_inside_rectangle, "min_x min_y max_x max_y", "the same as -inside"},
    {"-inside_tile", 3, "ERROR: '%s' needs 3 arguments: ll_x ll_y size\n",
     &LASreaderFactory::parse_inside_tile, "ll_x ll_y size", "a square from its lower left corner"},
    {"-inside_circle", 3, "ERROR: '%s' needs 3 arguments: center_x center_y radius\n",
     &LASreaderFactory::parse_inside_circle, "center_x center_y radius", "a circle"},
    kHeading("Coordinates"),
    {"-rescale", 3, "ERROR: '%s' needs 3 arguments: rescale_x rescale_y rescale_z\n",
     &LASreaderFactory::parse_rescale, "x y z", "new scale factors of the coordinates"},
    {"-rescale_xy", 2, "ERROR: '%s' needs 2 argument: rescale_x rescale_y\n",
     &LASreaderFactory::parse_rescale_xy, "x y", "new scale factors of x and y"},
    {"-rescale_z", 1, "ERROR: '%s' needs 1 argument: rescale_z\n",
     &LASreaderFactory::parse_rescale_z, "z", "a new scale factor of z"},
    {"-reoffset", 3, "ERROR: '%s' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z\n",
     &LASreaderFactory::parse_reoffset, "x y z", "new offsets of the coordinates"},
    {"-auto_reoffset", 0, nullptr,
     &LASreaderFactory::set_flag<&LASreaderSettings::auto_reoffset, true>, "",
     "offsets chosen from each file's bounding box"},
    kHeading("Text input"),
    {"-iparse", 1, "ERROR: '%s' needs 1 argument: string\n", &LASreaderFactory::parse_parse_string,
     "xyz...", "the columns of a text line, one letter each (x y z t i a r n c u p ... s skips)"},
    {"-iskip", 1, "ERROR: '%s' needs 1 argument: number_of_lines\n", &LASreaderFactory::parse_skip,
     "n", "header lines to skip"},
    {"-itxt", 0, nullptr, &LASreaderFactory::parse_text_input, "",
     "the input is text (for -stdin and names of no known extension)"},
    {"-ipts", 0, nullptr, &LASreaderFactory::parse_text_input, "",
     "PTS text: a count line, intensities shifted by 2048"},
    {"-iptx", 0, nullptr, &LASreaderFactory::parse_text_input, "",
     "PTX text: scans with their headers"},
    {"-iadd_extra", 3, "ERROR: '%s' needs 3 arguments: data_type name description\n",
     &LASreaderFactory::parse_add_attribute,
     "type name description [scale [offset [pre_scale [pre_offset [no_data]]]]]",
     "an attribute in extra bytes, filled from columns 0-9 of -iparse"},
    {"-iadd_attribute", 3, "ERROR: '%s' needs 3 arguments: data_type name description\n",
     &LASreaderFactory::parse_add_attribute,
     "type name description [scale [offset [pre_scale [pre_offset [no_data]]]]]",
     "the same as -iadd_extra"},
    {"-itranslate_intensity", 1, "ERROR: '%s' needs 1 argument: translation\n",
     &LASreaderFactory::parse_intensity_or_angle, "t", "add t to the intensity of text points"},
    {"-iscale_intensity", 1, "ERROR: '%s' needs 1 argument: scale\n",
     &LASreaderFactory::parse_intensity_or_angle, "s", "scale the intensity of text points"},
    {"-itranslate_scan_angle", 1, "ERROR: '%s' needs 1 argument: translation\n",
     &LASreaderFactory::parse_intensity_or_angle, "t", "add t to the scan angle of text points"},
    {"-iscale_scan_angle", 1, "ERROR: '%s' needs 1 argument: scale\n",
     &LASreaderFactory::parse_intensity_or_angle, "s", "scale the scan angle of text points"},
    {"-populate", 0, nullptr, &LASreaderFactory::set_flag<&LASreaderSettings::fill_header, true>,
     "", "read a text file once more first to find its count, bounds and scale"},
    {"-do_not_populate", 0, nullptr,
     &LASreaderFactory::set_flag<&LASreaderSettings::fill_header, false>, "",
     "no such first reading (the default of the tool)"},
    {"-comma_not_point", 0, nullptr,
     &LASreaderFactory::set_flag<&LASreaderSettings::comma_not_point, true>, "",
     "accepted; has no effect in this version"},
    kHeading("Reading"),
    {"-pipe_on", 0, nullptr, &LASreaderFactory::set_flag<&LASreaderSettings::pipe_on, true>, "",
     "pass the points of the first pass on to standard output as LAS"},
    {"-stored", 0, nullptr, &LASreaderFactory::set_flag<&LASreaderSettings::stored, true>, "",
     "keep the input as it is read for the second pass, as piped input is kept"},
    {"-piped_memory", 1, "ERROR: '%s' needs 1 argument: maximal memory in MB\n",
     &LASreaderFactory::parse_piped_memory, "MB",
     "memory for piped input; more goes to a temporary file [64]"},
    {"-io_ibuffer", 1, "ERROR: '%s' needs 1 argument: size\n",
     &LASreaderFactory::parse_input_buffer, "bytes", "input buffer size [262144]"},
    {"-temp_files", 1, "ERROR: '%s' needs 1 argument: base name\n",
     &LASreaderFactory::parse_temp_files, "base", "accepted; has no effect in this version"},
};

std::vector<command_options::OptionSection> LASreaderFactory::option_sections() {
  return command_options::sections_of(kOptions);
}

// Compressed files opened from here on bring the index stored inside them.
LASreaderFactory::LASreaderFactory() {
  install_embedded_index_loader();
}
LASreaderFactory::~LASreaderFactory() {
  release_piped();
}

void LASreaderFactory::usage() {
  command_options::print_lines(kUsageLines);
}

bool LASreaderFactory::parse(int argc, char* argv[], bool parse_ignore) {
  for (int i = 1; i < argc; i++) {
    if (is_blank(argv[i])) continue;
    const std::string_view name = argv[i];
    if (name == "-h") {
      LASfilter::usage();
      LAStransform::usage();
      LASignore::usage();
      usage();
      return true;
    }
    // Only what the table does not know is looked at by prefix; "-inside" itself is a row.
    switch (command_options::run_option(*this, kOptions, i, argc, argv)) {
      case command_options::Outcome::kFailed:
        return false;
      case command_options::Outcome::kDone:
        continue;
      case command_options::Outcome::kNotMine:
        break;
    }
    if (name.starts_with("-ignore_")) {
      if (!parse_ignore_option(i, argc, argv, parse_ignore)) return false;
    } else if (name.starts_with("-inside")) {
      std::fprintf(stderr, "ERROR: unknown '-inside' option '%s'\n", argv[i]);
      command_options::hint_not_understood(argv[i]);
      return false;
    }
  }
  return finish_parse(argc, argv);
}

bool LASreaderFactory::parse_ignore_option(int& index, int argc, char* argv[], bool parse_ignore) {
  if (!parse_ignore) {
    std::fprintf(stderr, "ERROR: this tool does not process '-ignore_xxxx' options\n");
    return false;
  }
  if (!ignore_) ignore_ = std::make_unique<LASignore>();
  if (!ignore_->parse(index, argc, argv)) {
    ignore_.reset();
    return false;
  }
  return true;
}

bool LASreaderFactory::finish_parse(int argc, char* argv[]) {
  if (!neighbor_file_names_.empty()) {
    if (file_names_.size() > 1) {
      std::fprintf(stderr,
                   "ERROR: neighbors only supported for one buffered input file, not for %d\n",
                   static_cast<int>(file_names_.size()));
      return false;
    }
    if (settings_.buffer_size == 0.0f) {
      std::fprintf(stderr,
                   "ERROR: neighbors only make sense when used with '-buffered 50' or similar\n");
      return false;
    }
  }
  if (!parse_filter(argc, argv)) return false;
  if (!parse_transform(argc, argv)) return false;
  // The value is set per file by `open`.
  if (settings_.files_are_flightlines != 0 || settings_.apply_file_source_ID) {
    if (!transform_) transform_ = std::make_unique<LAStransform>();
    transform_->set_point_source(0);
  }
  return true;
}

// The point filter ("-keep_...", "-drop_...") parses the entries left over here: it is
// created (or cleared), deleted again when it holds no criterion, and a parse failure fails
// the whole parse.
bool LASreaderFactory::parse_filter(int argc, char* argv[]) {
  if (filter_) {
    filter_->clean();
  } else {
    filter_ = std::make_unique<LASfilter>();
  }
  if (!filter_->parse(argc, argv)) {
    filter_.reset();
    return false;
  }
  if (!filter_->active()) filter_.reset();
  return true;
}

// The point transform ("-translate_...", "-scale_...", "-set_...", "-filtered_transform")
// parses the entries left over after the filter, the same way. With "-filtered_transform"
// it takes the filter over: its operations then change only the points the filter keeps,
// and no point is dropped.
bool LASreaderFactory::parse_transform(int argc, char* argv[]) {
  if (transform_) {
    transform_->clean();
  } else {
    transform_ = std::make_unique<LAStransform>();
  }
  if (!transform_->parse(argc, argv)) {
    transform_.reset();
    return false;
  }
  if (transform_->operation_count() == 0) {
    if (transform_->is_filtered()) {
      std::fprintf(stderr,
                   "WARNING: no LAStransform specified. '-filtered_transform' has no "
                   "effect.\n");
    }
    transform_.reset();
    return true;
  }
  if (transform_->is_filtered()) {
    if (filter_) {
      transform_->set_filter(std::move(filter_));
      transform_->set_filtered(true);
    } else {
      std::fprintf(stderr,
                   "WARNING: no LASfilter specified. '-filtered_transform' has no effect.\n");
    }
  }
  return true;
}

template <bool LASreaderSettings::*flag, bool value>
bool LASreaderFactory::set_flag(const char*, int&, int, char*[]) {
  settings_.*flag = value;
  return true;
}

bool LASreaderFactory::parse_input(const char* option, int& index, int argc, char* argv[]) {
  if (!is_list_argument(index + 1, argc, argv)) {
    std::fprintf(stderr, "ERROR: '%s' needs at least 1 argument: file_name or wild_card\n", option);
    return false;
  }
  while (is_list_argument(index + 1, argc, argv)) {
    add_file_name(argv[index + 1], settings_.unique);
    index++;
  }
  return true;
}

bool LASreaderFactory::parse_add_attribute(const char* option, int& index, int argc, char* argv[]) {
  if (settings_.attributes.size() >= LASreaderSettings::kMaxAttributes) {
    std::fprintf(stderr, "ERROR: '%s' cannot add more than %d attributes\n", option,
                 static_cast<int>(LASreaderSettings::kMaxAttributes));
    return false;
  }
  LAStextAttribute attribute;
  if (!parse_int(argv[index + 1], attribute.data_type, 0, INT_MAX)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 3 arguments: data_type name description but '%s' is not a "
                 "valid data_type\n",
                 option, argv[index + 1]);
    return false;
  }
  attribute.name = argv[index + 2];
  attribute.description = argv[index + 3];
  index += 3;
  // The optional numbers follow while they qualify: a scale is never 0; an offset or a
  // no-data value may be 0 only when written as "0" or "0.0". An entry that is not wholly
  // a number is no such value and is left for the other parsers.
  auto value_of = [&](int at) {
    double value = 0.0;
    if (at < argc && !parse_double(argv[at], value)) value = 0.0;
    return value;
  };
  auto take_scale = [&](double& field) {
    if (index + 1 >= argc) return false;
    const double value = value_of(index + 1);
    if (value == 0.0) return false;
    field = value;
    index++;
    return true;
  };
  auto take_offset = [&](double& field) {
    if (index + 1 >= argc) return false;
    const double value = value_of(index + 1);
    const std::string_view text = argv[index + 1];
    if (value == 0.0 && text != "0" && text != "0.0") return false;
    field = value;
    index++;
    return true;
  };
  if (take_scale(attribute.scale) && take_offset(attribute.offset) &&
      take_scale(attribute.pre_scale) && take_offset(attribute.pre_offset)) {
    take_offset(attribute.no_data);
  }
  settings_.attributes.push_back(std::move(attribute));
  return true;
}

bool LASreaderFactory::parse_parse_string(const char*, int& index, int, char* argv[]) {
  settings_.parse_string = argv[++index];
  return true;
}

bool LASreaderFactory::parse_skip(const char* option, int& index, int, char* argv[]) {
  std::uint32_t lines = 0;
  if (!parse_unsigned(argv[index + 1], lines)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: number_of_lines but '%s' is not a valid number.\n",
                 option, argv[index + 1]);
    return false;
  }
  if (lines == 0) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: number_of_lines but %u is not valid.\n",
                 option, lines);
    return false;
  }
  settings_.skip_lines = lines;
  index++;
  return true;
}

bool LASreaderFactory::parse_input_buffer(const char* option, int& index, int, char* argv[]) {
  std::uint32_t size = 0;
  if (!parse_unsigned(argv[index + 1], size)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: size but '%s' is not a valid size.\n",
                 option, argv[index + 1]);
    return false;
  }
  if (size == 0) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: size but %u is not valid.\n", option, size);
    return false;
  }
  settings_.input_buffer_size = size;
  index++;
  return true;
}

// Not among the usage lines, which list the kinds of input: it only tunes how a piped input
// is kept (0 sends every one to the temporary file, as tests do to reach that way).
bool LASreaderFactory::parse_piped_memory(const char* option, int& index, int, char* argv[]) {
  std::uint32_t megabytes = 0;
  if (!parse_unsigned(argv[index + 1], megabytes)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: maximal memory in MB but '%s' is not valid\n",
                 option, argv[index + 1]);
    return false;
  }
  piped_memory_limit_ = static_cast<std::int64_t>(megabytes) << 20;
  index++;
  return true;
}

bool LASreaderFactory::parse_intensity_or_angle(const char* option, int& index, int, char* argv[]) {
  const std::string_view name = option;
  const bool translation = name.starts_with("-itranslate");
  float LASreaderSettings::*field = nullptr;
  if (name == "-itranslate_intensity") field = &LASreaderSettings::translate_intensity;
  if (name == "-iscale_intensity") field = &LASreaderSettings::scale_intensity;
  if (name == "-itranslate_scan_angle") field = &LASreaderSettings::translate_scan_angle;
  if (name == "-iscale_scan_angle") field = &LASreaderSettings::scale_scan_angle;
  const char* word = translation ? "translation" : "scale";
  float value = 0.0f;
  if (!parse_float(argv[index + 1], value)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: %s but '%s' is not valid.\n", option, word,
                 argv[index + 1]);
    return false;
  }
  if (value == 0.0f) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: %s but %f is not valid.\n", option, word,
                 static_cast<double>(value));
    return false;
  }
  settings_.*field = value;
  index++;
  return true;
}

bool LASreaderFactory::parse_text_input(const char* option, int&, int, char*[]) {
  const std::string_view name = option;
  settings_.itxt = true;
  if (name == "-ipts") settings_.ipts = true;
  if (name == "-iptx") settings_.iptx = true;
  return true;
}

bool LASreaderFactory::parse_inside_rectangle(const char* option, int& index, int, char* argv[]) {
  static constexpr const char* kNames[4] = {"min_x", "min_y", "max_x", "max_y"};
  double values[4] = {0, 0, 0, 0};
  for (int k = 0; k < 4; k++) {
    if (!parse_double(argv[index + 1 + k], values[k])) {
      std::fprintf(stderr,
                   "ERROR: '%s' needs 4 arguments: min_x min_y max_x max_y, but '%s' is not a "
                   "valid %s.\n",
                   option, argv[index + 1 + k], kNames[k]);
      return false;
    }
  }
  // Written as "not less than" so that NaN bounds are refused too.
  if (!(values[0] < values[2])) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 4 arguments: min_x min_y max_x max_y, but %lf / %lf are not "
                 "a valid min_x / max_x pair.\n",
                 option, values[0], values[2]);
    return false;
  }
  if (!(values[1] < values[3])) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 4 arguments: min_x min_y max_x max_y, but %lf / %lf are not "
                 "a valid min_y / max_y pair.\n",
                 option, values[1], values[3]);
    return false;
  }
  set_inside_rectangle(values[0], values[1], values[2], values[3]);
  index += 4;
  return true;
}

bool LASreaderFactory::parse_inside_tile(const char* option, int& index, int, char* argv[]) {
  static constexpr const char* kNames[3] = {"ll_x", "ll_y", "size"};
  float values[3] = {0, 0, 0};
  for (int k = 0; k < 3; k++) {
    if (!parse_float(argv[index + 1 + k], values[k])) {
      std::fprintf(stderr,
                   "ERROR: '%s' needs 3 arguments: ll_x ll_y size, but '%s' is not a valid %s.\n",
                   option, argv[index + 1 + k], kNames[k]);
      return false;
    }
  }
  if (!(values[2] > 0.0f)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 3 arguments: ll_x ll_y size, but %f is not valid a size.\n",
                 option, static_cast<double>(values[2]));
    return false;
  }
  set_inside_tile(values[0], values[1], values[2]);
  index += 3;
  return true;
}

bool LASreaderFactory::parse_inside_circle(const char* option, int& index, int, char* argv[]) {
  static constexpr const char* kNames[3] = {"center_x", "center_y", "radius"};
  double values[3] = {0, 0, 0};
  for (int k = 0; k < 3; k++) {
    if (!parse_double(argv[index + 1 + k], values[k])) {
      std::fprintf(stderr,
                   "ERROR: '%s' needs 3 arguments: center_x center_y radius, but '%s' is not a "
                   "valid %s.\n",
                   option, argv[index + 1 + k], kNames[k]);
      return false;
    }
  }
  if (!(values[2] > 0.0)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 3 arguments: center_x center_y radius, but %lf is not valid "
                 "a radius.\n",
                 option, values[2]);
    return false;
  }
  set_inside_circle(values[0], values[1], values[2]);
  index += 3;
  return true;
}

bool LASreaderFactory::parse_list_of_files(const char*, int& index, int, char* argv[]) {
  if (!add_list_of_files(argv[index + 1], settings_.unique)) {
    std::fprintf(stderr, "ERROR: cannot load list of files '%s'\n", argv[index + 1]);
    return false;
  }
  index++;
  return true;
}

bool LASreaderFactory::parse_flightlines(const char* option, int& index, int argc, char* argv[]) {
  // A start value is taken only when one plainly follows: "0" or another option is left
  // for the other parsers. One that begins with a digit must be a whole number.
  int start = 1;
  if (index + 1 < argc && argv[index + 1][0] >= '1' && argv[index + 1][0] <= '9') {
    if (!parse_int(argv[index + 1], start, 1)) {
      std::fprintf(stderr, "ERROR: '%s' needs a start value but '%s' is not a valid number\n",
                   option, argv[index + 1]);
      return false;
    }
    index++;
  }
  settings_.files_are_flightlines = start;
  if (start >= 65536) {
    std::fprintf(stderr, "WARNING: files_are_flightlines start value %d is too large\n", start);
  } else {
    warn_flightline_range();
  }
  return true;
}

bool LASreaderFactory::parse_flightlines_index(const char* option, int& index, int, char* argv[]) {
  int typed = 0;
  if (!parse_int(argv[index + 1], typed)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: index but '%s' is not a valid number\n",
                 option, argv[index + 1]);
    return false;
  }
  settings_.files_are_flightlines_index = typed == INT_MIN ? INT_MIN : typed - 1;
  if (typed >= 65536) {
    std::fprintf(stderr, "WARNING: files_are_flightlines_index index value %d is too large\n",
                 typed);
  } else {
    warn_flightline_range();
  }
  index++;
  return true;
}

// The first file gets start + index; beyond 65535 the numbers wrap around.
void LASreaderFactory::warn_flightline_range() const {
  const std::int64_t start = settings_.files_are_flightlines;
  const std::int64_t index = static_cast<std::int64_t>(settings_.files_are_flightlines_index) + 1;
  if (start != 0 && start + index > 65535) {
    std::fprintf(stderr,
                 "WARNING: files_are_flightlines start value %d plus index %d is too large\n",
                 static_cast<int>(start), static_cast<int>(index));
  }
}

bool LASreaderFactory::parse_buffered(const char* option, int& index, int, char* argv[]) {
  float size = 0.0f;
  if (!parse_float(argv[index + 1], size)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: buffer_size. but '%s' is not a valid buffer_size",
                 option, argv[index + 1]);
    return false;
  }
  if (!(size > 0.0f)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: buffer_size, but %f is not valid", option,
                 static_cast<double>(size));
    return false;
  }
  settings_.buffer_size = size;
  index++;
  return true;
}

bool LASreaderFactory::parse_temp_files(const char*, int& index, int, char* argv[]) {
  settings_.temp_name_base = argv[++index];
  return true;
}

bool LASreaderFactory::parse_neighbors(const char* option, int& index, int argc, char* argv[]) {
  if (!is_list_argument(index + 1, argc, argv)) {
    std::fprintf(stderr, "ERROR: '%s' needs at least 1 argument: file_name or wild_card\n", option);
    return false;
  }
  while (is_list_argument(index + 1, argc, argv)) {
    add_neighbor_file_name(argv[index + 1]);
    index++;
  }
  return true;
}

bool LASreaderFactory::parse_neighbors_list(const char*, int& index, int, char* argv[]) {
  if (!add_neighbor_list_of_files(argv[index + 1])) {
    std::fprintf(stderr, "ERROR: cannot load neighbor list of files '%s'\n", argv[index + 1]);
    return false;
  }
  index++;
  return true;
}

// Later rescale options change only the axes they name, so "-rescale_xy" and "-rescale_z"
// together rescale all three.
bool LASreaderFactory::parse_rescale(const char* option, int& index, int, char* argv[]) {
  static constexpr const char* kNames[3] = {"rescale_x", "rescale_y", "rescale_z"};
  std::array<double, 3> values{};
  for (int k = 0; k < 3; k++) {
    if (!parse_double(argv[index + 1 + k], values[k])) {
      std::fprintf(stderr,
                   "ERROR: '%s' needs 3 arguments: rescale_x rescale_y rescale_z, but '%s' is not "
                   "a valid %s",
                   option, argv[index + 1 + k], kNames[k]);
      return false;
    }
    if (values[k] == 0.0) {
      std::fprintf(stderr,
                   "ERROR: '%s' needs 3 arguments: rescale_x rescale_y rescale_z, but %lf is not "
                   "a valid %s",
                   option, values[k], kNames[k]);
      return false;
    }
  }
  settings_.scale_factor = values;
  index += 3;
  return true;
}

bool LASreaderFactory::parse_rescale_xy(const char* option, int& index, int, char* argv[]) {
  static constexpr const char* kNames[2] = {"rescale_x", "rescale_y"};
  double values[2] = {0, 0};
  for (int k = 0; k < 2; k++) {
    if (!parse_double(argv[index + 1 + k], values[k])) {
      std::fprintf(stderr,
                   "ERROR: '%s' needs 3 arguments: rescale_x rescale_y, but '%s' is not a valid %s",
                   option, argv[index + 1 + k], kNames[k]);
      return false;
    }
    if (values[k] == 0.0) {
      std::fprintf(stderr,
                   "ERROR: '%s' needs 3 arguments: rescale_x rescale_y, but %lf is not a valid %s",
                   option, values[k], kNames[k]);
      return false;
    }
  }
  std::array<double, 3> scale = settings_.scale_factor.value_or(std::array<double, 3>{0, 0, 0});
  scale[0] = values[0];
  scale[1] = values[1];
  settings_.scale_factor = scale;
  index += 2;
  return true;
}

bool LASreaderFactory::parse_rescale_z(const char* option, int& index, int, char* argv[]) {
  double value = 0.0;
  if (!parse_double(argv[index + 1], value)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: rescale_z, but '%s' is not a valid rescale_z",
                 option, argv[index + 1]);
    return false;
  }
  if (value == 0.0) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: rescale_z, but %lf is not a valid rescale_z",
                 option, value);
    return false;
  }
  std::array<double, 3> scale = settings_.scale_factor.value_or(std::array<double, 3>{0, 0, 0});
  scale[2] = value;
  settings_.scale_factor = scale;
  index++;
  return true;
}

bool LASreaderFactory::parse_reoffset(const char* option, int& index, int, char* argv[]) {
  static constexpr const char* kNames[3] = {"reoffset_x", "reoffset_y", "reoffset_z"};
  std::array<double, 3> values{};
  for (int k = 0; k < 3; k++) {
    if (!parse_double(argv[index + 1 + k], values[k])) {
      std::fprintf(stderr,
                   "ERROR: '%s' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z, but '%s' is "
                   "not a valid %s",
                   option, argv[index + 1 + k], kNames[k]);
      return false;
    }
  }
  settings_.offset = values;
  index += 3;
  return true;
}
