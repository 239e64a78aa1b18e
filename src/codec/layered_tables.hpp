#pragma once

#include <cstdint>

// Prediction classes of the layered core codec, indexed by the extended return byte: row =
// number of returns (0-15), column = return number (0-15). Part of the compressed format.

// Which of six kinds of return a point is (single, first, last, intermediate, ...); the
// coordinate differences are predicted per kind.
inline constexpr std::uint8_t kReturnClass6[16][16] = {
    {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5},
    {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3},
    {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5},
};

// How far a return lies from the last one, min(|n - r|, 7): the elevation of the previous
// return at the same depth predicts Z.
constexpr std::uint8_t return_level8(std::uint32_t number_of_returns, std::uint32_t return_number) {
  const std::uint32_t depth = number_of_returns > return_number ? number_of_returns - return_number
                                                                : return_number - number_of_returns;
  return static_cast<std::uint8_t>(depth < 7 ? depth : 7);
}

// How the first, last and other returns differ: 2 for a first return, +1 for a last one.
// Intensity is predicted by it, classification partly.
constexpr std::uint32_t return_position(std::uint32_t return_number,
                                        std::uint32_t number_of_returns) {
  return (return_number == 1 ? 2u : 0u) + (return_number >= number_of_returns ? 1u : 0u);
}

// The classification model of a point: by its reference's classification and whether it is a
// single return.
constexpr std::uint32_t class_model_index(std::uint8_t last_classification,
                                          std::uint32_t position) {
  return ((last_classification * 2u) & 63u) + (position == 3 ? 1u : 0u);
}
