#include "node_update/exact_decimal.hpp"

#include <algorithm>
#include <cstddef>

namespace tavro {

// The magnitude is compared through its first 309 significant digits and
// whether a non-zero digit follows them. That is exact against any point
// with at most 309 significant digits: when the point and the magnitude x
// have their leading digit in the same place, the point is a whole multiple
// of the unit u of the last kept digit, so the kept digits d (d <= x < d + u)
// compare with it as x does, except that d equal to the point means x above
// it if a non-zero digit was dropped; otherwise the leading digits decide
// alike for d and x. The midpoints between 32-bit floats are
// (2m + 1) * 2^q with 2m + 1 < 2^25 and q >= -150: integers below 2^128 (39
// digits) for q >= 0, and for q < 0 the odd integer (2m + 1) * 5^-q, below
// 2^25 * 5^150 < 10^113, moved -q places right of the point: at most 113
// digits. The overflow threshold of a 64-bit float, 2^1024 - 2^970, is an
// integer of 309 digits.
//
// A comparison scales both sides by the powers of 2 and 5 that make them
// integers. The kept digits then stay below 10^309 < 2^1027, and the point,
// at most 8 times as large, below 2^1030: 34 limbs hold either.
namespace {

constexpr int max_digits = 309;

}  // namespace

BigUnsigned::BigUnsigned(std::uint64_t value) noexcept {
    for (; value != 0; value >>= 32) {
        limbs_[static_cast<std::size_t>(size_++)] = static_cast<std::uint32_t>(value);
    }
}

void BigUnsigned::multiply_add(std::uint32_t factor, std::uint32_t addend) noexcept {
    std::uint64_t carry = addend;
    for (int i = 0; i < size_; ++i) {
        std::uint32_t& limb = limbs_[static_cast<std::size_t>(i)];
        // At most (2^32 - 1)^2 + 2^32 - 1 < 2^64.
        const std::uint64_t product = std::uint64_t{limb} * factor + carry;
        limb = static_cast<std::uint32_t>(product);
        carry = product >> 32;
    }
    if (carry != 0) {
        limbs_[static_cast<std::size_t>(size_++)] = static_cast<std::uint32_t>(carry);
    }
}

void BigUnsigned::multiply_by_powers(int twos, int fives) noexcept {
    for (; twos > 0; twos -= 31) {
        multiply_add(std::uint32_t{1} << std::min(twos, 31), 0);
    }
    for (; fives > 0; fives -= 13) {  // 5^13 is the largest power of 5 below 2^32
        std::uint32_t power = 1;
        for (int i = std::min(fives, 13); i > 0; --i) {
            power *= 5;
        }
        multiply_add(power, 0);
    }
}

int compare(const BigUnsigned& a, const BigUnsigned& b) noexcept {
    if (a.size_ != b.size_) {
        return a.size_ < b.size_ ? -1 : 1;
    }
    for (auto i = static_cast<std::size_t>(a.size_); i-- > 0;) {
        if (a.limbs_[i] != b.limbs_[i]) {
            return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
        }
    }
    return 0;
}

ExactDecimal::ExactDecimal(const NumberToken& token) noexcept {
    if (token.digits <= 19) {  // the significand holds them all
        digits_ = BigUnsigned(token.significand);
        exponent_ = static_cast<int>(token.exponent);
        return;
    }
    // Nine digits at a time, which 32 bits hold.
    const char* p = token.first_digit;
    int kept = 0;
    std::uint32_t chunk = 0;
    std::uint32_t chunk_unit = 1;
    for (; p != token.end && kept < max_digits; ++p) {
        if (*p >= '0' && *p <= '9') {
            chunk = chunk * 10 + static_cast<std::uint32_t>(*p - '0');
            chunk_unit *= 10;
            ++kept;
        } else if (*p != '.') {
            break;
        }
        if (chunk_unit == 1'000'000'000) {
            digits_.multiply_add(chunk_unit, chunk);
            chunk = 0;
            chunk_unit = 1;
        }
    }
    digits_.multiply_add(chunk_unit, chunk);
    for (; p != token.end && !dropped_non_zero_ && (*p == '.' || (*p >= '0' && *p <= '9')); ++p) {
        dropped_non_zero_ = *p > '0';  // '.' sorts below '0'
    }
    // The significand's first 19 digits end at the token's exponent.
    exponent_ = static_cast<int>(token.exponent + 19 - kept);
}

int ExactDecimal::compare(std::uint64_t odd, int power) const noexcept {
    BigUnsigned left = digits_;
    BigUnsigned right(odd);
    const int twos = exponent_ - power;
    left.multiply_by_powers(std::max(twos, 0), std::max(exponent_, 0));
    right.multiply_by_powers(std::max(-twos, 0), std::max(-exponent_, 0));
    const int order = tavro::compare(left, right);
    return order == 0 && dropped_non_zero_ ? 1 : order;
}

}  // namespace tavro
