#pragma once

#include <cstdint>
#include <vector>

#include "model/las_item.hpp"

// The item lists of the standard LAS point types 0-10. One rule, used both to lay out a
// point record in memory and by the codec descriptor to describe compressed records.

inline constexpr int kMaxPointType = 10;

// Sum of the standard item sizes of a point type (20 for type 0 ... 67 for type 10);
// -1 for a type above 10.
int point_type_base_size(int point_type);

// Builds the item list of `point_type` for records of `point_size` bytes, all versions 0:
// the core item, GPS time, colour, wave packet, then one byte item holding the bytes beyond
// the base size. A record shorter than the base size prints
// "WARNING: point size %d too small by %d bytes for point type %d. assuming point_size of %d"
// and gets no extra bytes. With `legacy_items_for_extended` (codec option bit 0) point
// types 6-10 are described by the items of types 0-5 and their extended fields travel as
// extra bytes. Returns false, leaving `items` empty, for a point type above 10.
bool build_point_type_items(int point_type, int point_size, bool legacy_items_for_extended,
                            std::vector<LASitem>& items);
