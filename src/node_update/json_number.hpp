// JSON numbers: the grammar check of a number token, and its value as the
// 32-bit float of a node's size. A number too large for a 64-bit float is
// out of range.
#pragma once

#include <cstdint>

#include "node_update/json_cursor.hpp"

namespace tavro {

// What one pass over a number's text learns. Its magnitude is
// significand * 10^exponent, exactly when `digits` is at most 19; beyond
// that, the significand holds the first 19 significant digits and the rest
// are only counted.
struct NumberToken {
    const char* end = nullptr;  // just past the number
    bool negative = false;
    bool has_fraction_or_exponent = false;
    bool integer_overflows = false;  // an integer that needs more than 64 bits
    std::uint64_t integer_part = 0;  // an integer's value, unless it overflows
    std::uint64_t significand = 0;
    std::int64_t exponent = 0;          // saturates far beyond the length of any text
    std::int64_t digits = 0;            // significant digits, from the first non-zero one
    const char* first_digit = nullptr;  // the first significant digit, when there is one
};

// Consumes the number that starts at the next character (a minus sign or a
// digit), checking it against the JSON grammar.
[[nodiscard]] bool scan_number(JsonCursor& cursor, NumberToken& token);

// The nearest 32-bit float to a scanned token, rounded once from the exact
// value, with magnitudes beyond the 32-bit range becoming infinities and
// those below it zeros. False when the magnitude is too large for a 64-bit
// float.
[[nodiscard]] bool number_to_f32(const NumberToken& token, float& value) noexcept;

}  // namespace tavro
