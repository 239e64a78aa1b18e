#include "tool/las_writer_deleted.hpp"

bool LASwriterDeleted::set_writer(std::unique_ptr<LASwriter> inner) {
  inner_ = std::move(inner);
  if (inner_) scaling = inner_->scaling;
  return inner_ != nullptr;
}

bool LASwriterDeleted::chunk() {
  return inner_->chunk();
}

bool LASwriterDeleted::update_header(const LASheader* header, bool from_tally,
                                     bool refresh_attributes) {
  if (from_tally) inner_->inventory = inventory;
  const bool ok = inner_->update_header(header, from_tally, refresh_attributes);
  if (inner_->failed()) failed_ = true;
  return ok;
}

std::int64_t LASwriterDeleted::close_writer(bool fix_count) {
  const std::int64_t bytes = inner_->close_writer(fix_count);
  points_total = inner_->points_total;
  if (inner_->failed()) failed_ = true;
  return bytes;
}
