// The reader factory's wrappers: several files read as one, a file read with the points of
// its neighbours, and the stored and pipe-on readers put around what was opened.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "formats/las_reader_buffered.hpp"
#include "formats/las_reader_merged.hpp"
#include "formats/las_reader_pipe_on.hpp"
#include "formats/las_reader_stored.hpp"
#include "select/file_identity.hpp"
#include "select/las_reader_factory.hpp"

std::unique_ptr<LASreader> LASreaderFactory::open_merged() {
  file_name_.reset();
  file_source_ID_.reset();
  auto opener = [this](const std::string& name, bool /*header_only*/,
                       const std::array<double, 3>* scale, const std::array<double, 3>* offset) {
    return open_part(name, scale, offset);
  };
  auto prepare = [this](LASreader& reader, std::uint32_t file_index,
                        std::optional<std::uint32_t> file_ID) {
    if (settings_.files_are_flightlines != 0) {
      const std::int64_t number =
          file_ID ? static_cast<std::int64_t>(*file_ID) + 1
                  : static_cast<std::int64_t>(file_index) + settings_.files_are_flightlines;
      stamp_point_source(static_cast<std::uint16_t>(number & 0xFFFF));
    } else if (settings_.apply_file_source_ID) {
      stamp_point_source(reader.header.file_source_ID);
    }
  };
  auto merged = std::make_unique<LASreaderMerged>(opener, prepare);
  if (settings_.scale_factor) merged->set_scale_factor(*settings_.scale_factor);
  if (settings_.offset) merged->set_offset(*settings_.offset);
  for (std::size_t i = 0; i < file_names_.size(); i++) {
    // A FIFO or a device would hang the merged reader's first look at it.
    if (!readable_part(file_names_[i].name)) continue;
    merged->add_file_name(file_names_[i].name, file_names_[i].ID);
  }
  if (merged->file_count() == 0 || !merged->open()) {
    std::fprintf(stderr, "ERROR: cannot open lasreadermerged with %d file names\n",
                 static_cast<int>(file_names_.size()));
    return nullptr;
  }
  attach_filter_transform_ignore(*merged);
  apply_area(*merged, false);
  return wrap(std::move(merged), "lasreadermerged", false);
}

LASreaderFactory::SourceIdentities& LASreaderFactory::source_identities() {
  SourceIdentities& identities = source_identities_;
  if (identities.inputs == file_names_.size() &&
      identities.neighbours == neighbor_file_names_.size() && !identities.first.empty()) {
    return identities;
  }
  identities.inputs = file_names_.size();
  identities.neighbours = neighbor_file_names_.size();
  identities.first.clear();
  identities.index = FileIdentityIndex();
  for (std::size_t source = 0; source < identities.inputs + identities.neighbours; source++) {
    const std::string& name = source < identities.inputs
                                  ? file_names_[source].name
                                  : neighbor_file_names_[source - identities.inputs].name;
    const FileIdentity identity = identities.identifier.identify(name);
    const std::uint32_t number = static_cast<std::uint32_t>(source);
    identities.first.push_back(identities.index.find(identity).value_or(number));
    identities.index.insert(identity, number);
  }
  return identities;
}

std::unique_ptr<LASreader> LASreaderFactory::open_buffered(const std::string& main_name) {
  file_name_ = main_name;
  file_source_ID_.reset();
  auto opener = [this](const std::string& name, bool /*header_only*/,
                       const std::array<double, 3>* scale, const std::array<double, 3>* offset) {
    std::unique_ptr<LASreader> reader = open_part(name, scale, offset);
    if (reader) attach_spatial_index(*reader, name);
    return reader;
  };
  auto buffered = std::make_unique<LASreaderBuffered>(opener, settings_.buffer_size);
  buffered->set_main_file(main_name);
  // A source that is the main file, or one added already, under whatever name (a link,
  // "./t.las", an absolute path) would count its points twice: a point beside its own twin
  // is never isolated. Told apart by identity; a neighbour so skipped is said once.
  SourceIdentities& identities = source_identities();
  const std::optional<std::uint32_t> main_first =
      identities.index.find(identities.identifier.identify(main_name));
  auto add = [&](const LASfileEntry& entry, std::size_t source) {
    if (entry.name == main_name) return;  // the usual list of all tiles names the main one too
    const std::uint32_t first = identities.first[source];
    const bool neighbour = source >= identities.inputs;
    const bool is_main = main_first && first == *main_first;
    if (is_main || first != source) {
      if (neighbour && is_main) {
        std::fprintf(stderr, "WARNING: neighbour '%s' is the input file '%s'. skipping it.\n",
                     entry.name.c_str(), main_name.c_str());
      } else if (neighbour) {
        const std::string& earlier = first < identities.inputs
                                         ? file_names_[first].name
                                         : neighbor_file_names_[first - identities.inputs].name;
        std::fprintf(stderr, "WARNING: neighbour '%s' is the file '%s' again. skipping it.\n",
                     entry.name.c_str(), earlier.c_str());
      }
      return;
    }
    std::optional<LASreaderBuffered::Rectangle> bounds;
    if (entry.bounds) {
      bounds = LASreaderBuffered::Rectangle{entry.bounds->min_x, entry.bounds->min_y,
                                            entry.bounds->max_x, entry.bounds->max_y};
    }
    buffered->add_buffer_source(entry.name, bounds);
  };
  for (std::size_t i = 0; i < file_names_.size(); i++)
    add(file_names_[i], i);
  for (std::size_t i = 0; i < neighbor_file_names_.size(); i++)
    add(neighbor_file_names_[i], identities.inputs + i);
  if (!buffered->open()) {
    std::fprintf(stderr, "ERROR: cannot open lasreaderbuffered with %d file names\n",
                 static_cast<int>(file_names_.size() + neighbor_file_names_.size()));
    return nullptr;
  }
  if (settings_.apply_file_source_ID) {
    stamp_point_source(buffered->header.file_source_ID);
  }
  attach_filter_transform_ignore(*buffered);
  apply_area(*buffered, false);
  return wrap(std::move(buffered), "lasreaderbuffered", false);
}

std::unique_ptr<LASreader> LASreaderFactory::wrap(std::unique_ptr<LASreader> reader,
                                                  const char* reader_name, bool from_stdin,
                                                  bool read_once, bool in_memory) {
  if (!reader) return nullptr;
  if ((settings_.stored && !in_memory) || read_once) {
    auto stored = std::make_unique<LASreaderStored>();
    stored->set_worker_pool(settings_.worker_pool);
    LASignore* ignore = reader->get_ignore();
    if (!stored->open(std::move(reader))) {
      std::fprintf(stderr, "ERROR: could not open lasreaderstored with %s\n", reader_name);
      return nullptr;
    }
    stored->set_ignore(ignore);
    reader = std::move(stored);
  }
  if (settings_.pipe_on) {
    auto pipe = std::make_unique<LASreaderPipeOn>();
    LASignore* ignore = reader->get_ignore();
    if (!pipe->open(std::move(reader))) {
      std::fprintf(stderr, "ERROR: cannot open lasreaderpipeon with %s%s\n", reader_name,
                   from_stdin ? " from stdin" : "");
      return nullptr;
    }
    pipe->set_ignore(ignore);
    reader = std::move(pipe);
  }
  return reader;
}

bool LASreaderFactory::reopen_wrapped(LASreader*& reader, bool remain_buffered, bool& handled) {
  handled = true;
  if (auto* pipe = dynamic_cast<LASreaderPipeOn*>(reader)) {
    pipe->points_done = 0;
    // The points went to standard output once; the passes after read the inner reader.
    reader = pipe->inner();
    if (reader == nullptr) return false;
  }
  if (auto* stored = dynamic_cast<LASreaderStored*>(reader)) {
    if (!stored->reopen()) {
      std::fprintf(stderr, "ERROR: could not reopen lasreaderstored for stored input\n");
      return false;
    }
    return true;
  }
  if (auto* merged = dynamic_cast<LASreaderMerged*>(reader)) {
    if (!merged->reopen()) {
      std::fprintf(stderr, "ERROR: cannot reopen lasreadermerged\n");
      return false;
    }
    return true;
  }
  if (auto* buffered = dynamic_cast<LASreaderBuffered*>(reader)) {
    if (!buffered->reopen(remain_buffered)) {
      std::fprintf(stderr, "ERROR: cannot reopen lasreaderbuffered\n");
      return false;
    }
    return true;
  }
  handled = false;
  return false;
}
