#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "codec/item_coder.hpp"
#include "model/las_item.hpp"
#include "model/las_point.hpp"
#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

// The raw item readers and writers: little-endian copies between the stream and the item's
// bytes in the point record, except POINT14, whose 30 bytes on disk are converted field by
// field to and from the point (its item pointer is the point itself, LASpoint::from_item).
// The stream is handed over with `init` and borrowed.

class LASwriteItemRaw_BYTE final : public LASwriteItemRaw {
 public:
  explicit LASwriteItemRaw_BYTE(std::uint32_t size) : size_(size) {}
  bool write(const std::uint8_t* item, std::uint32_t&) override {
    return outstream->write_bytes(item, size_);
  }

 private:
  std::uint32_t size_;
};

// The items that are copied as they lie: one class per size, each item's name an alias.
template <std::uint32_t kSize>
class LASwriteItemRawCopy final : public LASwriteItemRaw {
 public:
  bool write(const std::uint8_t* item, std::uint32_t&) override {
    return outstream->write_bytes(item, kSize);
  }
};
using LASwriteItemRaw_POINT10_LE = LASwriteItemRawCopy<kPoint10Size>;
using LASwriteItemRaw_GPSTIME11_LE = LASwriteItemRawCopy<8>;
using LASwriteItemRaw_RGB12_LE = LASwriteItemRawCopy<6>;
using LASwriteItemRaw_WAVEPACKET13_LE = LASwriteItemRawCopy<kWavePacketSize>;
using LASwriteItemRaw_RGBNIR14_LE = LASwriteItemRawCopy<8>;

class LASwriteItemRaw_POINT14_LE final : public LASwriteItemRaw {
 public:
  bool write(const std::uint8_t* item, std::uint32_t&) override {
    std::uint8_t bytes[kPoint14Size];
    LASpoint::from_item(item).write_point14(bytes);
    return outstream->write_bytes(bytes, kPoint14Size);
  }
};

class LASreadItemRaw_BYTE final : public LASreadItemRaw {
 public:
  explicit LASreadItemRaw_BYTE(std::uint32_t size) : size_(size) {}
  void read(std::uint8_t* item, std::uint32_t&) override { instream->read_bytes(item, size_); }

 private:
  std::uint32_t size_;
};

template <std::uint32_t kSize>
class LASreadItemRawCopy final : public LASreadItemRaw {
 public:
  void read(std::uint8_t* item, std::uint32_t&) override { instream->read_bytes(item, kSize); }
};
using LASreadItemRaw_POINT10_LE = LASreadItemRawCopy<kPoint10Size>;
using LASreadItemRaw_GPSTIME11_LE = LASreadItemRawCopy<8>;
using LASreadItemRaw_RGB12_LE = LASreadItemRawCopy<6>;
using LASreadItemRaw_WAVEPACKET13_LE = LASreadItemRawCopy<kWavePacketSize>;
using LASreadItemRaw_RGBNIR14_LE = LASreadItemRawCopy<8>;

class LASreadItemRaw_POINT14_LE final : public LASreadItemRaw {
 public:
  void read(std::uint8_t* item, std::uint32_t&) override {
    std::uint8_t bytes[kPoint14Size];
    instream->read_bytes(bytes, kPoint14Size);
    LASpoint::from_item(item).read_point14(bytes);
  }
};

// The raw reader or writer of an item type; nullptr for a value that is no item type.
std::unique_ptr<LASwriteItemRaw> create_raw_item_writer(const LASitem& item);
std::unique_ptr<LASreadItemRaw> create_raw_item_reader(const LASitem& item);

// How a raw point record lies over the items of a point, chosen once per file, so that the
// engines move a whole record with one stream read or write plus one copy per item
// (POINT14 converted). Copies of the fixed item sizes compile to fixed-size moves.
class RawRecordLayout {
 public:
  // False for a value that is no item type and for a fixed-size item of another size.
  bool init(std::span<const LASitem> items);
  std::uint32_t record_size() const { return record_size_; }

  // Record bytes into the items.
  void scatter(const std::uint8_t* record, std::uint8_t* const* items) const {
    switch (shape_) {
      case Shape::COPY_20_8:
        std::memcpy(items[0], record, 20);
        std::memcpy(items[1], record + 20, 8);
        return;
      case Shape::COPY_20_8_6:
        std::memcpy(items[0], record, 20);
        std::memcpy(items[1], record + 20, 8);
        std::memcpy(items[2], record + 28, 6);
        return;
      case Shape::OTHER:
        break;
    }
    for (const Step& step : steps_) {
      const std::uint8_t* from = record + step.offset;
      std::uint8_t* to = items[step.item];
      switch (step.kind) {
        case Step::COPY20:
          std::memcpy(to, from, 20);
          break;
        case Step::COPY8:
          std::memcpy(to, from, 8);
          break;
        case Step::COPY6:
          std::memcpy(to, from, 6);
          break;
        case Step::COPY29:
          std::memcpy(to, from, 29);
          break;
        case Step::COPY:
          std::memcpy(to, from, step.size);
          break;
        case Step::POINT14:
          LASpoint::from_item(to).read_point14(from);
          break;
      }
    }
  }

  // The record bytes of the items after the first into them.
  void scatter_after_first(const std::uint8_t* record, std::uint8_t* const* items) const {
    for (std::size_t i = 1; i < steps_.size(); i++) {
      const Step& step = steps_[i];
      if (step.kind == Step::POINT14) {
        LASpoint::from_item(items[step.item]).read_point14(record + step.offset);
      } else {
        std::memcpy(items[step.item], record + step.offset, step.size);
      }
    }
  }
  // The items after the first into the record bytes (the first was stored there already).
  void gather_after_first(const std::uint8_t* const* items, std::uint8_t* record) const {
    for (std::size_t i = 1; i < steps_.size(); i++) {
      const Step& step = steps_[i];
      if (step.kind == Step::POINT14) {
        LASpoint::from_item(items[step.item]).write_point14(record + step.offset);
      } else {
        std::memcpy(record + step.offset, items[step.item], step.size);
      }
    }
  }

  // Items into the record bytes.
  void gather(const std::uint8_t* const* items, std::uint8_t* record) const {
    switch (shape_) {
      case Shape::COPY_20_8:
        std::memcpy(record, items[0], 20);
        std::memcpy(record + 20, items[1], 8);
        return;
      case Shape::COPY_20_8_6:
        std::memcpy(record, items[0], 20);
        std::memcpy(record + 20, items[1], 8);
        std::memcpy(record + 28, items[2], 6);
        return;
      case Shape::OTHER:
        break;
    }
    for (const Step& step : steps_) {
      const std::uint8_t* from = items[step.item];
      std::uint8_t* to = record + step.offset;
      switch (step.kind) {
        case Step::COPY20:
          std::memcpy(to, from, 20);
          break;
        case Step::COPY8:
          std::memcpy(to, from, 8);
          break;
        case Step::COPY6:
          std::memcpy(to, from, 6);
          break;
        case Step::COPY29:
          std::memcpy(to, from, 29);
          break;
        case Step::COPY:
          std::memcpy(to, from, step.size);
          break;
        case Step::POINT14:
          LASpoint::from_item(from).write_point14(to);
          break;
      }
    }
  }

 private:
  struct Step {
    enum Kind : std::uint8_t { COPY20, COPY8, COPY6, COPY29, COPY, POINT14 };
    Kind kind;
    std::uint32_t item;
    std::uint32_t offset;
    std::uint32_t size;
  };
  // Records of a 20- and an 8-byte item, with or without a 6-byte item after them (point
  // types 1 and 3 without extra bytes, the most common ones) are moved by straight-line
  // code; every other record step by step.
  enum class Shape : std::uint8_t { OTHER, COPY_20_8, COPY_20_8_6 };
  std::vector<Step> steps_;
  std::uint32_t record_size_ = 0;
  Shape shape_ = Shape::OTHER;
};
