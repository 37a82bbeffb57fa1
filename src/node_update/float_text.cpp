#include "node_update/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace tavro {
namespace {

// The shortest round-trip digits of a positive finite float and the power of
// ten of their first digit: value = 0.d1d2...dn * 10^k.
struct ShortestDigits {
    char digits[12];
    int count;
    int k;
};

ShortestDigits shortest_digits(float magnitude) noexcept {
    // The scientific form "d.ddde+XX" carries exactly the shortest digits; a
    // shortest digit string never ends in zero, so nothing needs trimming.
    // Among equally short candidates the standard conversion takes the one
    // nearest the exact value.
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
    const char* const end = result.ptr;

    ShortestDigits out{};
    const char* p = text;
    out.digits[out.count++] = *p++;
    if (*p == '.') {
        ++p;
        while (*p != 'e') {
            out.digits[out.count++] = *p++;
        }
    }
    ++p;  // 'e'
    const bool negative_exponent = *p == '-';
    ++p;  // the exponent always carries a sign
    int exponent = 0;
    std::from_chars(p, end, exponent);
    out.k = (negative_exponent ? -exponent : exponent) + 1;
    return out;
}

char* put_zeros(char* out, int count) noexcept {
    for (int i = 0; i < count; ++i) {
        *out++ = '0';
    }
    return out;
}

char* put_digits(char* out, const char* digits, int count) noexcept {
    std::memcpy(out, digits, static_cast<std::size_t>(count));
    return out + count;
}

char* put_exponent(char* out, int exponent) noexcept {
    *out++ = 'e';
    return std::to_chars(out, out + 8, exponent).ptr;
}

}  // namespace

std::size_t write_float32_text(float value, char* out) noexcept {
    char* p = out;
    if (std::signbit(value)) {
        *p++ = '-';
    }
    if (value == 0.0f) {
        std::memcpy(p, "0.0", 3);
        return static_cast<std::size_t>(p + 3 - out);
    }

    const ShortestDigits d = shortest_digits(std::fabs(value));
    const int n = d.count;
    const int k = d.k;
    const int e = k - n;  // value = digits * 10^e
    if (e >= 0 && k <= 13) {
        p = put_digits(p, d.digits, n);
        p = put_zeros(p, e);
        *p++ = '.';
        *p++ = '0';
    } else if (k > 0 && k <= 13) {
        p = put_digits(p, d.digits, k);
        *p++ = '.';
        p = put_digits(p, d.digits + k, n - k);
    } else if (k > -6 && k <= 0) {
        *p++ = '0';
        *p++ = '.';
        p = put_zeros(p, -k);
        p = put_digits(p, d.digits, n);
    } else if (n == 1) {
        *p++ = d.digits[0];
        p = put_exponent(p, k - 1);
    } else {
        *p++ = d.digits[0];
        *p++ = '.';
        p = put_digits(p, d.digits + 1, n - 1);
        p = put_exponent(p, k - 1);
    }
    return static_cast<std::size_t>(p - out);
}

}  // namespace tavro
