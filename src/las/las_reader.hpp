#pragma once

#include <cstdint>
#include <memory>

#include "las/las_reader_hooks.hpp"
#include "model/las_header.hpp"
#include "model/las_point.hpp"

class ByteStreamIn;

// The abstract point source. A reader owns its header and its point (which every
// successful read overwrites), counts the points it delivered and applies, on the way, an
// area of interest, a filter and a transform.
//
// Reading goes through `read_next`, which calls one of a few read routines chosen whenever
// the filter, the transform or the area changes (never per point): the plain stored point,
// the points inside an area (through the index when one is attached), the filtered and/or
// transformed points. Per point this costs one indirect call plus the reader's own
// `read_raw_point`.
//
// Borrowed: the filter and the transform must outlive the reader or be detached first; the
// ignore set is only carried. Owned: the header, the point and the index.
class LASreader {
 public:
  // What the area of interest is (`inside`).
  enum Area : std::uint8_t { kAreaNone = 0, kAreaTile = 1, kAreaCircle = 2, kAreaRectangle = 3 };

  LASheader header;
  LASpoint point;
  std::int64_t points_total = 0;  // points the file holds
  std::int64_t points_done = 0;   // points delivered so far (stored points, before filtering)
  // Whether a file that ends before its header's count says so in a warning; a tool that
  // reads the same file twice turns it off for the second pass, having warned once.
  bool warn_when_cut = true;

  LASreader();
  LASreader(const LASreader&) = delete;
  LASreader& operator=(const LASreader&) = delete;
  virtual ~LASreader();

  // 1 for a plain LAS file, 2 for a compressed one; other formats have their own codes.
  virtual int format_code() const = 0;
  // True only for the reader that applies layer files.
  virtual bool is_layered() const { return false; }
  // Attach (or detach with null) a filter / transform and choose the read routines again.
  virtual void set_filter(LASfilterHook* filter);
  virtual void set_transform(LAStransformHook* transform);
  // Remove the area of interest; the header's bounding box is restored.
  virtual void clear_area();
  // Restrict reading to a square tile [ll, ll + size), a circle or a rectangle [min, max).
  // The header's bounding box becomes that of the area (the old one is restored by
  // clear_area). Returns false when the area does not meet the file's bounding box: reading
  // then delivers nothing.
  virtual bool inside_tile(float ll_x, float ll_y, float size);
  virtual bool inside_circle(double center_x, double center_y, double radius);
  virtual bool inside_rectangle(double min_x, double min_y, double max_x, double max_y);
  // Makes the next read deliver stored point `index`; false when that is not possible.
  virtual bool seek_point(std::int64_t index) = 0;
  // The stream in use, null when closed.
  virtual ByteStreamIn* stream_of() const = 0;
  // Lets go of the engine and, with `close_stream`, of the stream and file.
  virtual void close_reader(bool close_stream = true) = 0;
  // The next stored point, without filter, transform or area. False at the end or on an
  // error (after its message).
  virtual bool read_raw_point() = 0;

  // The next point that passes the area and the filter, transformed. False at the end.
  bool read_next() { return (this->*read_outer_)(); }

  // Zero-copy access to the stored records, for a tool that needs only a few fields of
  // each: true while every stored point is delivered as it is (no transform, area or
  // conversion; a filter only drops points) from uncompressed records laid out like
  // `point.items`. Then `take_raw_records` hands out up to `max` whole records of
  // `point.record_size` bytes that are already buffered (valid until the next read or
  // seek) and counts them as delivered; the records a filter drops are consumed and never
  // handed out, and `point` is then left holding one of the records looked at. It returns
  // 0 when none is buffered whole (a record across two buffer fills, the end of the
  // points): `read_next` then delivers the next point, after which records may be taken
  // again.
  virtual bool delivers_raw_records() const { return false; }
  virtual std::size_t take_raw_records(const std::uint8_t*& records, std::size_t max) {
    (void)records;
    (void)max;
    return 0;
  }

  // True once a read ended on an error (data that cannot be decoded or read) rather than at
  // the end of the points or of a cut file, which only warns. Cleared when the reader opens.
  bool read_failed() const { return read_failed_; }
  // True once the points ended because the file was cut short of what its header (or its
  // layout) announces, in a way the point count does not show; the points it held were
  // delivered and one warning said so. Readers whose header carries a count report a cut
  // file by `points_done < points_total` instead. Cleared when the reader opens.
  bool ended_cut() const { return ended_cut_; }

  LASfilterHook* get_filter() const { return filter_; }
  LAStransformHook* get_transform() const { return transform_; }
  void set_ignore(LASignore* ignore) { ignore_ = ignore; }
  LASignore* get_ignore() const { return ignore_; }
  // Attaches an index (replacing and deleting an earlier one); it is used by the area
  // operations called after this.
  void attach_index(std::unique_ptr<LASindexHook> index);
  LASindexHook* get_index() const { return index_.get(); }

  Area inside() const { return inside_; }
  // Whether a point lies inside the current area (always true without one).
  bool point_is_inside() const;

 protected:
  using ReadRoutine = bool (LASreader::*)();
  // Recomputes the read routines from filter, transform and area. Readers call it after
  // opening.
  void choose_read_routines();
  // Whether read_next reads the stored points straight, with no filter, transform or area.
  bool reads_plain() const { return read_outer_ == &LASreader::read_raw_point; }
  // Whether read_next reads the stored points straight through the filter alone (no
  // transform, no area).
  bool reads_filtered_plain() const {
    return read_outer_ == &LASreader::read_filtered && read_inner_ == &LASreader::read_raw_point;
  }

  bool read_failed_ = false;
  bool ended_cut_ = false;

 private:
  bool read_nothing() { return false; }
  bool read_inside_area();
  bool read_inside_area_indexed();
  bool read_filtered();
  bool read_transformed();
  bool read_filtered_transformed();
  // Saves (or, for a second area, keeps) the header box before an area replaces it.
  void save_bounding_box();
  void restore_bounding_box();
  void install_area(bool meets, bool indexed);

  ReadRoutine read_outer_ = &LASreader::read_raw_point;
  ReadRoutine read_inner_ = &LASreader::read_raw_point;
  ReadRoutine read_area_ = &LASreader::read_raw_point;  // what reads the stored points

  std::unique_ptr<LASindexHook> index_;
  LASfilterHook* filter_ = nullptr;
  LAStransformHook* transform_ = nullptr;
  LASignore* ignore_ = nullptr;

  Area inside_ = kAreaNone;
  float t_ll_x_ = 0, t_ll_y_ = 0, t_size_ = 0, t_ur_x_ = 0, t_ur_y_ = 0;
  double c_center_x_ = 0, c_center_y_ = 0, c_radius_ = 0, c_radius_squared_ = 0;
  double r_min_x_ = 0, r_min_y_ = 0, r_max_x_ = 0, r_max_y_ = 0;
  double orig_min_x_ = 0, orig_min_y_ = 0, orig_max_x_ = 0, orig_max_y_ = 0;
};
