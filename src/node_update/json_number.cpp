#include "node_update/json_number.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <limits>

#include "node_update/exact_decimal.hpp"

namespace tavro {
namespace {

bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// Appends the digits from p on to `significand`, wrapping past 64 bits.
const char* accumulate_digits(const char* p, const char* end, std::uint64_t& significand) noexcept {
    for (; p != end && is_digit(*p); ++p) {
        significand = significand * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    return p;
}

// Powers of ten that a 64-bit float holds exactly.
constexpr std::array<double, 23> exact_powers_of_ten = [] {
    std::array<double, 23> powers{};
    double power = 1.0;
    for (double& p : powers) {
        p = power;
        power *= 10.0;
    }
    return powers;
}();

// significand * 10^exponent in 64-bit floats, one exact power of ten at a
// time: rounded once when the exponent is within 22 of zero and the
// significand at most 2^53, both then being exact.
double scaled(std::uint64_t significand, std::int64_t exponent) noexcept {
    auto wide = static_cast<double>(significand);
    while (exponent != 0) {
        const std::int64_t step = std::clamp<std::int64_t>(exponent, -22, 22);
        const double power = exact_powers_of_ten[static_cast<std::size_t>(step < 0 ? -step : step)];
        wide = step < 0 ? wide / power : wide * power;
        exponent -= step;
    }
    return wide;
}

// The common short forms ("48.547714", "2.5e-3"): at most 19 digits making
// a significand of at most 2^53, and a decimal exponent within 22 of zero.
// One division or multiplication gives the 64-bit float nearest to the exact
// value, and narrowing that to 32 bits rounds a second time. The two
// roundings agree except when the first lands exactly halfway between two
// 32-bit floats; such results, and every other form, are left to the exact
// conversion (false). Every value reached here lies between 1e-22 and
// 2^53 * 1e22, inside the normal 32-bit range. Midpoints between 32-bit
// floats are 64-bit floats, so any rounding that keeps order (such as one
// through wider registers first) lands on a midpoint or on the exact value's
// side of it: the argument needs no more.
bool short_decimal_to_f32(const NumberToken& token, float& magnitude) noexcept {
    if (token.digits > 19 || token.significand > std::uint64_t{1} << 53 || token.exponent < -22 ||
        token.exponent > 22) {
        return false;
    }
    const double rounded = scaled(token.significand, token.exponent);
    // Halfway between two 32-bit floats: the 29 bits that narrowing drops
    // are exactly one half of the last bit it keeps.
    constexpr std::uint64_t dropped = (std::uint64_t{1} << 29) - 1;
    if ((std::bit_cast<std::uint64_t>(rounded) & dropped) == std::uint64_t{1} << 28) {
        return false;
    }
    magnitude = static_cast<float>(rounded);
    return true;
}

// Whether the magnitude lies above the midpoint between the finite,
// non-negative float with these bits and the next one up, or on it with
// `bits` odd: whether it rounds to a float above `bits`.
bool rounds_above(const ExactDecimal& exact, std::uint32_t bits) noexcept {
    const std::uint32_t biased = bits >> 23;
    const std::uint32_t significand = biased == 0 ? bits : (bits & 0x7f'ffff) | 0x80'0000;
    // The float is significand * 2^(max(biased, 1) - 150).
    const int order = exact.compare(2 * std::uint64_t{significand} + 1,
                                    static_cast<int>(biased == 0 ? 1 : biased) - 151);
    return order > 0 || (order == 0 && bits % 2 != 0);
}

// Every form the short path leaves: a magnitude far from the 32-bit range is
// decided by its decimal exponent, one near it by exact comparisons with the
// midpoints around an approximation.
bool exact_decimal_to_f32(const NumberToken& token, float& magnitude) noexcept {
    if (token.digits == 0) {
        magnitude = 0.0f;
        return true;
    }
    // 10^(leading - 1) <= magnitude < 10^leading.
    const std::int64_t leading = token.exponent + (token.digits < 19 ? token.digits : 19);
    if (leading <= -46) {  // below 10^-46, under the smallest midpoint 2^-150
        magnitude = 0.0f;
        return true;
    }
    if (leading > 309) {  // beyond 64-bit floats
        return false;
    }
    if (leading >= 40) {  // beyond the midpoint between the largest float and 2^128
        // A 64-bit float overflows from 2^1024 - 2^970 up, its midpoint with
        // 2^1024, which lies between 10^308 and 10^309.
        if (leading == 309 && ExactDecimal(token).compare((std::uint64_t{1} << 54) - 1, 970) >= 0) {
            return false;
        }
        magnitude = std::numeric_limits<float>::infinity();
        return true;
    }
    const ExactDecimal exact(token);
    // A float within a unit in the last place: the significand's rounding
    // and each step of the scaling err by a 2^-53 part, far less.
    constexpr float max = std::numeric_limits<float>::max();
    const double wide = scaled(token.significand, token.exponent);
    std::uint32_t bits = std::bit_cast<std::uint32_t>(wide < max ? static_cast<float>(wide) : max);
    constexpr std::uint32_t infinity_bits = 0x7f80'0000;
    while (bits < infinity_bits && rounds_above(exact, bits)) {
        ++bits;
    }
    while (bits > 0 && !rounds_above(exact, bits - 1)) {
        --bits;
    }
    magnitude = std::bit_cast<float>(bits);
    return true;
}

}  // namespace

bool scan_number(JsonCursor& cursor, NumberToken& token) {
    const char* p = cursor.here();
    const char* const end = cursor.end();
    token = NumberToken{};
    if (*p == '-') {
        token.negative = true;
        ++p;
    }

    if (p == end || !is_digit(*p)) {
        return false;
    }
    // The significand takes every digit, wrapping past 19 of them; when there
    // are more, its first 19 are read again below.
    std::uint64_t significand = 0;
    const char* const integer_digits = p;
    if (*p == '0') {
        ++p;
        if (p != end && is_digit(*p)) {
            return false;
        }
    } else {
        token.first_digit = p;
        p = accumulate_digits(p, end, significand);
        token.digits = p - integer_digits;
    }

    std::int64_t exponent = 0;
    if (p != end && *p == '.') {
        ++p;
        if (p == end || !is_digit(*p)) {
            return false;
        }
        const char* const fraction_digits = p;
        if (token.first_digit == nullptr) {  // "0.": the leading zeros are not significant
            for (; p != end && *p == '0'; ++p) {
            }
            token.first_digit = p;
        }
        const char* const counted = p;
        p = accumulate_digits(p, end, significand);
        token.digits += p - counted;
        exponent = -(p - fraction_digits);
        token.has_fraction_or_exponent = true;
    }
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negative_exponent = p != end && *p == '-';
        if (p != end && (*p == '+' || *p == '-')) {
            ++p;
        }
        if (p == end || !is_digit(*p)) {
            return false;
        }
        // Saturates far beyond any text's length, where the magnitude is
        // beyond every range whatever the digits.
        constexpr std::int64_t cap = 100'000'000'000'000'000;
        std::int64_t written = 0;
        for (; p != end && is_digit(*p); ++p) {
            if (written < cap) {
                written = written * 10 + (*p - '0');
            }
        }
        exponent += negative_exponent ? -written : written;
        token.has_fraction_or_exponent = true;
    }

    if (token.digits > 19) {
        significand = 0;
        int taken = 0;
        for (const char* d = token.first_digit; taken < 19; ++d) {
            if (*d != '.') {
                significand = significand * 10 + static_cast<std::uint64_t>(*d - '0');
                ++taken;
            }
        }
        exponent += token.digits - 19;
    }
    token.significand = significand;
    token.exponent = exponent;

    if (!token.has_fraction_or_exponent) {
        // Twenty digits fit when the nineteen before the last leave room.
        constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
        const auto last = static_cast<std::uint64_t>(p[-1] - '0');
        token.integer_overflows =
            token.digits > 20 || (token.digits == 20 && significand > (max - last) / 10);
        token.integer_part = token.digits <= 19 ? significand : significand * 10 + last;
    }
    token.end = p;
    cursor.move_to(p);
    return true;
}

bool number_to_f32(const NumberToken& token, float& value) noexcept {
    float magnitude = 0.0f;
    if (!token.has_fraction_or_exponent && !token.integer_overflows) {
        // Rounding to nearest is symmetric, so negating the rounded magnitude
        // is the same single rounding as converting the negative integer.
        magnitude = static_cast<float>(token.integer_part);
    } else if (!short_decimal_to_f32(token, magnitude) && !exact_decimal_to_f32(token, magnitude)) {
        return false;
    }
    value = token.negative ? -magnitude : magnitude;
    return true;
}

}  // namespace tavro
