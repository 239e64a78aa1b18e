#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "index/las_interval.hpp"
#include "index/las_quadtree.hpp"
#include "las/las_reader_hooks.hpp"

class ByteStreamIn;
class ByteStreamOut;

// A spatial index of one point file: a quadtree over the file's xy extent and, for every
// leaf cell, the runs of point numbers that hold its points. A query turns an area into the
// merged runs of the cells it reaches; `advance` then walks the reader from run to run.
//
// The reader the index is attached to owns it. Loading prints the failed field's message
// (and, for a file, "ERROR (LASindex): cannot read '<name>'") and returns false; the index
// must then not be used. An index with cells beyond its depth or runs out of order is
// refused in the same way: the file is then read without it.
//
// An index that reads may still be another file's, or this file's before its points were
// re-sorted or changed. `check` (called by the reader before an area's first point) tells:
// the cells must hold the file's point count, the extent must cover the file's bounding
// box, the cells that hold points must lie on it and reach its sides, every run must lie
// within the points, and every point the query's runs deliver must lie in a cell whose runs
// hold it, each cell holding as many as it says. An index that fails is reported in one
// WARNING and the area is read point by point; so is an area whose runs cost more than half
// the points to read (silently: the index would save nothing).
class LASindex final : public LASindexHook {
 public:
  LASindex() = default;

  // The index file of a point file: "a.las" -> "a.lax", "b.pkz" -> "b.pkx", "A.LAS" ->
  // "A.LAX", any other name has its last three characters replaced by "lax".
  static std::string file_name_for(std::string_view point_file_name);

  // Reads the index file of `point_file_name`. False without a message when there is no such
  // file; false after the messages above when it does not read, and after "WARNING:
  // ignoring spatial index '<name>': it is older than '<point file>'" when it was written
  // before the point file last changed.
  bool load(const char* point_file_name);
  // Reads the layout from a stream positioned at "LASX".
  bool load(ByteStreamIn& stream);
  // How the messages of `check` name the index ("spatial index 'a.lax'" after a load by
  // file name).
  void set_description(std::string description) { description_ = std::move(description); }
  const std::string& description() const { return description_; }
  // What the indexes loaded by file name learned in one run, shared by them and whoever
  // opens the files again (the second pass): the index files that were there but not taken
  // (they did not read, were older than their point file or failed `check`), to be left out
  // rather than repeat their messages; and the queries whose runs were read and found
  // sound, which `check` then does not read again.
  struct Memory {
    std::set<std::string> refused;      // index file names
    std::set<std::string> sound_reads;  // index file name and the cells of a query
  };
  // Null: nothing is remembered.
  void remember_in(std::shared_ptr<Memory> memory) { memory_ = std::move(memory); }
  // Writes the layout. False when the stream refuses a byte.
  bool write(ByteStreamOut& stream) const;

  bool query_rectangle(double min_x, double min_y, double max_x, double max_y) override;
  bool query_tile(float ll_x, float ll_y, float size) override;
  bool query_circle(double center_x, double center_y, double radius) override;
  // Seeks the reader to the next merged run when the current one is used up; a reader that
  // cannot seek there reads forward to it. False once every run is used up.
  bool advance(LASreader& reader) override;
  Check check(LASreader& reader, double file_min_x, double file_min_y, double file_max_x,
              double file_max_y) override;

  // Of the last query: cells it reached, points those cells hold, points the runs cover.
  std::uint32_t cells() const { return cells_; }
  std::uint64_t points_in_cells() const { return interval_.merged_points_in_cells(); }
  std::uint64_t points_in_runs() const { return interval_.merged_points_in_runs(); }

  LASquadtree& quadtree() { return quadtree_; }
  const LASquadtree& quadtree() const { return quadtree_; }
  LASinterval& interval() { return interval_; }
  const LASinterval& interval() const { return interval_; }

 private:
  bool merge_result();
  // Why the index cannot be this file's, judged from the counts and the extent alone; empty
  // when it may be.
  std::string disagreement(const LASreader& reader, double file_min_x, double file_min_y,
                           double file_max_x, double file_max_y) const;
  // Why the points that the runs of the last query deliver contradict the index; empty
  // when they do not. Reads those points (trial reads), `unreadable` set when one fails.
  std::string contradiction(LASreader& reader, bool& unreadable);

  // Notes the index file (if the index came from one) as refused.
  void refuse();
  // Says why the index is not taken, notes it as refused.
  Check stale(const std::string& why);
  // The points `reader` decodes to deliver the merged runs of the last query, skipped ones
  // included.
  std::uint64_t points_to_decode(const LASreader& reader) const;
  // The key of the last query in Memory::sound_reads; empty for an index from a stream.
  std::string query_key() const;

  std::string description_ = "spatial index";
  std::string file_name_;  // of the index file, empty for an index from a stream
  std::shared_ptr<Memory> memory_;
  LASquadtree quadtree_;
  LASinterval interval_;
  std::uint32_t cells_ = 0;
  std::uint32_t run_start_ = 0;
  std::uint32_t run_end_ = 0;
  bool in_run_ = false;
};

// Lets every LAS reader opened from now on take the index stored inside a compressed file
// (the suite's extended record 30). Call once before opening readers.
void install_embedded_index_loader();
