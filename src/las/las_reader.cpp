#include "las/las_reader.hpp"

LASreader::LASreader() = default;
LASreader::~LASreader() {
  if (transform_ != nullptr) transform_->report_overflows();
}

void LASreader::set_filter(LASfilterHook* filter) {
  filter_ = filter;
  choose_read_routines();
}

void LASreader::set_transform(LAStransformHook* transform) {
  transform_ = transform;
  choose_read_routines();
}

void LASreader::attach_index(std::unique_ptr<LASindexHook> index) {
  index_ = std::move(index);
  // The area in place was queried on the index it replaces (which may have found nothing):
  // test every point until an area operation queries the new one.
  if (read_area_ == &LASreader::read_inside_area_indexed ||
      read_area_ == &LASreader::read_inside_area_checking_index ||
      (read_area_ == &LASreader::read_nothing && inside_ != kAreaNone)) {
    read_area_ = &LASreader::read_inside_area;
    choose_read_routines();
  }
}

void LASreader::choose_read_routines() {
  ReadRoutine source = read_area_;
  if (filter_ != nullptr && transform_ != nullptr) {
    read_inner_ = source;
    read_outer_ = &LASreader::read_filtered_transformed;
  } else if (filter_ != nullptr) {
    read_inner_ = source;
    read_outer_ = &LASreader::read_filtered;
  } else if (transform_ != nullptr) {
    read_inner_ = source;
    read_outer_ = &LASreader::read_transformed;
  } else {
    read_inner_ = source;
    read_outer_ = source;
  }
}

bool LASreader::read_filtered() {
  while ((this->*read_inner_)()) {
    if (!filter_->filter(point)) return true;
  }
  return false;
}

bool LASreader::read_transformed() {
  if (!(this->*read_inner_)()) return false;
  transform_->transform(point);
  return true;
}

bool LASreader::read_filtered_transformed() {
  if (!read_filtered()) return false;
  transform_->transform(point);
  return true;
}

bool LASreader::point_is_inside() const {
  switch (inside_) {
    case kAreaNone:
      return true;
    case kAreaTile: {
      const double x = point.get_x();
      const double y = point.get_y();
      return t_ll_x_ <= x && x < t_ur_x_ && t_ll_y_ <= y && y < t_ur_y_;
    }
    case kAreaCircle: {
      const double dx = c_center_x_ - point.get_x();
      const double dy = c_center_y_ - point.get_y();
      return dx * dx + dy * dy < c_radius_squared_;
    }
    case kAreaRectangle: {
      const double x = point.get_x();
      const double y = point.get_y();
      return r_min_x_ <= x && x < r_max_x_ && r_min_y_ <= y && y < r_max_y_;
    }
  }
  return true;
}

bool LASreader::read_inside_area() {
  while (read_raw_point()) {
    if (point_is_inside()) return true;
  }
  return false;
}

bool LASreader::read_inside_area_checking_index() {
  using Check = LASindexHook::Check;
  const Check check = index_->check(*this, orig_min_x_, orig_min_y_, orig_max_x_, orig_max_y_);
  if (check == Check::kSound) {
    read_area_ =
        index_found_runs_ ? &LASreader::read_inside_area_indexed : &LASreader::read_nothing;
  } else if (check == Check::kLost) {
    read_failed_ = true;
    read_area_ = &LASreader::read_nothing;
  } else {
    if (check == Check::kStale) {
      index_.reset();
      index_refused_ = true;
    }
    read_area_ = &LASreader::read_inside_area;
  }
  choose_read_routines();
  return (this->*read_area_)();
}

bool LASreader::read_inside_area_indexed() {
  while (index_->advance(*this)) {
    // A failed read ends reading as it does without the index: retrying the same point
    // would never end, and later runs lie beyond what was read.
    if (!read_raw_point()) return false;
    if (point_is_inside()) return true;
  }
  return false;
}

void LASreader::save_bounding_box() {
  // A second area replaces the first: the box to come back to is still the file's.
  if (inside_ != kAreaNone) return;
  orig_min_x_ = header.min_x;
  orig_min_y_ = header.min_y;
  orig_max_x_ = header.max_x;
  orig_max_y_ = header.max_y;
}

void LASreader::restore_bounding_box() {
  header.min_x = orig_min_x_;
  header.min_y = orig_min_y_;
  header.max_x = orig_max_x_;
  header.max_y = orig_max_y_;
}

void LASreader::install_area(bool meets, bool indexed) {
  if (!meets) {
    read_area_ = &LASreader::read_nothing;
  } else if (index_ != nullptr) {
    // Even a query that finds nothing is believed only once the index has been checked.
    index_found_runs_ = indexed;
    read_area_ = &LASreader::read_inside_area_checking_index;
  } else {
    read_area_ = &LASreader::read_inside_area;
  }
  choose_read_routines();
}

bool LASreader::inside_tile(float ll_x, float ll_y, float size) {
  save_bounding_box();
  inside_ = kAreaTile;
  t_ll_x_ = ll_x;
  t_ll_y_ = ll_y;
  t_size_ = size;
  // The far corner in single precision, as tiles are named and cut.
  t_ur_x_ = ll_x + size;
  t_ur_y_ = ll_y + size;
  header.min_x = ll_x;
  header.min_y = ll_y;
  header.max_x = t_ur_x_ - header.x_scale_factor;
  header.max_y = t_ur_y_ - header.y_scale_factor;
  const bool meets = !(orig_min_x_ > header.max_x || orig_min_y_ > header.max_y ||
                       orig_max_x_ < ll_x || orig_max_y_ < ll_y);
  const bool indexed = meets && index_ != nullptr && index_->query_tile(ll_x, ll_y, size);
  install_area(meets, indexed);
  return meets;
}

bool LASreader::inside_circle(double center_x, double center_y, double radius) {
  save_bounding_box();
  inside_ = kAreaCircle;
  c_center_x_ = center_x;
  c_center_y_ = center_y;
  c_radius_ = radius;
  c_radius_squared_ = radius * radius;
  header.min_x = center_x - radius;
  header.min_y = center_y - radius;
  header.max_x = center_x + radius;
  header.max_y = center_y + radius;
  const bool meets = !(orig_min_x_ > center_x + radius || orig_min_y_ > center_y + radius ||
                       center_x - radius > orig_max_x_ || center_y - radius > orig_max_y_);
  const bool indexed =
      meets && index_ != nullptr && index_->query_circle(center_x, center_y, radius);
  install_area(meets, indexed);
  return meets;
}

bool LASreader::inside_rectangle(double min_x, double min_y, double max_x, double max_y) {
  save_bounding_box();
  inside_ = kAreaRectangle;
  r_min_x_ = min_x;
  r_min_y_ = min_y;
  r_max_x_ = max_x;
  r_max_y_ = max_y;
  header.min_x = min_x;
  header.min_y = min_y;
  header.max_x = max_x;
  header.max_y = max_y;
  const bool meets =
      !(max_x < orig_min_x_ || max_y < orig_min_y_ || min_x > orig_max_x_ || min_y > orig_max_y_);
  const bool indexed =
      meets && index_ != nullptr && index_->query_rectangle(min_x, min_y, max_x, max_y);
  install_area(meets, indexed);
  return meets;
}

void LASreader::clear_area() {
  if (inside_ != kAreaNone) restore_bounding_box();
  inside_ = kAreaNone;
  read_area_ = &LASreader::read_raw_point;
  choose_read_routines();
}
