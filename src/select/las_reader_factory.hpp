#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/las_read_engine.hpp"
#include "filter/las_filter.hpp"
#include "filter/las_transform.hpp"
#include "index/las_index.hpp"
#include "las/las_reader.hpp"
#include "las/las_reader_hooks.hpp"
#include "select/command_options.hpp"
#include "select/file_identity.hpp"
#include "select/file_names.hpp"
#include "select/input_formats.hpp"
#include "select/las_ignore.hpp"
#include "stream/bytestream_piped.hpp"

// One attribute the text reader adds to every point (-iadd_extra, -iadd_attribute).
class ByteStreamIn;
class LASreaderLAS;
class WorkerPool;

struct LAStextAttribute {
  std::int32_t data_type = 0;
  std::string name;
  std::string description;
  double scale = 1.0;
  double offset = 0.0;
  double pre_scale = 1.0;
  double pre_offset = 0.0;
  double no_data = 2e+307;
};

// Everything the input options set, by the names the options document. Readers of formats
// other than LAS take their settings from here too.
struct LASreaderSettings {
  std::uint32_t input_buffer_size = 262144;  // bytes of the input stream buffer
  bool merged = false;                       // all listed files as one stream
  bool stored = false;                       // keep the points in memory for another pass
  float buffer_size = 0.0f;                  // 0: no buffer of points from neighbouring files
  std::optional<std::string> temp_name_base;
  bool comma_not_point = false;
  // New scale factors (a component of 0 keeps that axis) and new offsets.
  std::optional<std::array<double, 3>> scale_factor;
  std::optional<std::array<double, 3>> offset;
  bool auto_reoffset = false;
  std::int32_t files_are_flightlines = 0;  // start value of the per-file point source; 0 off
  std::int32_t files_are_flightlines_index = -1;
  bool apply_file_source_ID = false;
  bool itxt = false;  // text from standard input
  bool ipts = false;
  bool iptx = false;
  float translate_intensity = 0.0f;
  float scale_intensity = 1.0f;
  float translate_scan_angle = 0.0f;
  float scale_scan_angle = 1.0f;
  std::vector<LAStextAttribute> attributes;  // at most kMaxAttributes
  std::uint8_t point_type = 0;
  std::optional<std::string> parse_string;
  std::uint32_t skip_lines = 0;
  bool fill_header = true;  // readers of incomplete headers scan the file first
  bool pipe_on = false;
  bool from_stdin = false;
  bool unique = false;  // refuse names already listed (affects names added later)
  std::uint32_t selective_decoding = kDecompressAll;
  WorkerPool* worker_pool = nullptr;  // borrowed: chunks decoded in parallel; null: alone
  std::optional<std::array<float, 3>> inside_tile;        // ll_x, ll_y, size
  std::optional<std::array<double, 3>> inside_circle;     // center_x, center_y, radius
  std::optional<std::array<double, 4>> inside_rectangle;  // min_x, min_y, max_x, max_y

  static constexpr std::size_t kMaxAttributes = 32;
};

// Turns the input options of a command line into settings and a list of input files, and
// opens one LASreader after another for a tool's run loop.
//
// `parse` consumes its own options by blanking their entries (leaving everything else for
// the other parsers and the tool) and builds the ignore set from the "-ignore_" options.
// `open` then delivers a reader per listed file (or one for standard input) until `active`
// turns false; `reopen` rewinds a reader for another pass over the same file.
//
// Ownership: the factory owns its names, settings, filter, transform and ignore set. Readers
// it returns belong to the caller but borrow the filter, transform and ignore set, so the
// factory must outlive every reader it opened.
//
// The format of an input comes from its first bytes: a LAS (or PKZ), Terrasolid binary,
// shapefile or QFIT signature chooses that reader whatever the name; otherwise the extension
// decides, and text is read where the name (or "-itxt", "-ipts", "-iptx", "-iparse") asks
// for text and the bytes look like text. An input that is neither, and a character or block
// device, is refused in one line before anything else of it is read.
//
// Failures print one "ERROR: " line on stderr and return false or null. Formats and reader
// wrappers that this version does not build (Terrasolid binary, QFIT, shapefile,
// ASCII grid, BIL, DTM and PLY files; merged, buffered, stored and pipe-on reading) are
// still recognised by option and extension, and `open` refuses them with one line that
// names the format or the option. They fail at `open` rather than at `parse` because only
// then is it known whether they are needed (`-merged` with a single file reads it plainly).
class LASreaderFactory {
 public:
  LASreaderFactory();
  ~LASreaderFactory();
  LASreaderFactory(const LASreaderFactory&) = delete;
  LASreaderFactory& operator=(const LASreaderFactory&) = delete;

  // Consumes the input options of argv[1 ... argc-1]. `parse_ignore`: the tool accepts
  // "-ignore_" options. False after an error message; the settings made so far remain.
  bool parse(int argc, char* argv[], bool parse_ignore = false);
  // Prints the reader usage lines ("-h" prints those of the ignore set first).
  static void usage();
  // Every option of the table, by section, for the help of -h input and the manual page.
  static std::vector<command_options::OptionSection> option_sections();

  // The reader of the next listed file, or of `other_file_name` (then, with
  // `reset_after_other`, the list restarts at its first entry), or of standard input with
  // "-stdin". Null when the inputs are used up or after an error message.
  std::unique_ptr<LASreader> open(const char* other_file_name = nullptr,
                                  bool reset_after_other = true);
  // Closes `reader` (a reader `open` returned for the current input) and opens it again at
  // its first point, with the same conversions, flightline number and area. False after
  // an error message.
  bool reopen(LASreader* reader, bool remain_buffered = true);

  // The next `open` delivers listed input `index` (numbered as that file, for the
  // flightline options), so that a tool can open the files of one list in any order, each
  // through a factory of its own.
  void select_file(std::uint32_t index) { next_file_index_ = index; }
  // The listed input that the next `open` takes on its own (not merged with others), or
  // null (standard input, merged files, the list used up): a tool may refuse it unread.
  const char* next_single_file() const;
  // Passes over that input without opening it (it becomes the input taken last); false
  // when there is none.
  bool skip_single_file();
  // Whether `open` has another input to deliver.
  bool active() const;
  // The input opened last, else the first listed one, else null.
  const char* get_file_name() const;
  // Listed input `index` (null beyond the list).
  const char* get_file_name(std::uint32_t index) const;
  std::uint32_t get_file_count() const { return static_cast<std::uint32_t>(file_names_.size()); }
  std::uint32_t get_neighbor_file_count() const {
    return static_cast<std::uint32_t>(neighbor_file_names_.size());
  }
  const LASfileList& file_list() const { return file_names_; }
  // Why the input opened last was refused before any reader tried it (a device, bytes of
  // no point format), as its "ERROR: " line said; empty otherwise.
  const std::string& refusal() const { return refusal_; }
  // Input names with wildcards that matched no file (each was named in an "ERROR: " line).
  std::uint32_t unmatched_wildcards() const { return unmatched_wildcards_; }
  const LASfileList& neighbor_file_list() const { return neighbor_file_names_; }
  // The list files read ("-lof", "-neighbors_lof"), in the order given.
  const std::vector<std::string>& list_files() const { return list_files_; }
  // A point buffer from other files is in use ("-buffered" with more than one file or with
  // neighbours).
  bool has_buffer() const;
  // "-inside", "-inside_tile" or "-inside_circle" was given.
  bool has_area() const;
  // Input comes from standard input and not from files.
  bool is_pipe_input() const;
  bool is_merged() const { return settings_.merged; }
  LASfilter* get_filter() const { return filter_.get(); }
  LAStransform* get_transform() const { return transform_.get(); }
  LASignore* get_ignore() const { return ignore_.get(); }
  const LASreaderSettings& settings() const { return settings_; }

  // A piped LAS or PKZ input (standard input, a FIFO) is kept as it arrived, so that the
  // second pass reads the bytes the first one read, from a seekable stream as a file by
  // name is read (the extended records after the points included):
  // - up to this many bytes in memory, in blocks (at most the input's size plus a block);
  // - a longer input in an unnamed temporary file (bytestream_piped.hpp); one whose header
  //   announces more goes there at once, else the bytes held so far go first.
  // Measured on the 20-million-point type 1 tile (560 MB as LAS, 70 MB as PKZ) on a busy
  // 2-core machine, median of 3, against the file by name: compressing the points into
  // memory as they pass (the stored reader) took 6.7x the time, with 86 MB peak, and could
  // not keep the extended records of a LAS 1.4 stream; holding all raw bytes in memory
  // took about 4x (fresh memory is dear: most of it is the kernel handing out pages) with
  // 570 MB peak; the temporary file takes 1.4x with the peak of the file by name (19 MB),
  // the page cache holding the file. A PKZ stream goes the same way. "-piped_memory" sets
  // the limit in MB (0: every piped input goes to the file). Nothing is kept before the
  // first kHeadSize bytes showed a signature: garbage, a stream of zeros or text never
  // reaches the temporary file. Piped Terrasolid binary, shapefile and QFIT inputs are kept
  // the same way (their readers seek) and stored as their points pass. The reader `open`
  // returns for a piped input borrows these bytes (or, for text, the FIFO it reads): it must
  // not outlive the factory or the next piped input.
  static constexpr std::int64_t kPipedMemoryLimit = std::int64_t{64} << 20;
  void set_piped_memory_limit(std::int64_t bytes) { piped_memory_limit_ = bytes; }
  // Bytes of the piped input held in memory, the memory they take, and the bytes in the
  // temporary file (0 when none).
  std::int64_t piped_bytes_held() const;
  std::int64_t piped_allocation() const;
  std::int64_t piped_bytes_spilled() const { return piped_spilled_; }

  // Adds a name, or every file a wildcard ("*", "?" in the last path component) matches,
  // sorted. A name without wildcards is added as given, so that a missing file is reported
  // when it is opened. With `unique` a name already listed is skipped. False when nothing
  // was added.
  bool add_file_name(const char* file_name, bool unique = false);
  bool add_file_name(const char* file_name, std::uint32_t ID, bool unique = false);
  bool add_file_name(const char* file_name, std::uint32_t ID, const LASfileBounds& bounds,
                     bool unique = false);
  // Reads a list file ("-lof"); false (after its message) when it cannot be opened.
  bool add_list_of_files(const char* list_file, bool unique = false);
  // Neighbour files for the buffered reader: wildcards expanded, never unique.
  bool add_neighbor_file_name(const char* file_name);
  bool add_neighbor_list_of_files(const char* list_file);

  void set_merged(bool merged) { settings_.merged = merged; }
  void set_stored(bool stored) { settings_.stored = stored; }
  void set_fill_header(bool fill_header) { settings_.fill_header = fill_header; }
  void set_pipe_on(bool pipe_on) { settings_.pipe_on = pipe_on; }
  void set_buffer_size(float buffer_size) { settings_.buffer_size = buffer_size; }
  void set_input_buffer_size(std::uint32_t size) { settings_.input_buffer_size = size; }
  void set_auto_reoffset(bool auto_reoffset) { settings_.auto_reoffset = auto_reoffset; }
  void set_apply_file_source_ID(bool apply) { settings_.apply_file_source_ID = apply; }
  void set_files_are_flightlines(std::int32_t start) { settings_.files_are_flightlines = start; }
  void set_files_are_flightlines_index(std::int32_t index) {
    settings_.files_are_flightlines_index = index;
  }
  // A triple, or null to remove the setting.
  void set_scale_factor(const double* scale_factor);
  void set_offset(const double* offset);
  void set_parse_string(const char* parse_string);
  void set_skip_lines(std::uint32_t skip_lines) { settings_.skip_lines = skip_lines; }
  void set_translate_intensity(float value) { settings_.translate_intensity = value; }
  void set_scale_intensity(float value) { settings_.scale_intensity = value; }
  void set_translate_scan_angle(float value) { settings_.translate_scan_angle = value; }
  void set_scale_scan_angle(float value) { settings_.scale_scan_angle = value; }
  // The layers a compressed reader decodes (kDecompress... bits): these, together with
  // those the filter, the transform and the ignore set read (see decoding_layers).
  void set_selective_decoding(std::uint32_t layers) { settings_.selective_decoding = layers; }
  // Borrowed workers for the LAS and PKZ readers of later opens; null decodes alone.
  void set_worker_pool(WorkerPool* pool) { settings_.worker_pool = pool; }
  std::uint32_t decoding_layers() const;
  // The factory takes the filter / transform over (null removes it).
  void set_filter(std::unique_ptr<LASfilter> filter);
  void set_transform(std::unique_ptr<LAStransform> transform);
  void set_inside_tile(float ll_x, float ll_y, float size);
  void set_inside_circle(double center_x, double center_y, double radius);
  void set_inside_rectangle(double min_x, double min_y, double max_x, double max_y);

 private:
  static const command_options::Option<LASreaderFactory> kOptions[];

  // Option handlers (see the option table).
  template <bool LASreaderSettings::*flag, bool value>
  bool set_flag(const char* option, int& index, int argc, char* argv[]);
  bool parse_input(const char* option, int& index, int argc, char* argv[]);
  bool parse_add_attribute(const char* option, int& index, int argc, char* argv[]);
  bool parse_parse_string(const char* option, int& index, int argc, char* argv[]);
  bool parse_skip(const char* option, int& index, int argc, char* argv[]);
  bool parse_input_buffer(const char* option, int& index, int argc, char* argv[]);
  bool parse_piped_memory(const char* option, int& index, int argc, char* argv[]);
  bool parse_intensity_or_angle(const char* option, int& index, int argc, char* argv[]);
  bool parse_text_input(const char* option, int& index, int argc, char* argv[]);
  bool parse_inside_rectangle(const char* option, int& index, int argc, char* argv[]);
  bool parse_inside_tile(const char* option, int& index, int argc, char* argv[]);
  bool parse_inside_circle(const char* option, int& index, int argc, char* argv[]);
  bool parse_list_of_files(const char* option, int& index, int argc, char* argv[]);
  bool parse_flightlines(const char* option, int& index, int argc, char* argv[]);
  bool parse_flightlines_index(const char* option, int& index, int argc, char* argv[]);
  bool parse_buffered(const char* option, int& index, int argc, char* argv[]);
  bool parse_temp_files(const char* option, int& index, int argc, char* argv[]);
  bool parse_neighbors(const char* option, int& index, int argc, char* argv[]);
  bool parse_neighbors_list(const char* option, int& index, int argc, char* argv[]);
  bool parse_rescale(const char* option, int& index, int argc, char* argv[]);
  bool parse_rescale_xy(const char* option, int& index, int argc, char* argv[]);
  bool parse_rescale_z(const char* option, int& index, int argc, char* argv[]);
  bool parse_reoffset(const char* option, int& index, int argc, char* argv[]);
  bool parse_ignore_option(int& index, int argc, char* argv[], bool parse_ignore);
  void warn_flightline_range() const;

  // The steps after the options: the point filter, the point transform and the point
  // source of flightline numbering.
  bool finish_parse(int argc, char* argv[]);
  bool parse_filter(int argc, char* argv[]);
  bool parse_transform(int argc, char* argv[]);

  std::unique_ptr<LASreader> open_file(const std::string& file_name);
  std::unique_ptr<LASreader> open_standard_input();
  // What opening one input gave: its reader (null after the messages), the row of its
  // format, and whether the reader reads the input's kept bytes (then it is reopened from
  // them, never stored).
  struct OpenedInput {
    std::unique_ptr<LASreader> reader;
    const input_formats::Row* row = nullptr;
    bool kept = false;
  };
  // A file (or a compressed text through its program) by name; `read_once`: it cannot be
  // read a second time.
  OpenedInput open_named(const std::string& file_name, bool read_once);
  // An input that arrives once on `descriptor`: a FIFO by name, or standard input when
  // `file_name` is empty (las_reader_factory_piped.cpp). Its first bytes choose the format;
  // only then is the rest read, kept or handed to the text reader.
  OpenedInput open_arriving(const std::string& file_name, int descriptor);
  // The FIFO `file_name`, opened and read through open_arriving.
  OpenedInput open_fifo(const std::string& file_name);
  // "-itxt", "-ipts", "-iptx" or "-iparse" asked for text.
  bool text_asked() const;
  // The layers a reader opens with: every one when its points are `stored` or passed on.
  std::uint32_t opening_layers(bool stored) const;
  // The wrappers (las_reader_factory_wrappers.cpp): merged and buffered reading, and the
  // stored and pipe-on readers put around what was opened. `reader_name` names the inner
  // reader in messages.
  std::unique_ptr<LASreader> open_merged();
  std::unique_ptr<LASreader> open_buffered(const std::string& main_name);
  // `read_once`: an input (a FIFO, a device) that cannot be read a second time is stored.
  // `in_memory`: the input's own bytes are in memory and read again, so it is never stored.
  std::unique_ptr<LASreader> wrap(std::unique_ptr<LASreader> reader, const char* reader_name,
                                  bool from_stdin, bool read_once = false, bool in_memory = false);
  // Keeps a piped input (see kPipedMemoryLimit): `head`, its first bytes (`ended`: all of
  // it), then what `file` delivers to its end. `announced`: the bytes a LAS header
  // announces, which sends a larger input to the temporary file at once. False after its
  // message.
  bool keep_arriving(ByteBlocks head, bool ended, std::FILE* file, std::int64_t announced);
  // Forgets the piped input kept before (its bytes, the FIFO a text reader read).
  void release_piped();
  // Reopens the reader of a piped input kept; `handled` false for any other reader.
  bool reopen_piped(LASreader* reader, bool& handled);
  // Reopens a wrapped reader; `handled` false when `reader` is no wrapper.
  bool reopen_wrapped(LASreader*& reader, bool remain_buffered, bool& handled);
  // Whether `file_name` can be a file of merged or buffered input, which are opened by name
  // in every pass: no FIFO, device or folder (refused with its message).
  bool readable_part(const std::string& file_name) const;
  // Opens one file by its format (its bytes, then its name), at the given scale factors and
  // offsets, for the merged and buffered readers.
  std::unique_ptr<LASreader> open_part(const std::string& file_name,
                                       const std::array<double, 3>* scale,
                                       const std::array<double, 3>* offset) const;
  void attach_spatial_index(LASreader& reader, const std::string& file_name);
  void attach_filter_transform_ignore(LASreader& reader);
  void apply_area(LASreader& reader, bool one_area) const;
  void reset_filter_and_transform();
  // The point source ID every point of the input opened next gets (flightline options).
  void stamp_point_source(std::uint16_t value) {
    if (transform_) transform_->set_point_source(value);
  }

  LASreaderSettings settings_;
  std::optional<std::string> file_name_;            // the input opened last
  const input_formats::Row* opened_row_ = nullptr;  // its format, reopened as such
  std::string refusal_;
  std::uint32_t next_file_index_ = 0;
  std::uint32_t unmatched_wildcards_ = 0;
  LASfileList file_names_{"file_names"};
  LASfileList neighbor_file_names_{"neighbor_file_names"};
  std::vector<std::string> list_files_;
  // For buffered reading: the listed inputs and then the neighbours, each with the number
  // of the first of them that is the same file (itself when none is), found once for all
  // the files of a run (source_identities_of).
  struct SourceIdentities {
    std::size_t inputs = 0;
    std::size_t neighbours = 0;
    std::vector<std::uint32_t> first;
    FileIdentityIndex index;
    FileIdentifier identifier;
  };
  SourceIdentities& source_identities();
  SourceIdentities source_identities_;
  std::unique_ptr<LASfilter> filter_;
  std::unique_ptr<LAStransform> transform_;
  std::unique_ptr<LASignore> ignore_;
  // The flightline number given to the open input's header, given again after a reopen.
  std::optional<std::uint16_t> file_source_ID_;
  // The piped input kept as it arrived: the temporary file (when it went there) before the
  // stream over it, so that the stream goes first; and the reader opened on it.
  UniqueFile piped_spill_;
  std::unique_ptr<ByteStreamIn> piped_bytes_;
  int piped_descriptor_ = -1;  // a FIFO opened for the text reader, which borrows it
  std::int64_t piped_spilled_ = 0;
  const LASreader* piped_reader_ = nullptr;
  std::int64_t piped_memory_limit_ = kPipedMemoryLimit;
  // What the index files learned in this run (shared with the indexes that note it).
  std::shared_ptr<LASindex::Memory> index_memory_ = std::make_shared<LASindex::Memory>();
};
