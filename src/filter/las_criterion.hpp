#pragma once

#include <cstddef>
#include <cstdint>

#include "model/las_point.hpp"

// Layers of a point that a criterion reads, as bits of the read engine's selective-decoding
// flags: a compressed reader of point types 6-10 may skip the layers nobody asked for.
// x and y are always decoded and need no bit.
inline constexpr std::uint32_t kLayerZ = 1u << 0;
inline constexpr std::uint32_t kLayerClassification = 1u << 1;
inline constexpr std::uint32_t kLayerFlags = 1u << 2;
inline constexpr std::uint32_t kLayerIntensity = 1u << 3;
inline constexpr std::uint32_t kLayerScanAngle = 1u << 4;
inline constexpr std::uint32_t kLayerUserData = 1u << 5;
inline constexpr std::uint32_t kLayerPointSource = 1u << 6;
inline constexpr std::uint32_t kLayerGpsTime = 1u << 7;
inline constexpr std::uint32_t kLayerRGB = 1u << 8;
inline constexpr std::uint32_t kLayerNIR = 1u << 9;
inline constexpr std::uint32_t kLayerWavepacket = 1u << 10;
inline constexpr std::uint32_t kLayerExtraBytes = 0xFFFF0000u;

// One test of the point filter: decides for each point whether it is dropped.
//
// A criterion may keep state gathered from earlier points (counters, thinning grids);
// `reset` forgets it, so that every pass over a file drops the same points. Not safe for
// concurrent use.
class LAScriterion {
 public:
  virtual ~LAScriterion() = default;
  // The option name without its leading "-" (several options may share one name).
  virtual const char* name() const = 0;
  // Writes the criterion as command-line text ("-name arg arg ", every word followed by a
  // blank) into `buffer` of `size` bytes, always terminated when `size` > 0. Returns the
  // number of characters the whole text needs (as snprintf), which may exceed `size` - 1.
  virtual int write_command(char* buffer, std::size_t size) const = 0;
  // The layers the test reads (kLayer... bits).
  virtual std::uint32_t get_selective_decoding() const { return 0; }
  // True when the point is to be dropped.
  virtual bool filter(const LASpoint& point) = 0;
  virtual void reset() {}
};
