#pragma once

// The bodies of the fuzz targets. Each takes one input as libFuzzer hands it over and
// returns 0; a broken property (a point read beyond what the file holds, an output left
// behind by a failed run) aborts. The libFuzzer targets under fuzz/ call them, and so does
// the regression test that replays the kept inputs of tests/corpus/<target>/, so a finding
// stays fixed without libFuzzer in the build.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz_entry {

// A whole LAS or PKZ file, read through LASreaderLAS from memory: header, VLRs, EVLRs,
// every point, a few seeks, and a second open with selective decoding.
int las_file(const std::uint8_t* data, std::size_t size);

// A point data block under a header written by the project's own writer: byte 0 picks one
// of the templates (every point type, LAS or PKZ, layered or not, with extra bytes, codec
// versions 1 and 2, chunked or one stream), the rest replaces the template's points.
int pkz_block(const std::uint8_t* data, std::size_t size);

// A codec record chosen by the input: compressor, chunk size, point count and an item list
// with types, sizes and versions, put into a plain LAS 1.2 header; the rest of the input is
// the point data block.
int pkz_items(const std::uint8_t* data, std::size_t size);

// The number of templates of `pkz_block` and the file of template `index`: a small scene
// written by the project's writer.
int template_count();
const std::vector<std::uint8_t>& template_file(int index);
// Name of a template for seed file names ("type3_pkz_v2" and the like).
std::string template_name(int index);

}  // namespace fuzz_entry

namespace fuzz_entry {

// Seeds made from a compressed file: the input of `pkz_block` (template `index`) and of
// `pkz_items` that rebuilds the file's codec record and point data block. Empty for a file
// without a codec record.
std::vector<std::uint8_t> pkz_block_seed(int index);
std::vector<std::uint8_t> pkz_items_seed(const std::vector<std::uint8_t>& file);

}  // namespace fuzz_entry

namespace fuzz_entry {

// The tool's whole command line (projection, reader factory, writer factory, the tool's own
// options), run in an empty scratch folder so that no input exists and nothing is read:
// the input is the arguments, separated by zero bytes. Names with a '/' are passed over so
// that no argument reaches outside the folder. Nothing may be written.
int tool_args(const std::uint8_t* data, std::size_t size);

// The tool end to end on one small input file in a scratch folder, with the grid's spill
// files in a folder of their own: byte 0 chooses the options (marking mode, output format,
// steps, threshold), byte 1 the input's extension, the rest is the input. After the run an
// exit code 0 must leave an output that reads whole and agrees with its header, any other
// code no output at all, and no temporary file may remain.
int tool_run(const std::uint8_t* data, std::size_t size);

// The tool on a folder of point files, their spatial indexes and layer files, and two
// lists, with a command line of at most 24 words: each byte picks an option or a name
// (several names reach one file: "./a.las", a link, "sub/../a.las"). Every file that the
// command line makes the tool read (an input, a neighbour, a list and what it names, the
// index of each, and the layer file of each input unless -olay writes it) must be byte for
// byte as before, whatever the run did, and no temporary file may remain.
int tool_claims(const std::uint8_t* data, std::size_t size);
// Command lines that write over files they read, as inputs of `tool_claims`.
std::vector<std::vector<std::uint8_t>> tool_claims_seeds();

}  // namespace fuzz_entry

namespace fuzz_entry {

// A text point file read through LASreaderTXT: byte 0 chooses the parse string, the dialect
// (plain, PTS, PTX), a populate pass and a line to skip; the rest is the text. Every point
// is read, a few seeks made, the file reopened and every point written as text again. A
// reader may never deliver more points than the text has lines.
int text_file(const std::uint8_t* data, std::size_t size);
// One Terrasolid binary, QFIT or shapefile file from memory: byte 0 picks the reader (its
// low 7 bits modulo 3: binary, QFIT, shapefile; with the high bit set, the reader's form
// that rescales every point), the rest is the file. Every point is read, a few seeks
// follow, and the file is opened a second time. No reader may deliver more points than the
// file's bytes can hold, nor a shapefile point outside the box of the vertices it read.
int point_formats(const std::uint8_t* data, std::size_t size);
// One input of any format under a chosen name, opened through LASreaderFactory by name and
// through a FIFO: byte 0 bits 0-2 pick the name's extension (".dat", none, ".txt", ".las",
// ".bin", ".qi", ".shp", ".pkz"), bit 3 adds "-itxt", bit 4 sends the piped input to the
// temporary file; the rest is the input. Both are read, reopened and read again. Bytes of no
// point format under a name of no binary format are never read; an input whose first bytes
// bear a signature (or text read as text) gives the same reader and the same points by name
// and through the pipe; a pipe is read only for a signature or for text.
int input_bytes(const std::uint8_t* data, std::size_t size);
// A spatial index file beside a small point file: byte 0 chooses the point file (a plain or
// a compressed template), the rest is the index. When it loads, areas read through it must
// deliver a subset of the points inside, in ascending order, each once, and exactly the
// points inside when the reader found the index stale.
int lax_file(const std::uint8_t* data, std::size_t size);
// Valid indexes of both point files at two depths, as inputs of `lax_file`.
std::vector<std::vector<std::uint8_t>> lax_file_seeds();
// A LAY file beside a small point file, read through LASapply: byte 0 bit 0 gives the LAY
// file the point file's identity (so that its layers are reached), bit 1 picks the point
// type 6 file instead of the type 1 file, bit 2 puts a right checksum on its header after
// that, bit 3 (with bit 2) on its layers too; the rest is the LAY file. A refused file must leave
// the points read whole; a loaded one must deliver exactly the points its layers do not delete, in
// order, and must have had right checksums unless it is of the version without them.
int lay_file(const std::uint8_t* data, std::size_t size);
// A valid input of `lay_file` with two layers.
std::vector<std::uint8_t> lay_file_seed(bool extended);

}  // namespace fuzz_entry

namespace fuzz_entry {

// The isolation grid on points chosen by the input, compared with a plain count of the 27
// cells around each point: byte 0 chooses the threshold (bits 0-2, every counter width
// but 32 bits), by flightline (bit 3), a budget of two tiles that spills (bit 4), the step
// (bits 5-6) and points a tile apart (bit 7); then 7 bytes a point: X, Y, Z as 16-bit
// integers, and a byte of its flightline (bits 6-7) and how many more points lie on it
// (bits 0-5). Every verdict must be the count's; no spill file may remain.
int grid_cells(const std::uint8_t* data, std::size_t size);
// Inputs of `grid_cells` with lone points, pairs across tile borders, crowded cells and
// tiles that fill.
std::vector<std::vector<std::uint8_t>> grid_cells_seeds();
// Coordinates held in memory, decided as the Python module decides them: byte 0 chooses the
// precision, the steps and the threshold, byte 1 the memory budget, the threads and the rows
// a thread takes; the rest are the rows of x, y, z. The verdicts must be those of a plain
// count of the 27 cells around each point, the first row that is no number must be found.
int coordinate_noise(const std::uint8_t* data, std::size_t size);
// Inputs of `coordinate_noise` with crowds and loners, one thread and several.
std::vector<std::vector<std::uint8_t>> coordinate_noise_seeds();

}  // namespace fuzz_entry
