#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "las/las_writer.hpp"
#include "model/las_header.hpp"
#include "select/command_options.hpp"

// The writer settings that do not take part in building the output name.
class WorkerPool;

struct LASwriterSettings {
  std::uint32_t output_buffer_size = 262144;  // bytes of the output stream buffer
  bool opts = false;                          // text dialects
  bool optx = false;
  std::optional<std::string> parse_string;  // columns of text output
  std::optional<std::string> separator;
  float scale_rgb = 1.0f;
  bool force = false;                // keep a derived name even when it equals the input name
  bool native = true;                // compress point types 6-10 with the layered compressor
  std::uint32_t chunk_size = 50000;  // points per compressed chunk
  bool to_stdout = false;
  bool to_nil = false;  // discard everything (measures the output); wins over the rest
  WorkerPool* worker_pool = nullptr;  // borrowed: chunks encoded in parallel; null: alone
};

// Turns the output options of a command line into an output name, a format and writer
// settings, derives output names from input names, and opens the matching LASwriter.
//
// Names: the factory owns its name, directory and appendix. Names may come with Windows
// separators: "/", "\\" and ":" all end a directory part when a name is taken apart, and the
// names built here join a directory and a base name with "/".
//
// `open` returns a writer owned by the caller; a LAS writer borrows the header it was opened
// with, which must outlive it. Failures print one "ERROR: " line on stderr and return false
// or null. Terrasolid binary, QFIT and VRML output are recognised by option and
// extension, but this version refuses to open them with one line naming the format.
class LASwriterFactory {
 public:
  // Output format codes.
  static constexpr std::uint32_t kFormatDefault = 0;  // not chosen: LAS
  static constexpr std::uint32_t kFormatLAS = 1;
  static constexpr std::uint32_t kFormatPKZ = 2;
  static constexpr std::uint32_t kFormatBIN = 3;
  static constexpr std::uint32_t kFormatQFIT = 4;
  static constexpr std::uint32_t kFormatWRL = 5;
  static constexpr std::uint32_t kFormatTXT = 6;

  LASwriterFactory() = default;
  LASwriterFactory(const LASwriterFactory&) = delete;
  LASwriterFactory& operator=(const LASwriterFactory&) = delete;

  // Consumes the output options of argv[1 ... argc-1] (blanking them). False after an
  // error message; the settings made so far remain. An output name whose extension names
  // no format (".dat", ".Las") gets text, with one WARNING, unless it names text (".txt",
  // ".csv", ".xyz", ".pts", ".ptx", ".asc") or "-otxt" asked for it.
  bool parse(int argc, char* argv[]);
  static void usage();
  // Every option of the table, by section, for the help of -h output and the manual page.
  static std::vector<command_options::OptionSection> option_sections();

  // Sets the output name (null clears it): trailing blanks go; an extension of at most three
  // characters chooses the format unless an option did; a name without one gets the
  // format's; then the directory, cut and appendix set so far are applied. An existing
  // device or FIFO is kept as named, also by the format, directory, cut and appendix
  // options that follow.
  void set_file_name(const char* file_name);
  // Sets the output directory (null clears it) and moves an existing name into it. False
  // when it is neither empty, nor ends in ":", nor names an existing directory.
  bool set_directory(const char* directory);
  // Text inserted in front of the extension; applied at once to an existing name.
  void set_appendix(const char* appendix);
  // Characters removed in front of the extension; applied at once to an existing name.
  void set_cut(std::int32_t cut);
  // False for an unknown code. Marks the format as chosen and gives an existing name the
  // format's extension.
  bool set_format(std::uint32_t format);
  // Builds the output name from `input_file_name` (or a template without one). `number`
  // below 0 derives "<base>_1.<ext>" (or with the appendix, cut and directory set); 0 and
  // above writes the number into the digits in front of the extension. A result equal to
  // the input name becomes "temp.<ext>" with a three-line warning unless `force` is set.
  void derive_file_name(const char* input_file_name, int number = -1);

  // The current output name, or null.
  const char* get_file_name() const { return file_name_ ? file_name_->c_str() : nullptr; }
  const char* get_directory() const { return directory_ ? directory_->c_str() : nullptr; }
  const char* get_appendix() const { return appendix_ ? appendix_->c_str() : nullptr; }
  std::int32_t get_cut() const { return cut_; }
  std::uint32_t get_format() const { return format_; }
  bool format_specified() const { return specified_; }
  const LASwriterSettings& settings() const { return settings_; }
  // The extension of a format code ("las" for an unknown one).
  static const char* extension_of(std::uint32_t format);

  // An output is set: a name, standard output or nothing at all.
  bool active() const { return file_name_ || settings_.to_stdout || settings_.to_nil; }

  // A writer for the output, opened with `header` (borrowed by the writer). Null after an
  // error message.
  std::unique_ptr<LASwriter> open(const LASheader& header);

  void set_force(bool force) { settings_.force = force; }
  void set_native(bool native) { settings_.native = native; }
  // Borrowed workers for the LAS and PKZ writers of later opens; null encodes alone.
  void set_worker_pool(WorkerPool* pool) { settings_.worker_pool = pool; }
  void set_chunk_size(std::uint32_t chunk_size) { settings_.chunk_size = chunk_size; }
  void set_output_buffer_size(std::uint32_t size) { settings_.output_buffer_size = size; }
  void set_parse_string(const char* parse_string);
  void set_separator(const char* separator);
  void set_scale_rgb(float scale_rgb) { settings_.scale_rgb = scale_rgb; }

 private:
  static const command_options::Option<LASwriterFactory> kOptions[];

  template <bool LASwriterSettings::*flag, bool value>
  bool set_flag(const char* option, int& index, int argc, char* argv[]);
  template <std::uint32_t format>
  bool parse_format(const char* option, int& index, int argc, char* argv[]);
  bool parse_output(const char* option, int& index, int argc, char* argv[]);
  bool parse_directory(const char* option, int& index, int argc, char* argv[]);
  bool parse_appendix(const char* option, int& index, int argc, char* argv[]);
  bool parse_cut(const char* option, int& index, int argc, char* argv[]);
  bool parse_text_format(const char* option, int& index, int argc, char* argv[]);
  bool parse_nil(const char* option, int& index, int argc, char* argv[]);
  bool parse_chunk_size(const char* option, int& index, int argc, char* argv[]);
  bool parse_parse_string(const char* option, int& index, int argc, char* argv[]);
  bool parse_separator(const char* option, int& index, int argc, char* argv[]);
  bool parse_scale_rgb(const char* option, int& index, int argc, char* argv[]);
  bool parse_output_buffer(const char* option, int& index, int argc, char* argv[]);

  // The three edits of a name's base, each a no-op when its setting is absent.
  void apply_directory(std::string& name) const;
  void apply_cut(std::string& name) const;
  void apply_appendix(std::string& name) const;
  std::uint16_t compressor_for(const LASheader& header) const;
  // One WARNING when the output name's extension names no format and text is written by
  // default.
  void warn_text_by_default() const;

  LASwriterSettings settings_;
  std::optional<std::string> directory_;  // without a trailing separator (except "/")
  std::optional<std::string> file_name_;
  std::optional<std::string> appendix_;
  std::int32_t cut_ = 0;
  std::uint32_t format_ = kFormatDefault;
  bool specified_ = false;  // the format came from an option
  bool special_ = false;    // the name is an existing device or FIFO, kept as given
};
