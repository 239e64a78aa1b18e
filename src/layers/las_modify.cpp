#include "layers/las_modify.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "layers/lay_identity_check.hpp"

namespace {

constexpr char kClassificationName[] = "classification";
constexpr char kWithheldName[] = "withheld_flag";
constexpr char kReplaceClassification[] = "replace classification";
constexpr char kReplaceWithheld[] = "replace withheld_flag";
constexpr char kDeletePoint[] = "delete point";

// The file's identity, or false when there is none.
bool identify_file(const std::string& name, dev_t& device, ino_t& inode) {
  struct stat info {};
  if (stat(name.c_str(), &info) != 0) return false;
  device = info.st_dev;
  inode = info.st_ino;
  return true;
}

// The permissions of the LAY file being replaced, so that replacing it keeps who may read
// it; a new one gets the default.
mode_t lay_file_mode(const std::string& name) {
  struct stat info {};
  if (stat(name.c_str(), &info) == 0) return info.st_mode & 07777;
  return default_file_mode();
}

void report_changed_meanwhile(const std::string& lay_name) {
  std::fprintf(stderr,
               "ERROR: LAY file '%s' was changed by another run meanwhile. the layer is not "
               "added\n",
               lay_name.c_str());
}

}  // namespace

LASmodify::~LASmodify() {
  remove_temporary();
}

void LASmodify::remove_temporary() {
  temporary_.remove();
}

bool LASmodify::add_layer(LAYattribute attribute, const char* description,
                          std::uint32_t description_size, const char* command_line,
                          const std::vector<double>& parameters) {
  if (has_layer_ || description_size > lay_format::kDescriptionSize) return false;
  has_layer_ = true;
  layer_ = LAYlayer{};
  layer_.attribute = attribute;
  layer_.description.assign(description,
                            std::min<std::size_t>(std::strlen(description), description_size));
  layer_.parameters = parameters;
  if (layer_.parameters.size() > lay_format::kMaxParameters)
    layer_.parameters.resize(lay_format::kMaxParameters);
  if (command_line != nullptr) {
    layer_.command_line.assign(command_line, strnlen(command_line, lay_format::kMaxCommandLine));
  }
  return true;
}

bool LASmodify::add_replace_layer(const char* attribute, std::uint32_t description_size,
                                  const char* command_line, const std::vector<double>& parameters) {
  if (attribute == nullptr) return false;
  if (std::strcmp(attribute, kClassificationName) == 0) {
    return add_layer(LAYattribute::kClassification, kReplaceClassification, description_size,
                     command_line, parameters);
  }
  if (std::strcmp(attribute, kWithheldName) == 0) {
    return add_layer(LAYattribute::kWithheldFlag, kReplaceWithheld, description_size, command_line,
                     parameters);
  }
  return false;
}

bool LASmodify::add_delete_layer(std::uint32_t description_size, const char* command_line,
                                 const std::vector<double>& parameters) {
  return add_layer(LAYattribute::kDeletion, kDeletePoint, description_size, command_line,
                   parameters);
}

bool LASmodify::open(const LASreader& reader, const std::string& file_name, bool append,
                     std::uint32_t first_kept_layer, std::uint32_t block_bytes) {
  remove_temporary();
  closed_ = false;
  if (!has_layer_) {
    std::fprintf(stderr, "ERROR: no layer asked for before opening '%s'\n", file_name.c_str());
    return false;
  }
  reader_ = &reader;
  lay_name_ = ::lay_file_name(file_name, directory_.c_str());
  file_ = LAYfile{};
  const std::uint64_t point_count =
      static_cast<std::uint64_t>(std::max<std::int64_t>(reader.points_total, 0));
  std::string failure;
  if (!identify_point_file(file_name, reader.header, point_count, block_bytes, file_.identity,
                           failure)) {
    std::fprintf(stderr, "ERROR: %s\n", failure.c_str());
    return false;
  }
  appending_ = append;
  appended_to_existing_ = append && identify_file(lay_name_, appended_device_, appended_inode_);
  if (appended_to_existing_) {
    // The earlier layers are kept only from a file that is whole and is this file's: a LAY
    // file that cannot be read back is left alone rather than replaced by one without them.
    std::vector<std::uint8_t> bytes;
    LAYidentity stored;
    std::uint32_t layer_count = 0;
    std::size_t layers_at = 0;
    std::vector<LAYlayer> layers;
    if (!read_whole_file(lay_name_, bytes, failure) ||
        !decode_lay_header(bytes.data(), bytes.size(), stored, layer_count, layers_at, failure) ||
        !check_lay_identity(stored, file_name, reader.header, point_count, block_bytes, lay_name_,
                            failure) ||
        !decode_lay_layers(bytes.data(), bytes.size(), layers_at, layer_count, point_count,
                           layer_count, layers, failure)) {
      std::fprintf(stderr, "ERROR: cannot add a layer to '%s': %s\n", lay_name_.c_str(),
                   failure.c_str());
      return false;
    }
    if (layers.size() >= lay_format::kMaxLayers) {
      std::fprintf(stderr, "ERROR: '%s' holds %zu layers already\n", lay_name_.c_str(),
                   layers.size());
      return false;
    }
    const std::size_t first = std::min<std::size_t>(first_kept_layer, layers.size());
    file_.layers.assign(std::make_move_iterator(layers.begin() + static_cast<long>(first)),
                        std::make_move_iterator(layers.end()));
  }
  // Beside the LAY file, so that the rename at close stays on one file system; under a name
  // no one can foresee, made afresh (a link planted there is never written through).
  if (!temporary_.create_unique(lay_name_ + ".tmp")) {
    std::fprintf(stderr, "ERROR: cannot write LAY file '%s': %s\n", lay_name_.c_str(),
                 std::strerror(errno));
    return false;
  }
  layer_.runs.clear();
  layer_.change_count = 0;
  points_done = 0;
  points_total = 0;
  return true;
}

bool LASmodify::write_point(const LASpoint& marked) {
  if (reader_ == nullptr || !temporary_.is_open()) return false;
  points_done++;
  const LASpoint& read = reader_->point;
  bool changed = false;
  std::uint8_t value = 0;
  switch (layer_.attribute) {
    case LAYattribute::kClassification:
      changed = marked.classification != read.classification ||
                marked.extended_classification != read.extended_classification;
      value = marked.extended_classification;
      break;
    case LAYattribute::kWithheldFlag:
      changed =
          marked.withheld_flag != read.withheld_flag ||
          ((marked.extended_classification_flags ^ read.extended_classification_flags) & 0x4) != 0;
      value = marked.withheld_flag ? 1 : 0;
      break;
    case LAYattribute::kDeletion:
      changed = marked.deletion_mark != 0;
      break;
  }
  if (!changed) return true;
  const std::int64_t index = reader_->points_done - 1;
  if (index < 0 || !layer_.add_change(static_cast<std::uint64_t>(index), value)) {
    std::fprintf(stderr, "ERROR: point %lld came out of order for LAY file '%s'\n",
                 static_cast<long long>(index), lay_name_.c_str());
    failed_ = true;
    return false;
  }
  return true;
}

std::int64_t LASmodify::close_writer(bool /*fix_count*/) {
  if (closed_ || !temporary_.is_open()) return 0;
  closed_ = true;
  points_total = points_done;
  if (failed_) {
    remove_temporary();
    return 0;
  }
  file_.layers.push_back(layer_);
  const std::vector<std::uint8_t> bytes = encode_lay_file(file_);
  file_.layers.pop_back();
  if (std::fwrite(bytes.data(), 1, bytes.size(), temporary_.file()) != bytes.size()) {
    std::fprintf(stderr, "ERROR: cannot write LAY file '%s': %s\n", lay_name_.c_str(),
                 std::strerror(errno));
    failed_ = true;
    remove_temporary();
    return 0;
  }
  // Added layers keep the ones read at open: a LAY file that another run put in place since
  // would lose its own layers if this one replaced it.
  dev_t device = 0;
  ino_t inode = 0;
  const bool exists = identify_file(lay_name_, device, inode);
  if (appending_ && (exists != appended_to_existing_ ||
                     (exists && (device != appended_device_ || inode != appended_inode_)))) {
    report_changed_meanwhile(lay_name_);
    failed_ = true;
    remove_temporary();
    return 0;
  }
  // A new LAY file of an append is put in place only where still none is (see above).
  if (!temporary_.commit(lay_name_, lay_file_mode(lay_name_), !appending_ || exists)) {
    if (errno == EEXIST) {
      report_changed_meanwhile(lay_name_);
    } else {
      std::fprintf(stderr, "ERROR: cannot write LAY file '%s': %s\n", lay_name_.c_str(),
                   std::strerror(errno));
    }
    failed_ = true;
    return 0;
  }
  return static_cast<std::int64_t>(bytes.size());
}
