#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "las/las_reader.hpp"
#include "las/las_writer.hpp"
#include "layers/lay_file.hpp"
#include "stream/temporary_file.hpp"

// A writer that writes no points: it compares the marked attribute of every point written
// to it with the same point as its reader delivered it, records the points that differ in
// one new layer, and writes the LAY file beside the point file at close.
//
// Use: ask for one layer (`add_replace_layer` or `add_delete_layer`), `set_directory`,
// `open` with the reader whose points will be written, then `write_point` each point (the
// reader's own point for an unchanged one, a marked copy for a changed one) while the
// reader stands on it, and `close_writer`. The points must come in ascending stored order.
//
// Appending keeps the layers of an existing LAY file of the same point file. The file is
// written to a temporary file beside it (see TemporaryFile) and renamed at close, so a
// failed or abandoned run leaves the LAY file that was there before (or none). An append
// never replaces a LAY file other than the one it read: when another run put one in place
// meanwhile, close fails (callers serialise appends with LAYfileLock).
//
// Ownership: borrows the reader, which must outlive the writer; owns its temporary file.
// Failures print one "ERROR: " line and return false (0 from close_writer).
class LASmodify : public LASwriter {
 public:
  LASmodify() = default;
  ~LASmodify() override;

  // Asks for a layer replacing "classification" or "withheld_flag", or deleting points.
  // `description_size` is the room for the layer's description text (at most 48 bytes),
  // `command_line` what made the layer (cut at 4096 bytes), `parameters` the settings it
  // was made with. False when a layer was asked for already, for another attribute name,
  // or for a description size beyond 48.
  bool add_replace_layer(const char* attribute, std::uint32_t description_size,
                         const char* command_line, const std::vector<double>& parameters);
  bool add_delete_layer(std::uint32_t description_size, const char* command_line,
                        const std::vector<double>& parameters);

  void set_directory(const char* directory) { directory_ = directory ? directory : ""; }

  // Prepares the LAY file of `file_name` for the points of `reader`. With `append`, an
  // existing LAY file must belong to the point file and its layers from `first_kept_layer`
  // on are kept; without, or when there is none, the file holds the new layer only.
  // `block_bytes` as for LASapply::open.
  bool open(const LASreader& reader, const std::string& file_name, bool append,
            std::uint32_t first_kept_layer, std::uint32_t block_bytes);

  const std::string& lay_file_name() const { return lay_name_; }
  // Where the LAY file is written until close renames it (empty when there is none).
  const std::string& temporary_file_name() const { return temporary_.name(); }
  std::uint64_t changed_points() const { return layer_.change_count; }

  bool write_point(const LASpoint& point) override;
  bool chunk() override { return true; }
  bool update_header(const LASheader*, bool = false, bool = false) override { return true; }
  std::int64_t close_writer(bool fix_count = true) override;

 private:
  bool add_layer(LAYattribute attribute, const char* description, std::uint32_t description_size,
                 const char* command_line, const std::vector<double>& parameters);
  void remove_temporary();

  const LASreader* reader_ = nullptr;
  std::string directory_;
  std::string lay_name_;
  TemporaryFile temporary_;
  bool appending_ = false;
  // The LAY file whose layers were kept at open, when there was one.
  bool appended_to_existing_ = false;
  dev_t appended_device_ = 0;
  ino_t appended_inode_ = 0;
  bool has_layer_ = false;
  bool closed_ = false;
  LAYfile file_;    // the kept layers and the identity
  LAYlayer layer_;  // the new one
};
