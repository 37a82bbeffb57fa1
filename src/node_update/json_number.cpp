#include "node_update/json_number.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cstddef>
#include <limits>
#include <system_error>

namespace tavro {
namespace {

bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

const char* skip_digits(const char* p, const char* end) noexcept {
    while (p != end && is_digit(*p)) {
        ++p;
    }
    return p;
}

// Whether a number too large or too small for a 64-bit float has a magnitude
// of at least one, from its decimal exponent: for 0.d1d2... * 10^k with d1
// non-zero, whether k > 0. Counts saturate far beyond anything that matters.
bool magnitude_at_least_one(const NumberToken& token) noexcept {
    constexpr std::int64_t cap = 1'000'000'000'000'000'000;
    const char* p = token.begin + (token.negative ? 1 : 0);
    const char* const end = token.end;

    std::int64_t k = 0;
    if (*p != '0') {
        for (; p != end && is_digit(*p); ++p) {
            k = k < cap ? k + 1 : cap;
        }
    } else {
        ++p;
        if (p != end && *p == '.') {
            for (++p; p != end && *p == '0'; ++p) {
                k = k > -cap ? k - 1 : -cap;
            }
        }
    }
    while (p != end && *p != 'e' && *p != 'E') {
        ++p;
    }
    if (p == end) {
        return k > 0;
    }
    ++p;
    const bool negative_exponent = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    std::int64_t exponent = 0;
    for (; p != end; ++p) {
        exponent = exponent < cap / 10 ? exponent * 10 + (*p - '0') : cap;
    }
    return (negative_exponent ? k - exponent : k + exponent) > 0;
}

// The value of the digits [begin, end), or as much of it as fits in 64 bits
// with `overflows` set.
std::uint64_t checked_integer(const char* begin, const char* end, bool& overflows) noexcept {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char* p = begin; p != end; ++p) {
        const auto digit = static_cast<std::uint64_t>(*p - '0');
        if (value > (max - digit) / 10) {
            overflows = true;
        } else {
            value = value * 10 + digit;
        }
    }
    return value;
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

// The common short forms ("48.547714", "2.5e-3"): at most 19 digits making
// a significand of at most 2^53, and a decimal exponent within 22 of zero.
// Both are then exact 64-bit floats, so one division or multiplication gives
// the 64-bit float nearest to the exact value, and narrowing that to 32 bits
// rounds a second time. The two roundings agree except when the first lands
// exactly halfway between two 32-bit floats; such results, and every other
// form, are left to the general conversion (false). Every value reached here
// lies between 1e-22 and 2^53 * 1e22, inside the normal 32-bit range.
bool short_decimal_to_f32(const NumberToken& token, float& value) noexcept {
    const char* p = token.begin + (token.negative ? 1 : 0);
    const char* const end = token.end;
    std::uint64_t significand = 0;
    int digits = 0;
    int exponent = 0;
    for (; p != end && is_digit(*p); ++p, ++digits) {
        significand = significand * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (p != end && *p == '.') {
        for (++p; p != end && is_digit(*p); ++p, ++digits, --exponent) {
            significand = significand * 10 + static_cast<std::uint64_t>(*p - '0');
        }
    }
    if (digits > 19 || significand > std::uint64_t{1} << 53) {
        return false;
    }
    if (p != end) {
        ++p;  // past 'e' or 'E'
        const bool negative_exponent = *p == '-';
        if (*p == '-' || *p == '+') {
            ++p;
        }
        int written = 0;
        for (; p != end; ++p) {
            written = written * 10 + (*p - '0');
            if (written > 100) {
                return false;
            }
        }
        exponent += negative_exponent ? -written : written;
    }
    if (exponent < -22 || exponent > 22) {
        return false;
    }
    double wide = static_cast<double>(significand);
    wide = exponent < 0 ? wide / exact_powers_of_ten[static_cast<std::size_t>(-exponent)]
                        : wide * exact_powers_of_ten[static_cast<std::size_t>(exponent)];
    // Halfway between two 32-bit floats: the 29 bits that narrowing drops
    // are exactly one half of the last bit it keeps.
    constexpr std::uint64_t dropped = (std::uint64_t{1} << 29) - 1;
    if ((std::bit_cast<std::uint64_t>(wide) & dropped) == std::uint64_t{1} << 28) {
        return false;
    }
    const auto magnitude = static_cast<float>(wide);
    value = token.negative ? -magnitude : magnitude;
    return true;
}

}  // namespace

bool scan_number(JsonCursor& cursor, NumberToken& token) {
    const char* p = cursor.here();
    const char* const end = cursor.end();
    token = NumberToken{};
    token.begin = p;
    if (*p == '-') {
        token.negative = true;
        ++p;
    }

    if (p == end || !is_digit(*p)) {
        return cursor.fail(ErrorKind::json_number);
    }
    if (*p == '0') {
        ++p;
        if (p != end && is_digit(*p)) {
            return cursor.fail(ErrorKind::json_number);
        }
    } else {
        // Nineteen digits always fit in 64 bits; only a longer integer part
        // is read again with a check on every step.
        const char* const digits = p;
        std::uint64_t value = 0;
        for (; p != end && is_digit(*p); ++p) {
            value = value * 10 + static_cast<std::uint64_t>(*p - '0');
        }
        if (p - digits > 19) {
            value = checked_integer(digits, p, token.integer_overflows);
        }
        token.integer_part = value;
    }

    if (p != end && *p == '.') {
        ++p;
        if (p == end || !is_digit(*p)) {
            return cursor.fail(ErrorKind::json_number);
        }
        p = skip_digits(p, end);
        token.has_fraction_or_exponent = true;
    }
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p != end && (*p == '+' || *p == '-')) {
            ++p;
        }
        if (p == end || !is_digit(*p)) {
            return cursor.fail(ErrorKind::json_number);
        }
        p = skip_digits(p, end);
        token.has_fraction_or_exponent = true;
    }
    token.end = p;
    cursor.move_to(p);
    return true;
}

bool number_to_f32(const NumberToken& token, float& value) noexcept {
    if (!token.has_fraction_or_exponent && !token.integer_overflows) {
        // Rounding to nearest is symmetric, so negating the rounded magnitude
        // is the same single rounding as converting the negative integer.
        const auto magnitude = static_cast<float>(token.integer_part);
        value = token.negative ? -magnitude : magnitude;
        return true;
    }
    if (short_decimal_to_f32(token, value)) {
        return true;
    }
    // Straight from the decimal text to 32 bits: a detour through a 64-bit
    // float rounds twice, and when the first rounding lands exactly between
    // two 32-bit floats the second can pick the wrong one; 7.038531e-26, the
    // shortest text of a 32-bit float, would read back as its neighbour.
    const auto result = std::from_chars(token.begin, token.end, value);
    if (result.ec != std::errc::result_out_of_range) {
        return true;
    }
    const bool negative = token.negative;
    if (!magnitude_at_least_one(token)) {
        value = negative ? -0.0f : 0.0f;
        return true;
    }
    double wide = 0.0;
    if (std::from_chars(token.begin, token.end, wide).ec == std::errc::result_out_of_range) {
        return false;
    }
    const float infinity = std::numeric_limits<float>::infinity();
    value = negative ? -infinity : infinity;
    return true;
}

}  // namespace tavro
