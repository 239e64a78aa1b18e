#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

// The lines of one text input: a plain file, standard input, or a compressed file read
// through the decompressing program its name asks for (".gz", ".zip", ".7z", ".rar"; see
// text_format::kDecompressors).
//
// Programs are started with an argument vector, never through a shell, so a file name
// reaches them as one argument whatever it holds, written so that the program takes it
// literally (text_format::archive_argument: no option, no list file, no wildcard). The
// program's standard error stays ours. Reading a pipe cannot seek.
//
// Lines are handed out in place: `next_line` returns a zero-terminated line without its
// line end ("\n", "\r\n" or a lone "\r" alike), valid until the next call. A line longer than
// text_format::kLineLimit is cut there and the rest of it passed over.
//
// Every failure prints one "ERROR: " line. A program that cannot be started is named with
// the package that brings it; one that ends badly (a cut or corrupt archive, killed) ends the
// text where it stopped, and `failed()` turns true once that is known. Closing a program
// that is still writing stops it, so closing never waits on it.
class TextInput {
 public:
  TextInput();
  ~TextInput();
  TextInput(const TextInput&) = delete;
  TextInput& operator=(const TextInput&) = delete;

  // Opens `file_name` by its suffix. False after an "ERROR: " line.
  bool open(const char* file_name);
  // Reads `descriptor`, which the input borrows (standard input and the like): a pipe unless
  // it is a regular file.
  bool open_descriptor(int descriptor);
  void close();

  bool is_open() const { return descriptor_ >= 0; }
  bool is_pipe() const { return pipe_; }
  // A read failed or the decompressing program ended badly (after its "ERROR: " line).
  bool failed() const { return failed_; }

  // The next line, or false at the end of the text (or after a failure).
  bool next_line(char*& line, std::size_t& length);
  // Back to the first line; false for a pipe.
  bool rewind();

 private:
  bool fill();
  bool spawn(const char* file_name, std::size_t decompressor);
  void finish_program(bool stop);

  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unread byte
  std::size_t end_ = 0;    // end of the bytes read
  int descriptor_ = -1;
  bool owns_descriptor_ = false;
  bool pipe_ = false;
  bool at_end_ = false;
  bool failed_ = false;
  bool passing_over_ = false;  // dropping the rest of an overlong line
  bool after_cr_ = false;      // the last line ended at a CR: skip an LF that follows
  pid_t program_ = -1;
  std::string program_name_;
  std::string file_name_;
};
