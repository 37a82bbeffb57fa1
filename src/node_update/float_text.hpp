// The decimal text of a finite 32-bit float as it appears in a node update:
// the shortest digits that read back as the same float, laid out plainly for
// moderate magnitudes and with an exponent otherwise.
#pragma once

#include <cstddef>

namespace tavro {

// The texts of 00 to 99, two characters each: decimal numbers are written
// two digits at a time.
inline constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Enough for the longest layout: "-0.00000" followed by nine digits.
inline constexpr std::size_t max_float32_text_size = 24;

// Writes the text of a finite `value` (zeros included, as 0.0 and -0.0) to
// `out`, which must have room for max_float32_text_size characters, and
// returns its end.
char* write_float32_text(float value, char* out) noexcept;

}  // namespace tavro
