#include "filter/las_criteria_basic.hpp"

#include <cstdio>

namespace las_criteria {

int write_name(char* buffer, std::size_t size, const char* name) {
  CommandText text(buffer, size);
  text.add("-%s ", name);
  return text.used();
}

int write_bounds(char* buffer, std::size_t size, const char* name, int count,
                 const double* bounds) {
  CommandText text(buffer, size);
  text.add("-%s ", name);
  for (int i = 0; i < count; i++)
    text.add("%lf ", bounds[i]);
  return text.used();
}

int write_bounds(char* buffer, std::size_t size, const char* name, int count, const int* bounds) {
  CommandText text(buffer, size);
  text.add("-%s ", name);
  for (int i = 0; i < count; i++)
    text.add("%d ", bounds[i]);
  return text.used();
}

}  // namespace las_criteria

int LAScriterionKeepTile::write_command(char* buffer, std::size_t size) const {
  return std::snprintf(buffer, size, "-%s %f %f %f ", name(), static_cast<double>(ll_x_),
                       static_cast<double>(ll_y_), static_cast<double>(size_));
}

int LAScriterionKeepCircle::write_command(char* buffer, std::size_t size) const {
  return std::snprintf(buffer, size, "-%s %lf %lf %lf ", name(), center_x_, center_y_, radius_);
}
