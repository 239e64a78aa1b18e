#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "las/las_reader.hpp"
#include "select/input_signature.hpp"

class ByteStreamIn;
class LASreaderLAS;
struct LASreaderSettings;

// The input formats of the reader factory as a table: the reader each format takes, how it
// is opened and reopened, and the choice of the format of one input from its first bytes
// and its name. Internal to the factory's files.
namespace input_formats {

enum class Format { kLAS, kBIN, kSHP, kASC, kBIL, kDTM, kPLY, kQFIT, kTXT };

// A format's reader is opened and reopened through its row; a row without `open` is a
// format this version recognises but does not read, and the factory refuses it naming
// `description`.
struct Row {
  Format format;
  const char* markers[4];   // extension texts, lower and upper case
  const char* reader;       // the reader class as messages name it
  const char* description;  // the format as the refusal names it
  // Null after the reader's own message when the file does not open.
  std::unique_ptr<LASreader> (*open)(const LASreaderSettings&, const std::string& file_name);
  bool (*reopen)(LASreader&, const LASreaderSettings&, const std::string& file_name);
  // The reader on the kept bytes of the input `file_name` (empty: standard input) that
  // arrives once (`stream` borrowed, it must outlive the reader); null for text, whose
  // reader reads the pipe itself.
  std::unique_ptr<LASreader> (*open_stream)(const LASreaderSettings&, ByteStreamIn& stream,
                                            const std::string& file_name);
};

const Row& row_of(Format format);

// The row whose extension text (see the table) the base name of `file_name` holds, tested
// in the table's order; the text row for every other name.
const Row& row_by_name(std::string_view file_name);

// Whether text is read from `file_name` through a decompressing program (".gz", ".zip",
// ".7z", ".rar"): its bytes are the archive's and say nothing of the points in it.
bool is_compressed_text(std::string_view file_name);

// The format of an input named `file_name` whose first bytes hold `content`: a signature
// decides; text is read as text when the user asked for text (`text_asked`), else as the
// name says; bytes that are neither go by the name when it names a binary format (whose
// reader then says what is wrong with them). Null when nothing reads such an input: the
// caller refuses it.
const Row* choose(std::string_view file_name, input_signature::Content content, bool text_asked);

// The LAS reader the settings ask for (converting forms, worker pool).
std::unique_ptr<LASreaderLAS> make_las_reader(const LASreaderSettings& settings);

}  // namespace input_formats
