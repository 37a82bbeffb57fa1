// The decimal text of a finite 32-bit float as it appears in a node update:
// the shortest digits that read back as the same float, laid out plainly for
// moderate magnitudes and with an exponent otherwise.
#pragma once

#include <cstddef>

namespace tavro {

// Enough for the longest layout: "-0.00000" followed by nine digits.
inline constexpr std::size_t max_float32_text_size = 24;

// Writes the text of a finite `value` (zeros included, as 0.0 and -0.0) to
// `out`, which must have room for max_float32_text_size characters, and
// returns the number of characters written.
std::size_t write_float32_text(float value, char* out) noexcept;

}  // namespace tavro
