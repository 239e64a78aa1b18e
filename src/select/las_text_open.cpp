#include "select/las_text_open.hpp"

#include <unistd.h>

#include <cstdio>

#include "formats/las_reader_txt.hpp"
#include "formats/las_writer_txt.hpp"
#include "select/las_reader_factory.hpp"
#include "select/las_writer_factory.hpp"

namespace las_text_open {

namespace {

std::unique_ptr<LASreaderTXT> make_reader(const LASreaderSettings& settings) {
  const auto& scale = settings.scale_factor;
  const auto& offset = settings.offset;
  if (scale && offset) {
    return std::make_unique<LASreaderTXTrescalereoffset>((*scale)[0], (*scale)[1], (*scale)[2],
                                                         (*offset)[0], (*offset)[1], (*offset)[2]);
  }
  if (scale) return std::make_unique<LASreaderTXTrescale>((*scale)[0], (*scale)[1], (*scale)[2]);
  if (offset) {
    return std::make_unique<LASreaderTXTreoffset>((*offset)[0], (*offset)[1], (*offset)[2]);
  }
  return std::make_unique<LASreaderTXT>();
}

// The reader with the settings' dialect, intensity and scan-angle conventions and
// attributes; null after the reader's message.
std::unique_ptr<LASreaderTXT> configured_reader(const LASreaderSettings& settings) {
  std::unique_ptr<LASreaderTXT> reader = make_reader(settings);
  // The dialects set their intensity conventions first; options given change them after.
  if (settings.ipts) reader->set_pts(true);
  if (settings.iptx) reader->set_ptx(true);
  if (settings.translate_intensity != 0.0f) {
    reader->set_translate_intensity(settings.translate_intensity);
  }
  if (settings.scale_intensity != 1.0f) reader->set_scale_intensity(settings.scale_intensity);
  if (settings.translate_scan_angle != 0.0f) {
    reader->set_translate_scan_angle(settings.translate_scan_angle);
  }
  if (settings.scale_scan_angle != 1.0f) reader->set_scale_scan_angle(settings.scale_scan_angle);
  for (const LAStextAttribute& attribute : settings.attributes) {
    if (!reader->add_attribute(attribute.data_type, attribute.name.c_str(),
                               attribute.description.c_str(), attribute.scale, attribute.offset,
                               attribute.pre_scale, attribute.pre_offset, attribute.no_data)) {
      return nullptr;
    }
  }
  return reader;
}

}  // namespace

std::unique_ptr<LASreader> open_reader(const LASreaderSettings& settings,
                                       const std::string& file_name) {
  std::unique_ptr<LASreaderTXT> reader = configured_reader(settings);
  if (!reader) return nullptr;
  const char* parse = settings.parse_string ? settings.parse_string->c_str() : nullptr;
  const bool opened =
      file_name.empty() ? reader->open_descriptor(STDIN_FILENO, nullptr, settings.point_type, parse,
                                                  settings.skip_lines, settings.fill_header)
                        : reader->open(file_name.c_str(), settings.point_type, parse,
                                       settings.skip_lines, settings.fill_header);
  if (!opened) return nullptr;
  return reader;
}

std::unique_ptr<LASreader> open_reader_on(const LASreaderSettings& settings, int descriptor,
                                          const std::string& file_name,
                                          std::string_view already_read) {
  std::unique_ptr<LASreaderTXT> reader = configured_reader(settings);
  if (!reader) return nullptr;
  const char* parse = settings.parse_string ? settings.parse_string->c_str() : nullptr;
  // A populate pass would open the name again, which a FIFO answers with nothing (or
  // waits for a writer).
  if (!reader->open_descriptor(descriptor, file_name.empty() ? nullptr : file_name.c_str(),
                               settings.point_type, parse, settings.skip_lines, false,
                               already_read)) {
    return nullptr;
  }
  return reader;
}

bool reopen_reader(LASreader& reader, const LASreaderSettings& /*settings*/,
                   const std::string& file_name) {
  auto* text = dynamic_cast<LASreaderTXT*>(&reader);
  return text != nullptr && text->reopen(file_name.c_str());
}

std::unique_ptr<LASwriter> open_writer(const LASwriterSettings& settings, const LASheader& header,
                                       const std::string& file_name) {
  auto writer = std::make_unique<LASwriterTXT>();
  writer->set_pts(settings.opts);
  writer->set_ptx(settings.optx);
  if (settings.scale_rgb != 1.0f) writer->set_scale_rgb(settings.scale_rgb);
  const char* parse = settings.parse_string ? settings.parse_string->c_str() : nullptr;
  const char* separator = settings.separator ? settings.separator->c_str() : nullptr;
  const bool opened = file_name.empty()
                          ? writer->open_file(stdout, &header, parse, separator)
                          : writer->open(file_name.c_str(), &header, parse, separator);
  if (!opened) return nullptr;
  return writer;
}

}  // namespace las_text_open
