#include "node_update/float_text.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace tavro {
namespace {

// A finite float as its shortest round-trip digits: |value| is
// 0.d1d2...dn * 10^k, where `digits` holds d1...dn as an integer of `count`
// digits (0 with count 0 for a zero).
struct Float32Decimal {
    std::uint32_t digits = 0;
    int count = 0;
    int k = 0;
    bool negative = false;
};

Float32Decimal from_scientific_text(float magnitude) noexcept {
    // The scientific form "d.ddde+XX" carries exactly the shortest digits; a
    // shortest digit string never ends in zero, so nothing needs trimming.
    // Among equally short candidates the standard conversion takes the one
    // nearest the exact value.
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
    const char* const end = result.ptr;

    Float32Decimal out{};
    const char* p = text;
    for (; *p != 'e'; ++p) {
        if (*p != '.') {
            out.digits = out.digits * 10 + static_cast<std::uint32_t>(*p - '0');
            ++out.count;
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

// The fast path takes floats whose value is m * 2^e2 with e2 from -33 to -1
// (after the two extra bits below), about 0.004 to 3.3e7, where node sizes
// usually lie: there every bound of the rounding interval, in units of
// 10^e10 with 10^(e10 + 1) <= 2^e2, is an exact 64-bit product followed by a
// shift. Others go to the standard conversion.
constexpr int kFastMinE2 = -33;

constexpr std::uint64_t kPow10[] = {1,         10,         100,         1000,
                                    10000,     100000,     1000000,     10000000,
                                    100000000, 1000000000, 10000000000, 100000000000};

// floor(e2 * log10(2)) for the e2 of the fast path.
int floor_log10_pow2(int e2) noexcept {
    return (e2 * 78913) >> 18;
}

// Shortest digits by exact integer arithmetic: scale the float and the two
// ends of the interval of reals that round to it to integer units of
// 10^e10, then drop decimal digits while the interval still holds a multiple
// of ten, and round the kept digits of the float itself to nearest, ties to
// even. An end of the interval is part of it exactly when the significand is
// even (round-half-to-even reading).
bool fast_shortest_digits(float magnitude, Float32Decimal& out) noexcept {
    const auto bits = std::bit_cast<std::uint32_t>(magnitude);
    const std::uint32_t exponent_bits = bits >> 23;
    const std::uint32_t fraction = bits & 0x7fffffu;
    const int e2 = static_cast<int>(exponent_bits) - 127 - 23 - 2;
    if (exponent_bits == 0 || e2 < kFastMinE2 || e2 >= 0) {
        return false;
    }
    const std::uint64_t m2 = fraction | (std::uint64_t{1} << 23);
    const bool ends_included = (m2 & 1) == 0;
    const std::uint64_t mv = 4 * m2;
    const std::uint64_t mp = mv + 2;
    // Below a power of two the gap to the next lower float is half as wide.
    const std::uint64_t mm = mv - 1 - (fraction != 0 || exponent_bits <= 1 ? 1 : 0);

    // 10^(e10 + 1) <= 2^e2 < 10^(e10 + 2): the interval, at least two units
    // of 2^e2 wide, spans at least twenty units of 10^e10, so the loop below
    // drops at least one digit, and the digits dropped decide the rounding.
    const int e10 = floor_log10_pow2(e2) - 1;
    const std::uint64_t scale = kPow10[-e10];  // below 2^38, times mp below 2^64
    const int shift = -e2;
    const std::uint64_t low_mask = (std::uint64_t{1} << shift) - 1;
    std::uint64_t vr = mv * scale;
    const bool vr_exact = (vr & low_mask) == 0;
    vr >>= shift;
    std::uint64_t vm = mm * scale;
    const bool vm_exact = (vm & low_mask) == 0;
    vm >>= shift;
    std::uint64_t vp = mp * scale;
    if ((vp & low_mask) == 0 && !ends_included) {
        vp -= std::uint64_t{1} << shift;  // the upper end itself rounds away
    }
    vp >>= shift;
    // Whether vm is exactly the lower end and may be taken.
    bool vm_is_end = ends_included && vm_exact;
    bool vr_rest_zero = vr_exact;  // every digit dropped from vr before the last was 0
    std::uint64_t last_dropped = 0;
    int dropped = 0;
    const auto drop_digit = [&] {
        vr_rest_zero = vr_rest_zero && last_dropped == 0;
        last_dropped = vr % 10;
        vr /= 10;
        vp /= 10;
        vm /= 10;
        ++dropped;
    };
    while (vp / 10 > vm / 10) {
        vm_is_end = vm_is_end && vm % 10 == 0;
        drop_digit();
    }
    if (vm_is_end) {
        // The lower end has trailing zeros of its own: it is a shorter candidate.
        while (vm % 10 == 0) {
            drop_digit();
        }
    }
    if (vr_rest_zero && last_dropped == 5 && vr % 2 == 0) {
        last_dropped = 4;  // an exact tie goes to the even digit
    }
    const bool round_up = (vr == vm && !vm_is_end) || last_dropped >= 5;
    const std::uint64_t digits = vr + (round_up ? 1 : 0);

    // Its number of digits (it is at least 1): floor(log10(2^bit_width)),
    // which 1233 / 4096 gives for every width here, is that or one less.
    const int guess = static_cast<int>(std::bit_width(digits)) * 1233 >> 12;
    const int count = guess + (digits >= kPow10[guess] ? 1 : 0);
    out.digits = static_cast<std::uint32_t>(digits);  // at most nine digits
    out.count = count;
    out.k = e10 + dropped + count;
    return true;
}

// Writes `value` as exactly `count` decimal digits, leading zeros included.
char* put_decimal(char* out, std::uint32_t value, int count) noexcept {
    int i = count;
    while (i >= 2) {
        std::memcpy(out + i - 2, digit_pairs + 2 * (value % 100), 2);
        value /= 100;
        i -= 2;
    }
    if (i == 1) {
        out[0] = static_cast<char>('0' + value);
    }
    return out + count;
}

// Copies `count` characters, at most 16: with two overlapping word copies
// instead of a call for a length known only at run time.
char* copy_short(char* out, const char* text, int count) noexcept {
    const auto n = static_cast<std::size_t>(count);
    if (n >= 8) {
        std::memcpy(out, text, 8);
        std::memcpy(out + n - 8, text + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(out, text, 4);
        std::memcpy(out + n - 4, text + n - 4, 4);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = text[i];
        }
    }
    return out + n;
}

// The n digits of `value` with a point after the first k (0 < k < n <= 9):
// laid out in a local buffer, where the fraction moves over by one whole
// word, so no division by a power of ten chosen at run time is needed.
char* put_point_inside(char* out, std::uint32_t value, int n, int k) noexcept {
    char text[24] = {};
    put_decimal(text, value, n);
    std::uint64_t fraction = 0;  // n - k <= 8 digits
    std::memcpy(&fraction, text + k, sizeof fraction);
    std::memcpy(text + k + 1, &fraction, sizeof fraction);
    text[k] = '.';
    return copy_short(out, text, n + 1);
}

char* put_zeros(char* out, int count) noexcept {
    for (int i = 0; i < count; ++i) {
        *out++ = '0';
    }
    return out;
}

char* put_exponent(char* out, int exponent) noexcept {
    *out++ = 'e';
    return std::to_chars(out, out + 8, exponent).ptr;
}

// The layouts, by the digit count n and k (value = 0.d1...dn * 10^k).
enum class Layout { integer, point_inside, leading_zeros, one_digit_exponent, exponent };

Layout layout_of(int n, int k) noexcept {
    if (k - n >= 0 && k <= 13) {
        return Layout::integer;  // the digits, zeros, ".0"
    }
    if (k > 0 && k <= 13) {
        return Layout::point_inside;
    }
    if (k > -6 && k <= 0) {
        return Layout::leading_zeros;  // "0.", -k zeros, the digits
    }
    return n == 1 ? Layout::one_digit_exponent : Layout::exponent;
}

Float32Decimal float32_decimal(float value) noexcept {
    Float32Decimal out{};
    const float magnitude = std::fabs(value);
    if (magnitude != 0.0f && !fast_shortest_digits(magnitude, out)) {
        out = from_scientific_text(magnitude);
    }
    out.negative = std::signbit(value);
    return out;
}

}  // namespace

char* write_float32_text(float value, char* p) noexcept {
    const Float32Decimal d = float32_decimal(value);
    if (d.negative) {
        *p++ = '-';
    }
    const int n = d.count;
    const int k = d.k;
    if (n == 0) {
        std::memcpy(p, "0.0", 3);
        return p + 3;
    }
    switch (layout_of(n, k)) {
        case Layout::integer:
            p = put_zeros(put_decimal(p, d.digits, n), k - n);
            *p++ = '.';
            *p++ = '0';
            break;
        case Layout::point_inside:
            p = put_point_inside(p, d.digits, n, k);
            break;
        case Layout::leading_zeros:
            *p++ = '0';
            *p++ = '.';
            p = put_decimal(put_zeros(p, -k), d.digits, n);
            break;
        case Layout::one_digit_exponent:
            *p++ = static_cast<char>('0' + d.digits);
            p = put_exponent(p, k - 1);
            break;
        case Layout::exponent: {
            const std::uint32_t scale = static_cast<std::uint32_t>(kPow10[n - 1]);
            *p++ = static_cast<char>('0' + d.digits / scale);
            *p++ = '.';
            p = put_decimal(p, d.digits % scale, n - 1);
            p = put_exponent(p, k - 1);
            break;
        }
    }
    return p;
}

}  // namespace tavro
