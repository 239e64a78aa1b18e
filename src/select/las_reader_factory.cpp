#include "select/las_reader_factory.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "index/las_index.hpp"
#include "select/input_signature.hpp"

namespace {

using input_formats::Format;
using input_formats::Row;

// Inputs are read twice (and reopened for it). A FIFO delivers its bytes once, so it is read
// as piped input is. A folder is refused, and so are devices and sockets: a character
// device is an endless stream (/dev/zero, /dev/urandom) or a terminal, and a disk read as
// points is never what was meant. A name that cannot be looked at is left to the reader,
// whose message names the system's reason. Links are followed: a link to a device is a
// device.
enum class InputKind { kFile, kOnce, kRefused };

const char* refused_kind(mode_t mode) {
  if (S_ISDIR(mode)) return std::strerror(EISDIR);
  if (S_ISCHR(mode)) return "it is a character device, not a point file";
  if (S_ISBLK(mode)) return "it is a block device, not a point file";
  if (S_ISSOCK(mode)) return "it is a socket, not a point file";
  return nullptr;
}

// A refusal is printed, and its reason kept in `why` for the caller's report.
InputKind input_kind(const std::string& file_name, std::string& why) {
  struct stat info {};
  if (::stat(file_name.c_str(), &info) != 0) return InputKind::kFile;
  if (const char* reason = refused_kind(info.st_mode)) {
    std::fprintf(stderr, "ERROR: cannot open file '%s' for read: %s\n", file_name.c_str(), reason);
    why = reason;
    return InputKind::kRefused;
  }
  return S_ISREG(info.st_mode) ? InputKind::kFile : InputKind::kOnce;
}

void refuse_format(const Row& row, const std::string& file_name) {
  std::fprintf(stderr, "ERROR: reading %s files ('%s') is not supported in this version\n",
               row.description, file_name.c_str());
}

// The format of the file `file_name` by its first bytes and its name (see
// input_formats::choose); a file that cannot be opened here goes by its name, and its
// reader says why it does not open. Null after the refusal's message.
const Row* format_of_file(const std::string& file_name, bool text_asked, std::string& why) {
  if (input_formats::is_compressed_text(file_name)) return &input_formats::row_by_name(file_name);
  std::uint8_t head[input_signature::kHeadSize];
  std::FILE* file = std::fopen(file_name.c_str(), "rb");
  if (file == nullptr) return &input_formats::row_by_name(file_name);
  const std::size_t size = std::fread(head, 1, sizeof(head), file);
  std::fclose(file);
  const Row* row =
      input_formats::choose(file_name, input_signature::classify(head, size), text_asked);
  if (row == nullptr) {
    why = "not a point file this tool reads: its first bytes are " +
          input_signature::shown(head, size);
    std::fprintf(stderr, "ERROR: '%s' is %s\n", file_name.c_str(), why.c_str());
  }
  return row;
}

}  // namespace

bool LASreaderFactory::readable_part(const std::string& file_name) const {
  std::string why;
  switch (input_kind(file_name, why)) {
    case InputKind::kFile:
      return true;
    case InputKind::kOnce:
      std::fprintf(stderr,
                   "ERROR: cannot read the FIFO '%s' with '-merged' or '-buffered', which read "
                   "their files again by name\n",
                   file_name.c_str());
      return false;
    case InputKind::kRefused:
      break;
  }
  return false;
}

std::unique_ptr<LASreader> LASreaderFactory::open_part(const std::string& file_name,
                                                       const std::array<double, 3>* scale,
                                                       const std::array<double, 3>* offset) const {
  if (!readable_part(file_name)) return nullptr;
  std::string why;
  const Row* row = format_of_file(file_name, text_asked(), why);
  if (row == nullptr) return nullptr;
  if (row->open == nullptr) {
    refuse_format(*row, file_name);
    return nullptr;
  }
  LASreaderSettings settings = settings_;
  settings.selective_decoding = decoding_layers();
  if (scale) settings.scale_factor = *scale;
  if (offset) settings.offset = *offset;
  if (scale || offset) settings.auto_reoffset = false;
  std::unique_ptr<LASreader> reader = row->open(settings, file_name);
  if (!reader) {
    std::fprintf(stderr, "ERROR: cannot open %s with file name '%s'\n", row->reader,
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
  refusal_.clear();
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
  opened_row_ = nullptr;
  // With the defaults the first file is flightline 1, the second 2, ...
  std::uint16_t flightline = 0;
  if (settings_.files_are_flightlines != 0) {
    const std::int64_t number = static_cast<std::int64_t>(settings_.files_are_flightlines) +
                                next_file_index_ + settings_.files_are_flightlines_index;
    flightline = static_cast<std::uint16_t>(number & 0xFFFF);
    if (transform_) transform_->set_point_source(flightline);
  }

  const InputKind kind = input_kind(file_name, refusal_);
  if (kind == InputKind::kRefused) return nullptr;
  // A compressed text arrives through its program, which reads the FIFO itself.
  const bool arriving = kind == InputKind::kOnce && !input_formats::is_compressed_text(file_name);
  OpenedInput opened =
      arriving ? open_fifo(file_name) : open_named(file_name, kind == InputKind::kOnce);
  if (!opened.reader) {
    if (opened.row != nullptr) {
      std::fprintf(stderr, "ERROR: cannot open %s with file name '%s'\n", opened.row->reader,
                   file_name.c_str());
    }
    return nullptr;
  }
  opened_row_ = opened.row;
  std::unique_ptr<LASreader> reader = std::move(opened.reader);
  const bool las = opened.row->format == Format::kLAS;
  if (las) attach_spatial_index(*reader, file_name);
  if (settings_.files_are_flightlines != 0) {
    reader->header.file_source_ID = flightline;
    file_source_ID_ = flightline;
  } else if (las && settings_.apply_file_source_ID && transform_) {
    transform_->set_point_source(reader->header.file_source_ID);
  }
  attach_filter_transform_ignore(*reader);
  apply_area(*reader, las);
  // An input read once, and any input with `stored`, is stored as its points pass, unless
  // its own bytes are kept and read again.
  return wrap(std::move(reader), opened.row->reader, false,
              kind == InputKind::kOnce && !opened.kept, opened.kept);
}

LASreaderFactory::OpenedInput LASreaderFactory::open_named(const std::string& file_name,
                                                           bool read_once) {
  const Row* row = format_of_file(file_name, text_asked(), refusal_);
  if (row == nullptr) return {};
  if (row->open == nullptr) {
    refuse_format(*row, file_name);
    return {};
  }
  LASreaderSettings opening = settings_;
  opening.selective_decoding = opening_layers(settings_.stored || read_once);
  return {row->open(opening, file_name), row, false};
}

std::unique_ptr<LASreader> LASreaderFactory::open_standard_input() {
  // Standard input can be read once only.
  settings_.from_stdin = false;
  settings_.fill_header = true;
  file_name_.reset();
  file_source_ID_.reset();
  opened_row_ = nullptr;
  release_piped();
  OpenedInput opened = open_arriving("", STDIN_FILENO);
  if (!opened.reader) {
    if (opened.row != nullptr && opened.row->format == Format::kTXT) {
      std::fprintf(stderr, "ERROR: cannot open lasreadertxt with file name '%s'\n", "stdin");
    } else if (opened.row != nullptr) {
      std::fprintf(stderr, "ERROR: cannot open %s from stdin \n", opened.row->reader);
    }
    return nullptr;
  }
  std::unique_ptr<LASreader> reader = std::move(opened.reader);
  const bool las = opened.row->format == Format::kLAS;
  if (las && settings_.apply_file_source_ID && transform_) {
    transform_->set_point_source(reader->header.file_source_ID);
  }
  attach_filter_transform_ignore(*reader);
  apply_area(*reader, las);
  return wrap(std::move(reader), opened.row->reader, true, !opened.kept, opened.kept);
}

bool LASreaderFactory::text_asked() const {
  return settings_.itxt || settings_.ipts || settings_.iptx || settings_.parse_string.has_value();
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
  // The format chosen at the open (by the file's bytes), not one guessed from the name.
  const Row& format = opened_row_ ? *opened_row_ : input_formats::row_by_name(*file_name_);
  LASreaderSettings opening = settings_;
  opening.selective_decoding = decoding_layers();
  if (format.reopen == nullptr || !format.reopen(*reader, opening, *file_name_)) {
    std::fprintf(stderr, "ERROR: cannot reopen %s with file name '%s'\n", format.reader,
                 file_name_->c_str());
    return false;
  }
  // Opening read the header afresh: the index, the flightline number and the area go on
  // it again.
  if (format.format == Format::kLAS) attach_spatial_index(*reader, *file_name_);
  if (file_source_ID_) reader->header.file_source_ID = *file_source_ID_;
  if (has_area()) {
    reader->clear_area();
    apply_area(*reader, true);
  }
  return true;
}
