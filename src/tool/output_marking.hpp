#pragma once

#include <cstdint>

#include "tool/noise_settings.hpp"

// Whether an output format can hold the verdict of a marking mode: Terrasolid binary has a
// class but no withheld flag, QFIT neither, so only removing the noise points is left there.
// False after one "ERROR: " line naming what the format lacks; the run must not start,
// because every output would silently lose the marks.
bool output_can_mark(std::uint32_t output_format, NoiseSettings::MarkingMode mode);
