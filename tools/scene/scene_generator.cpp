#include "scene/scene_generator.hpp"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kSurveyFootInMetres = 1200.0 / 3937.0;
constexpr double kPulseInterval = 1.0 / 100000.0;  // 100 kHz scanner
constexpr double kLineOverlap = 0.2;               // share of the tile both lines cover
constexpr double kMaxScanAngle = 20.0;             // degrees at the swath edges

std::uint16_t clamp16(double value) {
  return static_cast<std::uint16_t>(std::clamp(value, 0.0, 65535.0));
}

// Colours come from an orthophoto: 8-bit channels stored in the high byte, as most
// producers colour their points.
std::uint16_t photo16(double value) {
  return static_cast<std::uint16_t>(static_cast<int>(std::clamp(value, 0.0, 65535.0)) / 256 * 256);
}

// Smooth ground texture in [0, 1] as an orthophoto shows it: patches of a few metres.
double texture(double x, double y) {
  const double t = 0.5 + 0.25 * std::sin(x / 3.1) * std::cos(y / 2.7) +
                   0.15 * std::sin(x / 11.0 + y / 7.0) + 0.08 * std::sin(x / 0.9 - y / 1.3);
  return std::clamp(t, 0.0, 1.0);
}

}  // namespace

SceneGenerator::SceneGenerator(const SceneOptions& options)
    : options_(options), random_(options.seed) {
  options_.density = std::max(options_.density, 0.05);
  // About 1.3 returns per pulse and (1 + overlap) coverage; the area is sized so that the
  // two flight lines deliver roughly the requested number of points.
  const double pulses_per_square_metre = options_.density * (1.0 + kLineOverlap) * 1.3;
  size_ = std::max(30.0, std::sqrt(static_cast<double>(options_.points) / pulses_per_square_metre));
  unit_ = options_.feet ? 1.0 / kSurveyFootInMetres : 1.0;
  origin_x_ = std::floor(431000.0 * unit_);
  origin_y_ = std::floor(5170000.0 * unit_);
  origin_z_ = 120.0;
  spacing_ = 1.0 / std::sqrt(options_.density);

  // Buildings: about one per 60 x 60 m, placed without overlapping each other.
  const int building_count = static_cast<int>(size_ * size_ / 3600.0);
  for (int attempt = 0;
       attempt < building_count * 20 && static_cast<int>(buildings_.size()) < building_count;
       attempt++) {
    Building b;
    const double w = 8.0 + 22.0 * uniform_(random_);
    const double h = 8.0 + 22.0 * uniform_(random_);
    b.x0 = uniform_(random_) * (size_ - w);
    b.y0 = uniform_(random_) * (size_ - h);
    b.x1 = b.x0 + w;
    b.y1 = b.y0 + h;
    b.height = 4.0 + 11.0 * uniform_(random_);
    b.pitched = uniform_(random_) < 0.5;
    b.ridge_along_x = w > h;
    bool free = true;
    for (const Building& other : buildings_) {
      if (b.x0 < other.x1 + 5 && other.x0 < b.x1 + 5 && b.y0 < other.y1 + 5 &&
          other.y0 < b.y1 + 5) {
        free = false;
        break;
      }
    }
    if (free) buildings_.push_back(b);
  }

  // Trees: about one per 150 square metres, none standing in a building.
  const int tree_count = static_cast<int>(size_ * size_ / 150.0);
  for (int i = 0; i < tree_count; i++) {
    Tree t;
    t.x = uniform_(random_) * size_;
    t.y = uniform_(random_) * size_;
    t.radius = 1.5 + 3.5 * uniform_(random_);
    t.height = 6.0 + 19.0 * uniform_(random_);
    bool clear = true;
    for (const Building& b : buildings_) {
      if (t.x > b.x0 - t.radius && t.x < b.x1 + t.radius && t.y > b.y0 - t.radius &&
          t.y < b.y1 + t.radius) {
        clear = false;
        break;
      }
    }
    if (clear) trees_.push_back(t);
  }
  tree_grid_side_ = static_cast<std::uint32_t>(size_ / tree_cell_) + 1;
  tree_grid_.resize(static_cast<std::size_t>(tree_grid_side_) * tree_grid_side_);
  for (std::uint32_t i = 0; i < trees_.size(); i++) {
    const Tree& t = trees_[i];
    const auto c0 = static_cast<std::uint32_t>(std::max(0.0, (t.x - t.radius) / tree_cell_));
    const auto c1 =
        std::min(tree_grid_side_ - 1, static_cast<std::uint32_t>((t.x + t.radius) / tree_cell_));
    const auto r0 = static_cast<std::uint32_t>(std::max(0.0, (t.y - t.radius) / tree_cell_));
    const auto r1 =
        std::min(tree_grid_side_ - 1, static_cast<std::uint32_t>((t.y + t.radius) / tree_cell_));
    for (std::uint32_t r = r0; r <= r1; r++) {
      for (std::uint32_t c = c0; c <= c1; c++)
        tree_grid_[r * tree_grid_side_ + c].push_back(i);
    }
  }

  // First flight line: the western part of the tile, flown northwards.
  flight_line_ = 0;
  line_x0_ = 0.0;
  line_x1_ = size_ * (0.5 + kLineOverlap / 2);
  scan_y_ = 0.0;
  pulse_x_ = line_x0_ - spacing_;
  scanning_east_ = true;
  gps_time_ = 301000.0;
}

double SceneGenerator::ground_exact(double x, double y) const {
  return origin_z_ + 0.02 * x + 0.01 * y + 3.0 * std::sin(x / 80.0) * std::cos(y / 60.0);
}

double SceneGenerator::ground(double x, double y) {
  return ground_exact(x, y) + 0.03 * gauss_(random_);
}

const SceneGenerator::Building* SceneGenerator::building_at(double x, double y) const {
  for (const Building& b : buildings_) {
    if (x >= b.x0 && x < b.x1 && y >= b.y0 && y < b.y1) return &b;
  }
  return nullptr;
}

const SceneGenerator::Tree* SceneGenerator::tree_at(double x, double y) const {
  if (x < 0 || y < 0) return nullptr;
  const auto c = static_cast<std::uint32_t>(x / tree_cell_);
  const auto r = static_cast<std::uint32_t>(y / tree_cell_);
  if (c >= tree_grid_side_ || r >= tree_grid_side_) return nullptr;
  for (std::uint32_t index : tree_grid_[r * tree_grid_side_ + c]) {
    const Tree& t = trees_[index];
    const double dx = x - t.x, dy = y - t.y;
    if (dx * dx + dy * dy < t.radius * t.radius) return &t;
  }
  return nullptr;
}

void SceneGenerator::next_pulse() {
  // Advance along the scan line; at its end turn around and step to the next line.
  const double step = scanning_east_ ? spacing_ : -spacing_;
  pulse_x_ += step;
  if (pulse_x_ > line_x1_ || pulse_x_ < line_x0_) {
    scanning_east_ = !scanning_east_;
    pulse_x_ = scanning_east_ ? line_x0_ : line_x1_;
    const bool northwards = (flight_line_ % 2) == 0;
    scan_y_ += northwards ? spacing_ : -spacing_;
    if (scan_y_ > size_ || scan_y_ < 0) {
      // Next flight line: the other half of the tile, flown the other way, after a turn.
      flight_line_++;
      const bool west = (flight_line_ % 2) == 0;
      line_x0_ = west ? 0.0 : size_ * (0.5 - kLineOverlap / 2);
      line_x1_ = west ? size_ * (0.5 + kLineOverlap / 2) : size_;
      scan_y_ = west ? 0.0 : size_;
      scanning_east_ = true;
      pulse_x_ = line_x0_;
      gps_time_ += 120.0;
    }
  }
  gps_time_ += kPulseInterval;
  const double next_x = pulse_x_ + (scanning_east_ ? spacing_ : -spacing_);
  pending_edge_ = next_x > line_x1_ || next_x < line_x0_;

  const double x = std::clamp(pulse_x_ + 0.2 * spacing_ * gauss_(random_), 0.0, size_);
  const double y = std::clamp(scan_y_ + 0.2 * spacing_ * gauss_(random_), 0.0, size_);
  pending_x_ = x;
  pending_y_ = y;
  const double centre = 0.5 * (line_x0_ + line_x1_);
  const double half = 0.5 * (line_x1_ - line_x0_);
  pending_angle_ =
      static_cast<std::int8_t>(std::lround((pulse_x_ - centre) / half * kMaxScanAngle));

  pending_.clear();
  pending_index_ = 0;
  const double g = ground(x, y);
  auto grass = [&](double z, std::uint8_t classification) {
    const double shade = texture(x, y);
    return Return{z,
                  classification,
                  clamp16(450 + 200 * shade + 30 * gauss_(random_)),
                  photo16(22000 + 9000 * shade),
                  photo16(26000 + 8000 * shade),
                  photo16(15000 + 5000 * shade),
                  photo16(30000 + 8000 * shade)};
  };

  if (const Building* b = building_at(x, y)) {
    double roof = ground_exact(0.5 * (b->x0 + b->x1), 0.5 * (b->y0 + b->y1)) + b->height;
    if (b->pitched) {
      // Gable roof: 35 % of the half-width as rise at the ridge.
      const double half_width = b->ridge_along_x ? 0.5 * (b->y1 - b->y0) : 0.5 * (b->x1 - b->x0);
      const double from_ridge = b->ridge_along_x ? std::fabs(y - 0.5 * (b->y0 + b->y1))
                                                 : std::fabs(x - 0.5 * (b->x0 + b->x1));
      roof += 0.7 * (half_width - from_ridge);
    }
    const double tone = texture(b->x0, b->y0);  // one roof, one colour
    pending_.push_back(Return{roof + 0.02 * gauss_(random_), 6,
                              clamp16(1100 + 300 * tone + 40 * gauss_(random_)),
                              photo16(40000 + 10000 * tone), photo16(18000 + 6000 * tone),
                              photo16(15000 + 5000 * tone), photo16(20000 + 4000 * tone)});
  } else if (const Tree* t = tree_at(x, y)) {
    const double dx = x - t->x, dy = y - t->y;
    const double d2 = (dx * dx + dy * dy) / (t->radius * t->radius);
    const double top = ground_exact(t->x, t->y) + t->height * (1.0 - 0.35 * d2);
    auto leaf = [&](double z, std::uint8_t classification) {
      const double shade = texture(x + 17.0, y - 5.0);
      return Return{z,
                    classification,
                    clamp16(180 + 150 * shade + 25 * gauss_(random_)),
                    photo16(9000 + 6000 * shade),
                    photo16(20000 + 12000 * shade),
                    photo16(8000 + 5000 * shade),
                    photo16(45000 + 12000 * shade)};
    };
    pending_.push_back(leaf(top - 0.3 * std::fabs(gauss_(random_)), 5));
    if (uniform_(random_) < 0.85) {
      const int intermediate = static_cast<int>(uniform_(random_) * 3.0);  // 0..2
      double z = top;
      for (int i = 0; i < intermediate; i++) {
        z -= (0.15 + 0.35 * uniform_(random_)) * t->height;
        if (z < g + 1.0) break;
        pending_.push_back(leaf(z, 4));
      }
      if (uniform_(random_) < 0.75) {
        pending_.push_back(grass(g, 2));
      } else {
        pending_.push_back(leaf(g + 0.3 + 1.5 * uniform_(random_), 3));
      }
    }
  } else {
    pending_.push_back(grass(g, 2));
  }

  const std::uint64_t remaining = options_.points - delivered_;
  if (pending_.size() > remaining) pending_.resize(static_cast<std::size_t>(remaining));
}

void SceneGenerator::make_noise_point(ScenePoint& point) {
  // Close to the current pulse in space and time, so the stream stays in flight order.
  const double x = std::clamp(pulse_x_ + 3.0 * gauss_(random_), 0.0, size_);
  const double y = std::clamp(scan_y_ + 3.0 * gauss_(random_), 0.0, size_);
  const double g = ground_exact(x, y);
  const double pick = uniform_(random_);
  double z;
  if (pick < 0.45) {
    z = g + 20.0 + 130.0 * uniform_(random_);  // birds
  } else if (pick < 0.6) {
    z = g + 250.0 + 400.0 * uniform_(random_);  // low clouds
  } else {
    z = g - 2.0 - 23.0 * uniform_(random_);  // multipath below the ground
  }
  point = ScenePoint{};
  point.x = origin_x_ + x * unit_;
  point.y = origin_y_ + y * unit_;
  point.z = z * unit_;
  point.gps_time = gps_time_;
  point.intensity = clamp16(10 + 50 * uniform_(random_));
  point.classification = 1;
  point.scan_direction = scanning_east_;
  point.scan_angle = pending_angle_;
  point.point_source_ID = static_cast<std::uint16_t>(flight_line_ + 1);
  point.red = point.green = point.blue = clamp16(60000 * uniform_(random_));
  point.nir = clamp16(30000 * uniform_(random_));
  point.injected_noise = true;
}

bool SceneGenerator::next(ScenePoint& point) {
  if (delivered_ >= options_.points) return false;
  if (pending_index_ >= pending_.size() && uniform_(random_) < options_.noise_fraction) {
    make_noise_point(point);
    delivered_++;
    return true;
  }
  while (pending_index_ >= pending_.size())
    next_pulse();
  const Return& r = pending_[pending_index_];
  point = ScenePoint{};
  point.x = origin_x_ + pending_x_ * unit_;
  point.y = origin_y_ + pending_y_ * unit_;
  point.z = r.z * unit_;
  point.gps_time = gps_time_;
  point.intensity = r.intensity;
  point.return_number = static_cast<std::uint8_t>(pending_index_ + 1);
  point.number_of_returns = static_cast<std::uint8_t>(pending_.size());
  point.classification = r.classification;
  point.scan_direction = scanning_east_;
  point.edge_of_flight_line = pending_edge_;
  point.scan_angle = pending_angle_;
  point.point_source_ID = static_cast<std::uint16_t>(flight_line_ + 1);
  point.red = r.red;
  point.green = r.green;
  point.blue = r.blue;
  point.nir = r.nir;
  pending_index_++;
  delivered_++;
  return true;
}
