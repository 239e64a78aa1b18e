#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "las/las_reader.hpp"
#include "las/las_writer.hpp"

struct LASreaderSettings;
struct LASwriterSettings;

// The factories' ends of the text formats: readers and writers configured from the options.
namespace las_text_open {

// A text reader (the rescale / reoffset form the settings ask for) opened on `file_name`, or
// on standard input when `file_name` is empty. Null after the reader's message.
std::unique_ptr<LASreader> open_reader(const LASreaderSettings& settings,
                                       const std::string& file_name);
// A text reader on `descriptor` (borrowed: a pipe or a FIFO, read once, without a populate
// pass) whose first bytes, taken from it before, are `already_read`; `file_name` names it in
// messages (empty: standard input). Null after the reader's message.
std::unique_ptr<LASreader> open_reader_on(const LASreaderSettings& settings, int descriptor,
                                          const std::string& file_name,
                                          std::string_view already_read);
// Opens a reader that open_reader returned at its first point again; false when it is no
// text reader or does not open.
bool reopen_reader(LASreader& reader, const LASreaderSettings& settings,
                   const std::string& file_name);

// A text writer for `header` (borrowed) on `file_name`, or on standard output when it is
// empty. Null after the writer's message.
std::unique_ptr<LASwriter> open_writer(const LASwriterSettings& settings, const LASheader& header,
                                       const std::string& file_name);

}  // namespace las_text_open
