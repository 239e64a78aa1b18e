#include "select/las_writer_factory.hpp"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "codec/pakrel.hpp"
#include "formats/las_writer_bin.hpp"
#include "formats/las_writer_qfit.hpp"
#include "las/las_writer_las.hpp"
#include "select/file_names.hpp"
#include "select/las_text_open.hpp"

using command_options::parse_float;
using command_options::parse_int;
using command_options::parse_unsigned;

namespace {

constexpr const char* kUsageLines[] = {
    "Supported LAS Outputs\n",
    "  -o lidar.las\n",
    "  -o lidar.pkz\n",
    "  -o xyzta.txt -oparse xyzta (on-the-fly to ASCII)\n",
    "  -o terrasolid.bin\n",
    "  -o nasa.qi\n",
    "  -odir C:\\data\\ground (specify output directory)\n",
    "  -odix _classified (specify file name appendix)\n",
    "  -ocut 2 (cut the last two characters from name)\n",
    "  -olas -opkz -otxt -obin -oqfit (specify format)\n",
    "  -stdout (pipe to stdout)\n",
    "  -nil    (pipe to NULL)\n",
};

constexpr const char* kDirectoryQuoteWarning[] = {
    "WARNING: specified '-odir' seems to contain a substring '\\\"' such\n",
    "         as -odir \"D:\\\" or -odir \"..\\tiles\\\". this command will\n",
    "         probably fail. please use -odir \"D:\" or -odir \"..\\tiles\"\n",
    "         instead.\n",
};

// What a LAS writer is opened with besides the header.
struct LASopenRequest {
  std::uint16_t compressor;
  int chunk_size;
  int buffer_size;
  const LASwriterSettings* settings;
};

// The requested codec version: the writer chooses the item versions of version 2.
constexpr int kRequestedVersion = 2;

std::unique_ptr<LASwriter> open_las_file(const LASheader& header, const std::string& file_name,
                                         const LASopenRequest& request) {
  auto writer = std::make_unique<LASwriterLAS>();
  writer->set_worker_pool(request.settings->worker_pool);
  if (!writer->open_file(file_name.c_str(), &header, request.compressor, kRequestedVersion,
                         request.chunk_size, request.buffer_size)) {
    return nullptr;
  }
  return writer;
}

std::unique_ptr<LASwriter> open_las_stdout(const LASheader& header, const LASopenRequest& request) {
  auto writer = std::make_unique<LASwriterLAS>();
  writer->set_worker_pool(request.settings->worker_pool);
  if (!writer->open_handle(stdout, &header, request.compressor, kRequestedVersion,
                           request.chunk_size)) {
    return nullptr;
  }
  return writer;
}

std::unique_ptr<LASwriter> open_txt_file(const LASheader& header, const std::string& file_name,
                                         const LASopenRequest& request) {
  return las_text_open::open_writer(*request.settings, header, file_name);
}

std::unique_ptr<LASwriter> open_txt_stdout(const LASheader& header, const LASopenRequest& request) {
  return las_text_open::open_writer(*request.settings, header, "");
}

// Terrasolid binary goes out with 16-byte records ("ts8"), QFIT with 40-byte ones, each with
// a stdio buffer of its own size.
constexpr const char* kBinVersion = "ts8";
constexpr std::uint32_t kBinBufferSize = 262144;
constexpr std::int32_t kQfitRecordSize = 40;
constexpr std::uint32_t kQfitBufferSize = 65536;

std::unique_ptr<LASwriter> open_bin_file(const LASheader& header, const std::string& file_name,
                                         const LASopenRequest&) {
  auto writer = std::make_unique<LASwriterBIN>();
  if (!writer->open_file(file_name.c_str(), &header, kBinVersion, kBinBufferSize)) return nullptr;
  return writer;
}

std::unique_ptr<LASwriter> open_bin_stdout(const LASheader& header, const LASopenRequest&) {
  auto writer = std::make_unique<LASwriterBIN>();
  if (!writer->open_handle(stdout, &header, kBinVersion)) return nullptr;
  return writer;
}

std::unique_ptr<LASwriter> open_qfit_file(const LASheader& header, const std::string& file_name,
                                          const LASopenRequest&) {
  auto writer = std::make_unique<LASwriterQFIT>();
  if (!writer->open_file(file_name.c_str(), &header, kQfitRecordSize, kQfitBufferSize)) {
    return nullptr;
  }
  return writer;
}

std::unique_ptr<LASwriter> open_qfit_stdout(const LASheader& header, const LASopenRequest&) {
  auto writer = std::make_unique<LASwriterQFIT>();
  if (!writer->open_handle(stdout, &header, kQfitRecordSize)) return nullptr;
  return writer;
}

// The output formats by code. Each format's writer is opened through its row; a row without
// openers is a format this version recognises but does not write, and `open` refuses it
// naming `description`.
struct OutputFormatRow {
  const char* extension;
  const char* writer;       // the writer class as messages name it
  const char* description;  // the format as the refusal names it
  std::unique_ptr<LASwriter> (*open_file)(const LASheader&, const std::string&,
                                          const LASopenRequest&);
  std::unique_ptr<LASwriter> (*open_stdout)(const LASheader&, const LASopenRequest&);
};

const OutputFormatRow kOutputFormats[] = {
    {"las", "laswriterlas", "LAS", &open_las_file, &open_las_stdout},
    {"las", "laswriterlas", "LAS", &open_las_file, &open_las_stdout},
    {"pkz", "laswriterlas", "PKZ", &open_las_file, &open_las_stdout},
    {"bin", "laswriterbin", "Terrasolid binary", &open_bin_file, &open_bin_stdout},
    {"qi", "laswriterqfit", "QFIT", &open_qfit_file, &open_qfit_stdout},
    {"wrl", "laswriterwrl", "VRML", nullptr, nullptr},
    {"txt", "laswritertxt", "text", &open_txt_file, &open_txt_stdout},
};

constexpr std::uint32_t kFormatCount = std::size(kOutputFormats);

// The format an extension names, tested in this order as substrings of the extension.
std::uint32_t format_of_extension(std::string_view extension) {
  struct Marker {
    const char* lower;
    const char* upper;
    std::uint32_t format;
  };
  static constexpr Marker kMarkers[] = {
      {"pkz", "PKZ", LASwriterFactory::kFormatPKZ}, {"las", "LAS", LASwriterFactory::kFormatLAS},
      {"bin", "BIN", LASwriterFactory::kFormatBIN}, {"qi", "QI", LASwriterFactory::kFormatQFIT},
      {"wrl", "WRL", LASwriterFactory::kFormatWRL},
  };
  for (const Marker& marker : kMarkers) {
    if (extension.find(marker.lower) != std::string_view::npos ||
        extension.find(marker.upper) != std::string_view::npos) {
      return marker.format;
    }
  }
  return LASwriterFactory::kFormatTXT;
}

// Extensions of text point files (and "out." without one): text written under them is what
// the name promises.
bool names_text(std::string_view extension) {
  static constexpr std::string_view kTextExtensions[] = {"",    "txt", "csv", "xyz",
                                                         "pts", "ptx", "asc"};
  std::string lower(extension);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::string_view text : kTextExtensions) {
    if (lower == text) return true;
  }
  return false;
}

bool is_directory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_special_file(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

// A directory and a base name joined with "/"; an empty directory is the current one.
std::string join(const std::string& directory, std::string_view base) {
  std::string joined = directory;
  if (!joined.empty() && joined.back() != '/') joined.push_back('/');
  joined.append(base);
  return joined;
}

int clamp_to_int(std::uint32_t value) {
  return value > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Options

using WriterOption = command_options::Option<LASwriterFactory>;
constexpr auto kHeading = command_options::heading<LASwriterFactory>;

// Grouped for the help (-h output): parsing only looks for the name.
const WriterOption LASwriterFactory::kOptions[] = {
    kHeading("Output files (without -o each output is named after its input: tile_1.las)"),
    {"-o", 1, "ERROR: '%s' needs 1 argument: file_name\n", &LASwriterFactory::parse_output, "name",
     "the output file; its extension chooses the format"},
    {"-odir", 1, "ERROR: '%s' needs 1 argument: directory\n", &LASwriterFactory::parse_directory,
     "folder", "put the outputs there (it must exist)"},
    {"-odix", 1, "ERROR: '%s' needs 1 argument: appendix\n", &LASwriterFactory::parse_appendix,
     "appendix", "appended to the input's name instead of _1"},
    {"-ocut", 1, "ERROR: '%s' needs 1 argument: number of characters to cut\n",
     &LASwriterFactory::parse_cut, "n", "cut the last n characters from the input's name"},
    {"-oforce", 0, nullptr, &LASwriterFactory::set_flag<&LASwriterSettings::force, true>, "",
     "use a derived name equal to the input's, and replace a layer file of another file"},
    {"-stdout", 0, nullptr, &LASwriterFactory::set_flag<&LASwriterSettings::to_stdout, true>, "",
     "write to standard output"},
    {"-nil", 0, nullptr, &LASwriterFactory::parse_nil, "", "write nothing (count only)"},
    kHeading("Formats (LAS unless an option or the name of -o says otherwise)"),
    {"-olas", 0, nullptr, &LASwriterFactory::parse_format<LASwriterFactory::kFormatLAS>, "", "LAS"},
    {"-opkz", 0, nullptr, &LASwriterFactory::parse_format<LASwriterFactory::kFormatPKZ>, "",
     "PKZ, the compressed form of LAS"},
    {"-otxt", 0, nullptr, &LASwriterFactory::parse_text_format, "",
     "text, one point a line (see -oparse)"},
    {"-obin", 0, nullptr, &LASwriterFactory::parse_format<LASwriterFactory::kFormatBIN>, "",
     "Terrasolid binary"},
    {"-oqi", 0, nullptr, &LASwriterFactory::parse_format<LASwriterFactory::kFormatQFIT>, "",
     "QFIT (longitude and latitude; -remove_noise only)"},
    // The usage names QFIT output "-oqfit".
    {"-oqfit", 0, nullptr, &LASwriterFactory::parse_format<LASwriterFactory::kFormatQFIT>, "",
     "the same as -oqi"},
    {"-owrl", 0, nullptr, &LASwriterFactory::parse_format<LASwriterFactory::kFormatWRL>, "",
     "VRML (refused: not supported in this version)"},
    {"-native", 0, nullptr, &LASwriterFactory::set_flag<&LASwriterSettings::native, true>, "",
     "PKZ of point types 6-10 in layers [on]"},
    {"-compatible", 0, nullptr, &LASwriterFactory::set_flag<&LASwriterSettings::native, false>, "",
     "PKZ of point types 6-10 point by point instead"},
    {"-chunk_size", 1, "ERROR: '%s' needs 1 argument: number_points\n",
     &LASwriterFactory::parse_chunk_size, "n", "points per compressed chunk [50000]"},
    {"-io_obuffer", 1, "ERROR: '%s' needs 1 argument: size\n",
     &LASwriterFactory::parse_output_buffer, "bytes", "output buffer size [262144]"},
    kHeading("Text output"),
    {"-oparse", 1, "ERROR: '%s' needs 1 argument: string\n", &LASwriterFactory::parse_parse_string,
     "xyz...", "the columns of a text line, one letter each (as -iparse) [xyz]"},
    {"-osep", 1, "ERROR: '%s' needs 1 argument: separator\n", &LASwriterFactory::parse_separator,
     "name", "between columns: space, tab, comma, colon, semicolon, hyphen or dot [space]"},
    {"-opts", 0, nullptr, &LASwriterFactory::set_flag<&LASwriterSettings::opts, true>, "",
     "PTS text"},
    {"-optx", 0, nullptr, &LASwriterFactory::set_flag<&LASwriterSettings::optx, true>, "",
     "PTX text"},
    {"-oscale_rgb", 1, "ERROR: '%s' needs 1 argument: scale\n", &LASwriterFactory::parse_scale_rgb,
     "s", "scale the colours written [1]"},
};

std::vector<command_options::OptionSection> LASwriterFactory::option_sections() {
  return command_options::sections_of(kOptions);
}

void LASwriterFactory::usage() {
  command_options::print_lines(kUsageLines);
}

bool LASwriterFactory::parse(int argc, char* argv[]) {
  for (int i = 1; i < argc; i++) {
    if (command_options::is_blank(argv[i])) continue;
    if (std::strcmp(argv[i], "-h") == 0) {
      usage();
      return true;
    }
    if (command_options::run_option(*this, kOptions, i, argc, argv) ==
        command_options::Outcome::kFailed) {
      return false;
    }
  }
  warn_text_by_default();
  return true;
}

// Text is what an extension that names no format gets, and "out.dat" or "out.Las" would
// then hold lines of text where a binary point file was meant: said once, before any file
// is written. Known only after every option, as "-olas" after "-o" changes the name.
void LASwriterFactory::warn_text_by_default() const {
  if (!file_name_ || specified_ || format_ != kFormatTXT) return;
  const std::size_t dot = file_names::extension_dot(*file_name_);
  if (dot == file_names::kNone || names_text(std::string_view(*file_name_).substr(dot + 1))) return;
  std::fprintf(stderr,
               "WARNING: writing text points to '%s'; give -olas or -opkz for a binary point "
               "file\n",
               file_name_->c_str());
}

template <bool LASwriterSettings::*flag, bool value>
bool LASwriterFactory::set_flag(const char*, int&, int, char*[]) {
  settings_.*flag = value;
  return true;
}

template <std::uint32_t format>
bool LASwriterFactory::parse_format(const char*, int&, int, char*[]) {
  return set_format(format);
}

bool LASwriterFactory::parse_output(const char*, int& index, int, char* argv[]) {
  set_file_name(argv[++index]);
  return true;
}

bool LASwriterFactory::parse_directory(const char*, int& index, int, char* argv[]) {
  if (!set_directory(argv[index + 1])) {
    std::fprintf(stderr, "ERROR: '%s' is not a valid directory\n", argv[index + 1]);
    // Outputs are never put into a folder the run makes up: a typo would scatter them.
    struct stat info {};
    if (stat(argv[index + 1], &info) != 0 && errno == ENOENT) {
      std::fprintf(stderr, "       it does not exist: create it first (mkdir -p '%s')\n",
                   argv[index + 1]);
    } else if (stat(argv[index + 1], &info) == 0) {
      std::fprintf(stderr, "       it is no folder\n");
    }
    return false;
  }
  index++;
  return true;
}

bool LASwriterFactory::parse_appendix(const char*, int& index, int, char* argv[]) {
  set_appendix(argv[++index]);
  return true;
}

bool LASwriterFactory::parse_cut(const char* option, int& index, int, char* argv[]) {
  int cut = 0;
  if (!parse_int(argv[index + 1], cut, 0)) {
    std::fprintf(stderr,
                 "ERROR: '%s' needs 1 argument: number of characters to cut but '%s' is not "
                 "valid\n",
                 option, argv[index + 1]);
    return false;
  }
  set_cut(cut);
  index++;
  return true;
}

// Text output keeps an explicit name as it is: "-o points.las -otxt" writes text.
bool LASwriterFactory::parse_text_format(const char*, int&, int, char*[]) {
  format_ = kFormatTXT;
  specified_ = true;
  return true;
}

bool LASwriterFactory::parse_nil(const char*, int&, int, char*[]) {
  settings_.to_nil = true;
  settings_.to_stdout = false;
  return true;
}

bool LASwriterFactory::parse_chunk_size(const char* option, int& index, int, char* argv[]) {
  if (!parse_unsigned(argv[index + 1], settings_.chunk_size)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: number_points but '%s' is not valid\n",
                 option, argv[index + 1]);
    return false;
  }
  index++;
  return true;
}

bool LASwriterFactory::parse_parse_string(const char*, int& index, int, char* argv[]) {
  set_parse_string(argv[++index]);
  return true;
}

bool LASwriterFactory::parse_separator(const char*, int& index, int, char* argv[]) {
  set_separator(argv[++index]);
  return true;
}

bool LASwriterFactory::parse_scale_rgb(const char* option, int& index, int, char* argv[]) {
  if (!parse_float(argv[index + 1], settings_.scale_rgb)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: scale but '%s' is not valid\n", option,
                 argv[index + 1]);
    return false;
  }
  index++;
  return true;
}

bool LASwriterFactory::parse_output_buffer(const char* option, int& index, int, char* argv[]) {
  if (!parse_unsigned(argv[index + 1], settings_.output_buffer_size, 1)) {
    std::fprintf(stderr, "ERROR: '%s' needs 1 argument: size but '%s' is not valid\n", option,
                 argv[index + 1]);
    return false;
  }
  index++;
  return true;
}

void LASwriterFactory::set_parse_string(const char* parse_string) {
  if (parse_string == nullptr) {
    settings_.parse_string.reset();
  } else {
    settings_.parse_string = parse_string;
  }
}

void LASwriterFactory::set_separator(const char* separator) {
  if (separator == nullptr) {
    settings_.separator.reset();
  } else {
    settings_.separator = separator;
  }
}

// ---------------------------------------------------------------------------------------
// Names

const char* LASwriterFactory::extension_of(std::uint32_t format) {
  return format < kFormatCount ? kOutputFormats[format].extension : "las";
}

void LASwriterFactory::apply_directory(std::string& name) const {
  if (!directory_) return;
  name = join(*directory_, std::string_view(name).substr(file_names::base_start(name)));
}

// The characters in front of the extension go, but never more than the base name holds.
void LASwriterFactory::apply_cut(std::string& name) const {
  if (cut_ <= 0) return;
  const std::size_t dot = file_names::extension_dot(name);
  const std::size_t end = dot == file_names::kNone ? name.size() : dot;
  const std::size_t base = file_names::base_start(name);
  const std::size_t cut = static_cast<std::size_t>(cut_);
  const std::size_t start = end - base > cut ? end - cut : base;
  name.erase(start, end - start);
}

void LASwriterFactory::apply_appendix(std::string& name) const {
  if (!appendix_) return;
  const std::size_t dot = file_names::extension_dot(name);
  name.insert(dot == file_names::kNone ? name.size() : dot, *appendix_);
}

void LASwriterFactory::set_file_name(const char* file_name) {
  special_ = false;
  if (file_name == nullptr) {
    file_name_.reset();
    return;
  }
  std::string name = file_name;
  while (!name.empty() && name.back() == ' ')
    name.pop_back();
  // A device or a FIFO that exists is written as it is named, whatever the options before
  // or after it: an extension, a folder or an appendix would make a new regular file
  // beside it instead ("/dev/full.pkz").
  if (is_special_file(name)) {
    file_name_ = std::move(name);
    special_ = true;
    return;
  }
  // Only a short extension counts: "out.json" is a name without one.
  const std::size_t dot = file_names::extension_dot(name);
  if (dot != file_names::kNone && name.size() - dot <= 4) {
    if (!specified_) format_ = format_of_extension(std::string_view(name).substr(dot + 1));
  } else {
    name.push_back('.');
    name.append(extension_of(format_));
  }
  apply_directory(name);
  apply_cut(name);
  apply_appendix(name);
  file_name_ = std::move(name);
}

bool LASwriterFactory::set_directory(const char* directory) {
  if (directory == nullptr) {
    directory_.reset();
    return true;
  }
  std::string text = directory;
  if (text.find_first_of(";\"") != std::string::npos) {
    command_options::print_lines(kDirectoryQuoteWarning);
  }
  // "/" alone stays the root directory.
  if (text.size() > 1 && (text.back() == '\\' || text.back() == '/')) text.pop_back();
  directory_ = text;
  if (file_name_ && !special_) apply_directory(*file_name_);
  return text.empty() || text.back() == ':' || is_directory(text);
}

void LASwriterFactory::set_appendix(const char* appendix) {
  if (appendix == nullptr) {
    appendix_.reset();
    return;
  }
  appendix_ = appendix;
  if (file_name_ && !special_) apply_appendix(*file_name_);
}

void LASwriterFactory::set_cut(std::int32_t cut) {
  cut_ = cut;
  if (cut_ != 0 && file_name_ && !special_) apply_cut(*file_name_);
}

bool LASwriterFactory::set_format(std::uint32_t format) {
  if (format >= kFormatCount) return false;
  format_ = format;
  specified_ = true;
  if (file_name_ && !special_) {
    std::string& name = *file_name_;
    const std::size_t dot = file_names::extension_dot(name);
    if (dot == file_names::kNone) {
      name.push_back('.');
    } else {
      name.resize(dot + 1);
    }
    name.append(extension_of(format));
  }
  return true;
}

void LASwriterFactory::derive_file_name(const char* input_file_name, int number) {
  std::string name;
  if (number < 0) {
    if (input_file_name != nullptr) {
      name = input_file_name;
      // A name without extension keeps all of its base (the appendix goes at its end).
      const std::size_t dot = file_names::extension_dot(name);
      if (dot != file_names::kNone) name.resize(dot);
      apply_cut(name);
      if (appendix_) {
        name.append(*appendix_);
      } else if (!directory_ && cut_ == 0 && number == -1) {
        name.append("_1");
      }
      name.push_back('.');
    } else {
      name = "output.";
    }
  } else {
    if (input_file_name != nullptr) {
      name = input_file_name;
      apply_cut(name);
    } else if (file_name_) {
      name = *file_name_;
    } else {
      name = "output_0000000.xxx";
    }
    std::size_t dot = file_names::extension_dot(name);
    if (dot == file_names::kNone) {
      dot = name.size();
      name.push_back('.');
    }
    // The number goes into the run of digits in front of the extension, keeping its width.
    const std::size_t base = file_names::base_start(name);
    std::size_t first_digit = dot;
    while (first_digit > base && std::isdigit(static_cast<unsigned char>(name[first_digit - 1])))
      first_digit--;
    const std::size_t width = dot - first_digit;
    unsigned remaining = static_cast<unsigned>(number);
    std::size_t digits = 1;
    for (unsigned rest = remaining / 10; rest != 0; rest /= 10)
      digits++;
    if (digits > width) {
      std::fprintf(stderr,
                   "WARNING: file name number %d too big to store in '%s'. use more digits.\n",
                   number, name.c_str());
    }
    for (std::size_t k = dot; k > first_digit; k--) {
      name[k - 1] = static_cast<char>('0' + remaining % 10);
      remaining /= 10;
    }
    name.resize(dot + 1);
  }
  name.append(extension_of(format_));
  apply_directory(name);
  // A name equal to the input stays as it is: the tool refuses to write over an input (one
  // shared stand-in name would make every such file overwrite the one before).
  file_name_ = std::move(name);
  special_ = false;
}

// ---------------------------------------------------------------------------------------
// Opening

// Point types 6-10 need the layered compressor, which `-compatible` turns off; the older
// types use the chunked one.
std::uint16_t LASwriterFactory::compressor_for(const LASheader& header) const {
  if (format_ != kFormatPKZ) return Pakrel::COMPRESSOR_RAW;
  const int point_type = header.point_data_format & 0x7F;
  if (settings_.native && point_type >= 6) return Pakrel::COMPRESSOR_LAYERED;
  return Pakrel::COMPRESSOR_CHUNKED;
}

std::unique_ptr<LASwriter> LASwriterFactory::open(const LASheader& header) {
  // A chunk size beyond what the writer takes keeps the codec's default.
  const LASopenRequest request{compressor_for(header),
                               settings_.chunk_size > static_cast<std::uint32_t>(INT_MAX)
                                   ? -1
                                   : static_cast<int>(settings_.chunk_size),
                               clamp_to_int(settings_.output_buffer_size), &settings_};
  if (settings_.to_nil) {
    auto writer = std::make_unique<LASwriterLAS>();
    if (!writer->open_nil(&header, request.compressor, kRequestedVersion, request.chunk_size)) {
      std::fprintf(stderr, "ERROR: cannot open laswriterlas to NULL\n");
      return nullptr;
    }
    return writer;
  }
  if (file_name_) {
    if (format_ >= kFormatCount) {
      std::fprintf(stderr, "ERROR: unknown format %d\n", static_cast<int>(format_));
      return nullptr;
    }
    const OutputFormatRow& row = kOutputFormats[format_];
    if (row.open_file == nullptr) {
      std::fprintf(stderr, "ERROR: writing %s files ('%s') is not supported in this version\n",
                   row.description, file_name_->c_str());
      return nullptr;
    }
    std::unique_ptr<LASwriter> writer = row.open_file(header, *file_name_, request);
    if (!writer) {
      std::fprintf(stderr, "ERROR: cannot open %s with file name '%s'\n", row.writer,
                   file_name_->c_str());
    }
    return writer;
  }
  if (settings_.to_stdout) {
    const OutputFormatRow& row = kOutputFormats[format_ < kFormatCount ? format_ : 0];
    if (row.open_stdout == nullptr) {
      std::fprintf(stderr, "ERROR: writing %s files to stdout is not supported in this version\n",
                   row.description);
      return nullptr;
    }
    std::unique_ptr<LASwriter> writer = row.open_stdout(header, request);
    if (!writer) std::fprintf(stderr, "ERROR: cannot open %s to stdout\n", row.writer);
    return writer;
  }
  std::fprintf(stderr, "ERROR: no laswriter output specified\n");
  return nullptr;
}
