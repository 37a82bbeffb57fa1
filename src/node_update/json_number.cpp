#include "node_update/json_number.hpp"

#include <charconv>
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
        constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
        std::uint64_t value = 0;
        for (; p != end && is_digit(*p); ++p) {
            const auto digit = static_cast<std::uint64_t>(*p - '0');
            if (value > (max - digit) / 10) {
                token.integer_overflows = true;
            } else {
                value = value * 10 + digit;
            }
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
