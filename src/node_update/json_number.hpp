// JSON numbers: the grammar check of a number token, and its value under the
// rules the node update fields use. An integer without fraction or exponent
// that fits in 64 bits (signed when negative) stays an integer; everything
// else, the number -0 included, counts as a floating-point number, and one
// too large for a 64-bit float is out of range.
#pragma once

#include <cstdint>
#include <string>

#include "node_update/json_cursor.hpp"

namespace tavro {

struct NumberToken {
    const char* begin = nullptr;
    const char* end = nullptr;
    bool negative = false;
    bool has_fraction_or_exponent = false;
    bool integer_overflows = false;  // the integer part needs more than 64 bits
    std::uint64_t integer_part = 0;  // valid unless integer_overflows
};

// Consumes the number that starts at the next character (a minus sign or a
// digit), checking it against the JSON grammar: "invalid number" otherwise.
[[nodiscard]] bool scan_number(JsonCursor& cursor, NumberToken& token);

struct NumberValue {
    enum class Kind : std::uint8_t { unsigned_integer, negative_integer, floating };
    Kind kind = Kind::unsigned_integer;
    std::uint64_t magnitude = 0;  // the integer kinds: the absolute value
    double floating = 0.0;        // the floating kind
};

// The value of a scanned token; false when its magnitude is too large for a
// 64-bit float. A magnitude too small for one becomes a zero of its sign.
[[nodiscard]] bool evaluate_number(const NumberToken& token, NumberValue& value) noexcept;

// The nearest 32-bit float to a scanned token, rounded once from the exact
// value, with magnitudes beyond the 32-bit range becoming infinities and
// those below it zeros. False when the magnitude is too large for a 64-bit
// float, the same bound evaluate_number applies.
[[nodiscard]] bool number_to_f32(const NumberToken& token, float& value) noexcept;

// The number for a failure description: "integer `-3`", "floating point `1.5`".
std::string describe_number(const NumberValue& value);

}  // namespace tavro
