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
//
// An index is a side file that may be stale or another file's: before the reader takes the
// runs of a query it asks `check` whether the index describes the file's points there.
class LASindexHook {
 public:
  // What `check` found. The reader stands where it stood before, unless kLost.
  enum class Check : std::uint8_t {
    kSound,     // the runs of the last query hold every point of the cells it reached
    kUnusable,  // not checked (a reader that cannot go back, points that do not read): say
                // nothing, read every point as without an index
    kStale,     // the index does not describe the file; one WARNING was printed
    kLost,      // the reader could not go back to where it stood; one ERROR was printed
  };

  virtual ~LASindexHook() = default;
  virtual bool query_rectangle(double min_x, double min_y, double max_x, double max_y) = 0;
  virtual bool query_tile(float ll_x, float ll_y, float size) = 0;
  virtual bool query_circle(double center_x, double center_y, double radius) = 0;
  virtual bool advance(LASreader& reader) = 0;
  // Checks the index against the file `reader` has open, whose header bounding box (before
  // any area replaced it) is given, for the last query: by the counts and the extent, and
  // by reading the points of the query's runs. Called once per query, before its first point.
  virtual Check check(LASreader& reader, double file_min_x, double file_min_y, double file_max_x,
                      double file_max_y) = 0;
};

// The classification, return and flag rules of points a tool leaves alone. The reader only
// carries it for the tool; it never looks inside.
class LASignore;
