#pragma once

#include <cstdint>
#include <random>
#include <vector>

// A synthetic airborne LiDAR tile: sloped, gently rolling ground with a few centimetres of
// measurement noise, buildings with flat and pitched roofs, trees whose pulses give several
// returns, two overlapping flight lines scanned in zig-zag with GPS times in flight order,
// plus injected noise of known position: isolated high points (birds, low clouds) and
// isolated points below the ground (multipath). The same options give the same points.

struct SceneOptions {
  std::uint64_t points = 500000;  // number of points generated
  std::uint32_t seed = 1;
  double density = 6.0;           // pulses per square metre and flight line
  double noise_fraction = 0.001;  // share of injected noise points
  bool feet = false;              // coordinates in US survey feet instead of metres
};

struct ScenePoint {
  double x = 0, y = 0, z = 0;
  double gps_time = 0;
  std::uint16_t intensity = 0;
  std::uint8_t return_number = 1;
  std::uint8_t number_of_returns = 1;
  std::uint8_t classification = 1;
  bool scan_direction = false;
  bool edge_of_flight_line = false;
  std::int8_t scan_angle = 0;  // degrees
  std::uint16_t point_source_ID = 1;
  std::uint16_t red = 0, green = 0, blue = 0, nir = 0;
  bool injected_noise = false;
};

class SceneGenerator {
 public:
  explicit SceneGenerator(const SceneOptions& options);

  // The next point in acquisition order; false once `options.points` were delivered.
  bool next(ScenePoint& point);

  // Extent of the tile in the chosen unit (noise points may lie above or below the z range
  // of the surfaces).
  double min_x() const { return origin_x_; }
  double min_y() const { return origin_y_; }
  double max_x() const { return origin_x_ + size_ * unit_; }
  double max_y() const { return origin_y_ + size_ * unit_; }
  // Side of the square tile in metres.
  double size_metres() const { return size_; }

 private:
  struct Building {
    double x0, y0, x1, y1;  // footprint
    double height;          // eaves height above ground at the centre
    bool pitched;
    bool ridge_along_x;
  };
  struct Tree {
    double x, y, radius, height;
  };
  struct Return {
    double z;
    std::uint8_t classification;
    std::uint16_t intensity;
    std::uint16_t red, green, blue, nir;
  };

  double ground(double x, double y);
  double ground_exact(double x, double y) const;
  const Building* building_at(double x, double y) const;
  const Tree* tree_at(double x, double y) const;
  void next_pulse();
  void make_noise_point(ScenePoint& point);

  SceneOptions options_;
  std::mt19937_64 random_;
  std::normal_distribution<double> gauss_{0.0, 1.0};
  std::uniform_real_distribution<double> uniform_{0.0, 1.0};

  double size_ = 0;  // metres
  double unit_ = 1;  // output units per metre
  double origin_x_ = 0, origin_y_ = 0, origin_z_ = 0;
  double spacing_ = 0;

  std::vector<Building> buildings_;
  std::vector<Tree> trees_;
  // Trees indexed by a coarse grid for constant-time lookups.
  double tree_cell_ = 10;
  std::uint32_t tree_grid_side_ = 0;
  std::vector<std::vector<std::uint32_t>> tree_grid_;

  // Acquisition state.
  std::uint64_t delivered_ = 0;
  int flight_line_ = 0;
  double line_x0_ = 0, line_x1_ = 0;
  double scan_y_ = 0;
  double pulse_x_ = 0;
  bool scanning_east_ = true;
  double gps_time_ = 0;
  std::vector<Return> pending_;
  std::size_t pending_index_ = 0;
  bool pending_edge_ = false;
  double pending_x_ = 0, pending_y_ = 0;
  std::int8_t pending_angle_ = 0;
};
