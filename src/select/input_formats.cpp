#include "select/input_formats.hpp"

#include <climits>
#include <iterator>

#include "formats/format_support.hpp"
#include "formats/las_reader_bin.hpp"
#include "formats/las_reader_qfit.hpp"
#include "formats/las_reader_shp.hpp"
#include "formats/text_format.hpp"
#include "las/las_reader_las.hpp"
#include "select/file_names.hpp"
#include "select/las_reader_factory.hpp"
#include "select/las_text_open.hpp"

namespace input_formats {

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

std::unique_ptr<LASreader> open_las_stream(const LASreaderSettings& settings, ByteStreamIn& stream,
                                           const std::string&) {
  std::unique_ptr<LASreaderLAS> reader = make_las_reader(settings);
  if (!reader->open_stream(&stream, false, settings.selective_decoding)) return nullptr;
  return reader;
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

// The creation date comes from the FIFO, as it would from the file by name.
template <class Plain, class Rescale, class Reoffset, class Both>
std::unique_ptr<LASreader> open_format_stream(const LASreaderSettings& settings,
                                              ByteStreamIn& stream, const std::string& file_name) {
  std::unique_ptr<Plain> reader = make_format_reader<Plain, Rescale, Reoffset, Both>(settings);
  format_support::set_creation_date(reader->header,
                                    file_name.empty() ? nullptr : file_name.c_str());
  if (!reader->open_stream(&stream)) return nullptr;
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

// Tested in this order; the last row takes every other name.
const Row kRows[] = {
    {Format::kLAS,
     {".las", ".pkz", ".LAS", ".PKZ"},
     "lasreaderlas",
     "LAS",
     &open_las,
     &reopen_las,
     &open_las_stream},
    {Format::kBIN,
     {".bin", ".BIN"},
     "lasreaderbin",
     "Terrasolid binary",
     &open_format<LASreaderBIN, LASreaderBINrescale, LASreaderBINreoffset,
                  LASreaderBINrescalereoffset>,
     &reopen_format<LASreaderBIN>,
     &open_format_stream<LASreaderBIN, LASreaderBINrescale, LASreaderBINreoffset,
                         LASreaderBINrescalereoffset>},
    {Format::kSHP,
     {".shp", ".SHP"},
     "lasreadershp",
     "shapefile",
     &open_format<LASreaderSHP, LASreaderSHPrescale, LASreaderSHPreoffset,
                  LASreaderSHPrescalereoffset>,
     &reopen_shp,
     &open_format_stream<LASreaderSHP, LASreaderSHPrescale, LASreaderSHPreoffset,
                         LASreaderSHPrescalereoffset>},
    {Format::kASC, {".asc", ".ASC"}, "lasreaderasc", "ASCII grid", nullptr, nullptr, nullptr},
    {Format::kBIL, {".bil", ".BIL"}, "lasreaderbil", "BIL grid", nullptr, nullptr, nullptr},
    {Format::kDTM, {".dtm", ".DTM"}, "lasreaderdtm", "DTM grid", nullptr, nullptr, nullptr},
    {Format::kPLY, {".ply", ".PLY"}, "lasreaderply", "PLY", nullptr, nullptr, nullptr},
    {Format::kQFIT,
     {".qi", ".QI"},
     "lasreaderqfit",
     "QFIT",
     &open_format<LASreaderQFIT, LASreaderQFITrescale, LASreaderQFITreoffset,
                  LASreaderQFITrescalereoffset>,
     &reopen_format<LASreaderQFIT>,
     &open_format_stream<LASreaderQFIT, LASreaderQFITrescale, LASreaderQFITreoffset,
                         LASreaderQFITrescalereoffset>},
    {Format::kTXT,
     {},
     "lasreadertxt",
     "text",
     &las_text_open::open_reader,
     &las_text_open::reopen_reader,
     nullptr},
};

}  // namespace

std::unique_ptr<LASreaderLAS> make_las_reader(const LASreaderSettings& settings) {
  std::unique_ptr<LASreaderLAS> reader = make_las_reader_variant(settings);
  reader->set_worker_pool(settings.worker_pool);
  return reader;
}

const Row& row_of(Format format) {
  for (const Row& row : kRows) {
    if (row.format == format) return row;
  }
  return kRows[std::size(kRows) - 1];
}

const Row& row_by_name(std::string_view file_name) {
  const std::string_view base = file_name.substr(file_names::base_start(file_name));
  for (const Row& row : kRows) {
    for (const char* marker : row.markers) {
      if (marker != nullptr && base.find(marker) != std::string_view::npos) return row;
    }
  }
  return kRows[std::size(kRows) - 1];
}

bool is_compressed_text(std::string_view file_name) {
  for (const text_format::Decompressor& program : text_format::kDecompressors) {
    const std::string_view suffix = program.suffix;
    if (file_name.size() >= suffix.size() &&
        file_name.substr(file_name.size() - suffix.size()) == suffix) {
      return true;
    }
  }
  return false;
}

const Row* choose(std::string_view file_name, input_signature::Content content, bool text_asked) {
  using input_signature::Content;
  switch (content) {
    case Content::kLAS:
      return &row_of(Format::kLAS);
    case Content::kBIN:
      return &row_of(Format::kBIN);
    case Content::kSHP:
      return &row_of(Format::kSHP);
    case Content::kQFIT:
      return &row_of(Format::kQFIT);
    case Content::kText:
      return text_asked ? &row_of(Format::kTXT) : &row_by_name(file_name);
    case Content::kUnknown:
      break;
  }
  const Row& named = row_by_name(file_name);
  return named.format == Format::kTXT ? nullptr : &named;
}

}  // namespace input_formats
