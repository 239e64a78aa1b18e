#include "select/las_reader_factory.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "formats/las_reader_bin.hpp"
#include "formats/las_reader_qfit.hpp"
#include "formats/las_reader_shp.hpp"
#include "index/las_index.hpp"
#include "las/las_reader_las.hpp"
#include "model/las_point.hpp"
#include "select/command_options.hpp"
#include "select/las_text_open.hpp"

namespace {

// The converting variants: given scale factors, given or automatic offsets, or both.
std::unique_ptr<LASreaderLAS> make_las_reader_variant(const LASreaderSettings& settings) {
  const auto& scale = settings.scale_factor;
  const auto& offset = settings.offset;
  if (scale && offset) {
    return std::make_unique<LASreaderLASrescalereoffset>((*scale)[0], (*scale)[1], (*scale)[2],
                                                         (*offset)[0], (*offset)[1], (*offset)[2]);
  }
  if (scale && settings.auto_reoffset) {
    return std::make_unique<LASreaderLASrescalereoffset>((*scale)[0], (*scale)[1], (*scale)[2]);
  }
  if (scale) return std::make_unique<LASreaderLASrescale>((*scale)[0], (*scale)[1], (*scale)[2]);
  if (offset)
    return std::make_unique<LASreaderLASreoffset>((*offset)[0], (*offset)[1], (*offset)[2]);
  if (settings.auto_reoffset) return std::make_unique<LASreaderLASreoffset>();
  return std::make_unique<LASreaderLAS>();
}

std::unique_ptr<LASreaderLAS> make_las_reader(const LASreaderSettings& settings) {
  std::unique_ptr<LASreaderLAS> reader = make_las_reader_variant(settings);
  reader->set_worker_pool(settings.worker_pool);
  return reader;
}

int clamp_to_int(std::uint32_t value) {
  return value > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

std::unique_ptr<LASreader> open_las(const LASreaderSettings& settings,
                                    const std::string& file_name) {
  std::unique_ptr<LASreaderLAS> reader = make_las_reader(settings);
  if (!reader->open_file(file_name.c_str(), clamp_to_int(settings.input_buffer_size), false,
                         settings.selective_decoding)) {
    return nullptr;
  }
  return reader;
}

bool reopen_las(LASreader& reader, const LASreaderSettings& settings,
                const std::string& file_name) {
  auto* las = dynamic_cast<LASreaderLAS*>(&reader);
  if (las != nullptr) las->set_worker_pool(settings.worker_pool);
  return las != nullptr &&
         las->open_file(file_name.c_str(), clamp_to_int(settings.input_buffer_size), false,
                        settings.selective_decoding);
}

// The four forms of a format's reader: plain, with scale factors, with offsets, or both.
template <class Plain, class Rescale, class Reoffset, class Both>
std::unique_ptr<Plain> make_format_reader(const LASreaderSettings& settings) {
  const auto& scale = settings.scale_factor;
  const auto& offset = settings.offset;
  if (scale && offset) {
    return std::make_unique<Both>((*scale)[0], (*scale)[1], (*scale)[2], (*offset)[0], (*offset)[1],
                                  (*offset)[2]);
  }
  if (scale) return std::make_unique<Rescale>((*scale)[0], (*scale)[1], (*scale)[2]);
  if (offset) return std::make_unique<Reoffset>((*offset)[0], (*offset)[1], (*offset)[2]);
  return std::make_unique<Plain>();
}

template <class Plain, class Rescale, class Reoffset, class Both>
std::unique_ptr<LASreader> open_format(const LASreaderSettings& settings,
                                       const std::string& file_name) {
  std::unique_ptr<Plain> reader = make_format_reader<Plain, Rescale, Reoffset, Both>(settings);
  if (!reader->open_file(file_name.c_str())) return nullptr;
  return reader;
}

template <class Plain>
bool reopen_format(LASreader& reader, const LASreaderSettings&, const std::string& file_name) {
  auto* plain = dynamic_cast<Plain*>(&reader);
  return plain != nullptr && plain->open_file(file_name.c_str());
}

// A shapefile keeps the header of its first pass, whose count is then the real one.
bool reopen_shp(LASreader& reader, const LASreaderSettings&, const std::string& file_name) {
  auto* shp = dynamic_cast<LASreaderSHP*>(&reader);
  return shp != nullptr && shp->reopen_file(file_name.c_str());
}

// The input formats, chosen by the extension text found in the file's base name, tested in
// this order; the last row takes every other name. Each format's reader is opened and
// reopened through its row; a row without them is a format this version recognises but
// does not read, and `open` refuses it naming `description`.
enum class InputFormat { kLAS, kBIN, kSHP, kASC, kBIL, kDTM, kPLY, kQFIT, kTXT };

struct InputFormatRow {
  InputFormat format;
  const char* markers[4];   // extension texts, lower and upper case
  const char* reader;       // the reader class as messages name it
  const char* description;  // the format as the refusal names it
  // Null after the reader's own message when the file does not open.
  std::unique_ptr<LASreader> (*open)(const LASreaderSettings&, const std::string& file_name);
  bool (*reopen)(LASreader&, const LASreaderSettings&, const std::string& file_name);
};

const InputFormatRow kInputFormats[] = {
    {InputFormat::kLAS,
     {".las", ".pkz", ".LAS", ".PKZ"},
     "lasreaderlas",
     "LAS",
     &open_las,
     &reopen_las},
    {InputFormat::kBIN,
     {".bin", ".BIN"},
     "lasreaderbin",
     "Terrasolid binary",
     &open_format<LASreaderBIN, LASreaderBINrescale, LASreaderBINreoffset,
                  LASreaderBINrescalereoffset>,
     &reopen_format<LASreaderBIN>},
    {InputFormat::kSHP,
     {".shp", ".SHP"},
     "lasreadershp",
     "shapefile",
     &open_format<LASreaderSHP, LASreaderSHPrescale, LASreaderSHPreoffset,
                  LASreaderSHPrescalereoffset>,
     &reopen_shp},
    {InputFormat::kASC, {".asc", ".ASC"}, "lasreaderasc", "ASCII grid", nullptr, nullptr},
    {InputFormat::kBIL, {".bil", ".BIL"}, "lasreaderbil", "BIL grid", nullptr, nullptr},
    {InputFormat::kDTM, {".dtm", ".DTM"}, "lasreaderdtm", "DTM grid", nullptr, nullptr},
    {InputFormat::kPLY, {".ply", ".PLY"}, "lasreaderply", "PLY", nullptr, nullptr},
    {InputFormat::kQFIT,
     {".qi", ".QI"},
     "lasreaderqfit",
     "QFIT",
     &open_format<LASreaderQFIT, LASreaderQFITrescale, LASreaderQFITreoffset,
                  LASreaderQFITrescalereoffset>,
     &reopen_format<LASreaderQFIT>},
    {InputFormat::kTXT,
     {},
     "lasreadertxt",
     "text",
     &las_text_open::open_reader,
     &las_text_open::reopen_reader},
};

const InputFormatRow& input_format_of(std::string_view file_name) {
  const std::string_view base = file_name.substr(file_names::base_start(file_name));
  for (const InputFormatRow& row : kInputFormats) {
    for (const char* marker : row.markers) {
      if (marker != nullptr && base.find(marker) != std::string_view::npos) return row;
    }
  }
  return kInputFormats[std::size(kInputFormats) - 1];
}

// Inputs are read twice (and reopened for it). A pipe or a device delivers its points once,
// so such an input is kept in memory after its first reading, as piped input is; a folder
// is refused. A name that cannot be looked at is left to the reader, whose message names
// the system's reason.
enum class InputKind { kFile, kOnce, kRefused };

InputKind input_kind(const std::string& file_name) {
  struct stat info {};
  if (::stat(file_name.c_str(), &info) != 0) return InputKind::kFile;
  if (S_ISDIR(info.st_mode)) {
    std::fprintf(stderr, "ERROR: cannot open file '%s' for read: %s\n", file_name.c_str(),
                 std::strerror(EISDIR));
    return InputKind::kRefused;
  }
  return S_ISREG(info.st_mode) ? InputKind::kFile : InputKind::kOnce;
}

void refuse_format(const InputFormatRow& row, const std::string& file_name) {
  std::fprintf(stderr, "ERROR: reading %s files ('%s') is not supported in this version\n",
               row.description, file_name.c_str());
}

}  // namespace

std::unique_ptr<LASreader> LASreaderFactory::open_part(const std::string& file_name,
                                                       const std::array<double, 3>* scale,
                                                       const std::array<double, 3>* offset) const {
  const InputFormatRow& format = input_format_of(file_name);
  if (format.open == nullptr) {
    refuse_format(format, file_name);
    return nullptr;
  }
  LASreaderSettings settings = settings_;
  settings.selective_decoding = decoding_layers();
  if (scale) settings.scale_factor = *scale;
  if (offset) settings.offset = *offset;
  if (scale || offset) settings.auto_reoffset = false;
  std::unique_ptr<LASreader> reader = format.open(settings, file_name);
  if (!reader) {
    std::fprintf(stderr, "ERROR: cannot open %s with file name '%s'\n", format.reader,
                 file_name.c_str());
  }
  return reader;
}

// ---------------------------------------------------------------------------------------
// Names

bool LASreaderFactory::add_file_name(const char* file_name, bool unique) {
  if (file_name == nullptr || file_name[0] == '\0') return false;
  if (!file_names::has_wildcard(file_name)) {
    return file_names_.add(LASfileEntry{file_name, {}, {}}, unique);
  }
  std::vector<std::string> matches = file_names::expand_wildcard(file_name);
  if (matches.empty()) {
    // Said at once, so that a run over other inputs does not hide it; the tool ends such a
    // run with code 1.
    std::fprintf(stderr, "ERROR: no file matches '%s'\n", file_name);
    unmatched_wildcards_++;
    return false;
  }
  bool added = false;
  for (std::string& match : matches) {
    added = file_names_.add(LASfileEntry{std::move(match), {}, {}}, unique) || added;
  }
  return added;
}

bool LASreaderFactory::add_file_name(const char* file_name, std::uint32_t ID, bool unique) {
  if (file_name == nullptr) return false;
  return file_names_.add(LASfileEntry{file_name, ID, {}}, unique);
}

bool LASreaderFactory::add_file_name(const char* file_name, std::uint32_t ID,
                                     const LASfileBounds& bounds, bool unique) {
  if (file_name == nullptr) return false;
  return file_names_.add(LASfileEntry{file_name, ID, bounds}, unique);
}

bool LASreaderFactory::add_list_of_files(const char* list_file, bool unique) {
  if (list_file != nullptr) list_files_.emplace_back(list_file);
  return file_names::read_list_file(list_file, [&](const file_names::ListLine& line) {
    switch (line.form) {
      case file_names::ListLine::kIdentifierCountBounds:
        add_file_name(line.name.c_str(), line.ID, line.bounds, unique);
        break;
      case file_names::ListLine::kIdentifierName:
        add_file_name(line.name.c_str(), line.ID, unique);
        break;
      case file_names::ListLine::kName:
        add_file_name(line.name.c_str(), unique);
        break;
    }
  });
}

bool LASreaderFactory::add_neighbor_file_name(const char* file_name) {
  if (file_name == nullptr || file_name[0] == '\0') return false;
  if (!file_names::has_wildcard(file_name)) {
    return neighbor_file_names_.add(LASfileEntry{file_name, {}, {}});
  }
  bool added = false;
  for (std::string& match : file_names::expand_wildcard(file_name)) {
    added = neighbor_file_names_.add(LASfileEntry{std::move(match), {}, {}}) || added;
  }
  return added;
}

// Neighbour lists keep the bounds of their lines but no identifiers, and take other lines
// as names without expanding them.
bool LASreaderFactory::add_neighbor_list_of_files(const char* list_file) {
  if (list_file != nullptr) list_files_.emplace_back(list_file);
  return file_names::read_list_file(list_file, [&](const file_names::ListLine& line) {
    LASfileEntry entry{line.name, {}, {}};
    if (line.form == file_names::ListLine::kIdentifierCountBounds) entry.bounds = line.bounds;
    neighbor_file_names_.add(std::move(entry));
  });
}

const char* LASreaderFactory::get_file_name() const {
  if (file_name_) return file_name_->c_str();
  if (!file_names_.empty()) return file_names_[0].name.c_str();
  return nullptr;
}

const char* LASreaderFactory::get_file_name(std::uint32_t index) const {
  return index < file_names_.size() ? file_names_[index].name.c_str() : nullptr;
}

const char* LASreaderFactory::next_single_file() const {
  if (next_file_index_ >= file_names_.size()) return nullptr;
  if (settings_.merged && (file_names_.size() > 1 || file_names_.has_IDs())) return nullptr;
  return file_names_[next_file_index_].name.c_str();
}

bool LASreaderFactory::skip_single_file() {
  if (next_single_file() == nullptr) return false;
  file_name_ = file_names_[next_file_index_].name;
  file_source_ID_.reset();
  piped_reader_ = nullptr;
  next_file_index_++;
  return true;
}

// ---------------------------------------------------------------------------------------
// State

bool LASreaderFactory::active() const {
  // With files listed, `open` reads them and never standard input ("-stdin" among file
  // names): once they are done there is nothing more to deliver.
  if (!file_names_.empty()) return next_file_index_ < file_names_.size();
  return settings_.from_stdin;
}

bool LASreaderFactory::has_buffer() const {
  return settings_.buffer_size > 0.0f && (file_names_.size() > 1 || !neighbor_file_names_.empty());
}

bool LASreaderFactory::has_area() const {
  return settings_.inside_tile || settings_.inside_circle || settings_.inside_rectangle;
}

bool LASreaderFactory::is_pipe_input() const {
  return file_names_.empty() && settings_.from_stdin;
}

void LASreaderFactory::set_scale_factor(const double* scale_factor) {
  if (scale_factor == nullptr) {
    settings_.scale_factor.reset();
  } else {
    settings_.scale_factor =
        std::array<double, 3>{scale_factor[0], scale_factor[1], scale_factor[2]};
  }
}

void LASreaderFactory::set_offset(const double* offset) {
  if (offset == nullptr) {
    settings_.offset.reset();
  } else {
    settings_.offset = std::array<double, 3>{offset[0], offset[1], offset[2]};
  }
}

void LASreaderFactory::set_parse_string(const char* parse_string) {
  if (parse_string == nullptr) {
    settings_.parse_string.reset();
  } else {
    settings_.parse_string = parse_string;
  }
}

void LASreaderFactory::set_filter(std::unique_ptr<LASfilter> filter) {
  filter_ = std::move(filter);
}

void LASreaderFactory::set_transform(std::unique_ptr<LAStransform> transform) {
  transform_ = std::move(transform);
}

void LASreaderFactory::set_inside_tile(float ll_x, float ll_y, float size) {
  settings_.inside_tile = std::array<float, 3>{ll_x, ll_y, size};
}

void LASreaderFactory::set_inside_circle(double center_x, double center_y, double radius) {
  settings_.inside_circle = std::array<double, 3>{center_x, center_y, radius};
}

void LASreaderFactory::set_inside_rectangle(double min_x, double min_y, double max_x,
                                            double max_y) {
  settings_.inside_rectangle = std::array<double, 4>{min_x, min_y, max_x, max_y};
}

// The layers the filter and the transform read are decoded whatever the caller asked for,
// and the ignore set tests the class and the flags.
std::uint32_t LASreaderFactory::decoding_layers() const {
  std::uint32_t layers = settings_.selective_decoding;
  if (filter_) layers |= filter_->get_selective_decoding();
  if (transform_) layers |= transform_->get_selective_decoding();
  if (ignore_) layers |= kDecompressClassification | kDecompressFlags;
  return layers;
}

// A reader whose points are stored or passed on to standard output as they are read must
// decode all of them.
std::uint32_t LASreaderFactory::opening_layers(bool stored) const {
  return stored || settings_.pipe_on ? kDecompressAll : decoding_layers();
}

// ---------------------------------------------------------------------------------------
// Opening

void LASreaderFactory::reset_filter_and_transform() {
  if (filter_) filter_->reset();
  if (transform_) transform_->reset();
}

std::unique_ptr<LASreader> LASreaderFactory::open(const char* other_file_name,
                                                  bool reset_after_other) {
  reset_filter_and_transform();
  if (!file_names_.empty() || other_file_name != nullptr) {
    if (other_file_name == nullptr && next_file_index_ >= file_names_.size()) return nullptr;
    // A new input: the reader of a piped one opened before is no longer reopened.
    piped_reader_ = nullptr;
    if (other_file_name == nullptr) {
      if (settings_.merged && (file_names_.size() > 1 || file_names_.has_IDs())) {
        // The merged reader takes the whole list at once.
        next_file_index_ = static_cast<std::uint32_t>(file_names_.size());
        return open_merged();
      }
    }
    if (has_buffer()) {
      if (other_file_name != nullptr) {
        if (reset_after_other) next_file_index_ = 0;
        return open_buffered(other_file_name);
      }
      return open_buffered(file_names_[next_file_index_++].name);
    }
    std::string name;
    if (other_file_name != nullptr) {
      name = other_file_name;
      if (reset_after_other) next_file_index_ = 0;
    } else {
      name = file_names_[next_file_index_++].name;
    }
    return open_file(name);
  }
  if (!settings_.from_stdin) return nullptr;
  piped_reader_ = nullptr;
  return open_standard_input();
}

std::unique_ptr<LASreader> LASreaderFactory::open_file(const std::string& file_name) {
  file_name_ = file_name;
  file_source_ID_.reset();
  // With the defaults the first file is flightline 1, the second 2, ...
  std::uint16_t flightline = 0;
  if (settings_.files_are_flightlines != 0) {
    const std::int64_t number = static_cast<std::int64_t>(settings_.files_are_flightlines) +
                                next_file_index_ + settings_.files_are_flightlines_index;
    flightline = static_cast<std::uint16_t>(number & 0xFFFF);
    if (transform_) transform_->set_point_source(flightline);
  }

  const InputFormatRow& format = input_format_of(file_name);
  if (format.open == nullptr) {
    refuse_format(format, file_name);
    return nullptr;
  }
  const InputKind kind = input_kind(file_name);
  if (kind == InputKind::kRefused) return nullptr;
  const bool las = format.format == InputFormat::kLAS;
  // A piped LAS or PKZ stream is kept as it arrived and read again; any other input read
  // once, and any input with `stored`, is stored as its points pass.
  const bool piped_las = las && kind == InputKind::kOnce;
  const bool stored = !piped_las && (settings_.stored || kind == InputKind::kOnce);
  LASreaderSettings opening = settings_;
  opening.selective_decoding = opening_layers(stored);
  std::unique_ptr<LASreader> reader =
      piped_las ? open_fifo_las(opening, file_name) : format.open(opening, file_name);
  if (!reader) {
    std::fprintf(stderr, "ERROR: cannot open %s with file name '%s'\n", format.reader,
                 file_name.c_str());
    return nullptr;
  }
  if (las) attach_spatial_index(*reader, file_name);
  if (settings_.files_are_flightlines != 0) {
    reader->header.file_source_ID = flightline;
    file_source_ID_ = flightline;
  } else if (las && settings_.apply_file_source_ID && transform_) {
    transform_->set_point_source(reader->header.file_source_ID);
  }
  attach_filter_transform_ignore(*reader);
  apply_area(*reader, las);
  return wrap(std::move(reader), format.reader, false, kind == InputKind::kOnce && !piped_las,
              piped_las);
}

std::unique_ptr<LASreader> LASreaderFactory::open_standard_input() {
  // Standard input can be read once only.
  settings_.from_stdin = false;
  settings_.fill_header = true;
  file_name_.reset();
  file_source_ID_.reset();
  if (settings_.itxt) {
    std::unique_ptr<LASreader> text = las_text_open::open_reader(settings_, "");
    if (!text) {
      std::fprintf(stderr, "ERROR: cannot open lasreadertxt with file name '%s'\n", "stdin");
      return nullptr;
    }
    attach_filter_transform_ignore(*text);
    apply_area(*text, false);
    return wrap(std::move(text), "lasreadertxt", true);
  }
  std::unique_ptr<LASreaderLAS> reader = make_las_reader(settings_);
  if (!open_piped_las(*reader, stdin, false, opening_layers(false))) {
    std::fprintf(stderr, "ERROR: cannot open lasreaderlas from stdin \n");
    return nullptr;
  }
  if (settings_.apply_file_source_ID && transform_) {
    transform_->set_point_source(reader->header.file_source_ID);
  }
  attach_filter_transform_ignore(*reader);
  apply_area(*reader, true);
  return wrap(std::move(reader), "lasreaderlas", true, false, true);
}

// A FIFO named as an input: its LAS or PKZ stream is read as piped input is.
std::unique_ptr<LASreader> LASreaderFactory::open_fifo_las(const LASreaderSettings& opening,
                                                           const std::string& file_name) {
  std::FILE* file = std::fopen(file_name.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "ERROR: cannot open file '%s' for read: %s\n", file_name.c_str(),
                 std::strerror(errno));
    return nullptr;
  }
  std::unique_ptr<LASreaderLAS> reader = make_las_reader(opening);
  if (!open_piped_las(*reader, file, true, opening.selective_decoding)) return nullptr;
  return reader;
}

// A ".lax" spatial index beside the file (it replaces one stored inside the file); areas
// then read only the runs of points it names. An index that does not read is dropped, and
// one that turns out stale is let go by the reader. Either is left out when the file is
// opened again (the second pass), which would only repeat its messages; a sound one is not
// checked again for the same area.
void LASreaderFactory::attach_spatial_index(LASreader& reader, const std::string& file_name) {
  if (reader.index_refused()) {
    // Reopened: what the reader refused in the first pass (also an index inside the file).
    reader.attach_index(nullptr);
    return;
  }
  if (index_memory_->refused.count(LASindex::file_name_for(file_name)) != 0) return;
  auto index = std::make_unique<LASindex>();
  index->remember_in(index_memory_);
  if (index->load(file_name.c_str())) reader.attach_index(std::move(index));
}

void LASreaderFactory::attach_filter_transform_ignore(LASreader& reader) {
  reader.set_filter(filter_.get());
  reader.set_transform(transform_.get());
  reader.set_ignore(ignore_.get());
}

// A LAS reader takes one area: the rectangle, else the tile, else the circle. Readers of
// other formats get every area set, in the order tile, circle, rectangle, so the last wins.
void LASreaderFactory::apply_area(LASreader& reader, bool one_area) const {
  const auto& rectangle = settings_.inside_rectangle;
  const auto& tile = settings_.inside_tile;
  const auto& circle = settings_.inside_circle;
  if (one_area) {
    if (rectangle) {
      reader.inside_rectangle((*rectangle)[0], (*rectangle)[1], (*rectangle)[2], (*rectangle)[3]);
    } else if (tile) {
      reader.inside_tile((*tile)[0], (*tile)[1], (*tile)[2]);
    } else if (circle) {
      reader.inside_circle((*circle)[0], (*circle)[1], (*circle)[2]);
    }
    return;
  }
  if (tile) reader.inside_tile((*tile)[0], (*tile)[1], (*tile)[2]);
  if (circle) reader.inside_circle((*circle)[0], (*circle)[1], (*circle)[2]);
  if (rectangle) {
    reader.inside_rectangle((*rectangle)[0], (*rectangle)[1], (*rectangle)[2], (*rectangle)[3]);
  }
}

bool LASreaderFactory::reopen(LASreader* reader, bool remain_buffered) {
  if (reader == nullptr) {
    std::fprintf(stderr, "ERROR: pointer to LASreader is NULL\n");
    return false;
  }
  reader->close_reader(true);
  reset_filter_and_transform();
  bool wrapped = false;
  bool reopened = reopen_wrapped(reader, remain_buffered, wrapped);
  if (wrapped) return reopened;
  reopened = reopen_piped(reader, wrapped);
  if (wrapped) return reopened;
  if (!file_name_) {
    std::fprintf(stderr, "ERROR: no lasreader input specified\n");
    return false;
  }
  const InputFormatRow& format = input_format_of(*file_name_);
  LASreaderSettings opening = settings_;
  opening.selective_decoding = decoding_layers();
  if (format.reopen == nullptr || !format.reopen(*reader, opening, *file_name_)) {
    std::fprintf(stderr, "ERROR: cannot reopen %s with file name '%s'\n", format.reader,
                 file_name_->c_str());
    return false;
  }
  // Opening read the header afresh: the index, the flightline number and the area go on
  // it again.
  if (format.format == InputFormat::kLAS) attach_spatial_index(*reader, *file_name_);
  if (file_source_ID_) reader->header.file_source_ID = *file_source_ID_;
  if (has_area()) {
    reader->clear_area();
    apply_area(*reader, true);
  }
  return true;
}
