#pragma once

#include <cstdint>

class LASpoint;
class LASreader;

// The reader applies point filters, transforms and spatial indexes that live in libraries
// built on top of this one. It knows them only through these small interfaces, which those
// classes implement. A reader borrows its filter and transform (the factory that made them
// keeps them alive for every reader it opens) and owns its index.

// Decides which points a reader drops.
class LASfilterHook {
 public:
  virtual ~LASfilterHook() = default;
  // True when the point is to be dropped.
  virtual bool filter(const LASpoint& point) = 0;
  // Forgets any state gathered from earlier points (called when a file is read again).
  virtual void reset() {}
};

// Changes each point a reader delivers.
class LAStransformHook {
 public:
  virtual ~LAStransformHook() = default;
  virtual void transform(LASpoint& point) = 0;
  virtual void reset() {}
  // Called by a reader when it is destroyed: warns about what the last pass could not
  // store (coordinates beyond the 32-bit integers).
  virtual void report_overflows() const {}
};

// A spatial index that turns an area of interest into runs of point numbers. The query
// operations return true when at least one run results; `advance` positions the reader
// (through LASreader::seek_point) for its next point and returns false once the runs are
// used up.
class LASindexHook {
 public:
  virtual ~LASindexHook() = default;
  virtual bool query_rectangle(double min_x, double min_y, double max_x, double max_y) = 0;
  virtual bool query_tile(float ll_x, float ll_y, float size) = 0;
  virtual bool query_circle(double center_x, double center_y, double radius) = 0;
  virtual bool advance(LASreader& reader) = 0;
};

// The classification, return and flag rules of points a tool leaves alone. The reader only
// carries it for the tool; it never looks inside.
class LASignore;
