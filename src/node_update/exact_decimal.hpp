// A decimal number held exactly enough to be compared with the points where
// rounding to a float changes: the midpoints between neighbouring 32-bit
// floats and the magnitude from which a 64-bit float overflows. The numbers
// that need this are rare (long digit strings, large exponents, exact ties),
// so schoolbook arithmetic on 32-bit limbs serves.
#pragma once

#include <array>
#include <cstdint>

#include "node_update/json_number.hpp"

namespace tavro {

// An unsigned integer of up to 34 limbs, enough for every comparison below
// (see exact_decimal.cpp).
class BigUnsigned {
  public:
    explicit BigUnsigned(std::uint64_t value) noexcept;

    // this = this * factor + addend.
    void multiply_add(std::uint32_t factor, std::uint32_t addend) noexcept;
    // this = this * 2^twos * 5^fives.
    void multiply_by_powers(int twos, int fives) noexcept;

    // Negative, zero or positive as a is below, equal to or above b.
    friend int compare(const BigUnsigned& a, const BigUnsigned& b) noexcept;

  private:
    std::array<std::uint32_t, 34> limbs_{};  // least significant first
    int size_ = 0;                           // limbs in use; the top one is not zero
};

class ExactDecimal {
  public:
    // Reads the token's digits, once. The token has a non-zero digit and a
    // magnitude between 10^-46 and 10^309.
    explicit ExactDecimal(const NumberToken& token) noexcept;

    // Negative, zero or positive as the token's magnitude is below, at or
    // above odd * 2^power: a point with at most 309 significant decimal
    // digits, no more than 8 times the magnitude.
    int compare(std::uint64_t odd, int power) const noexcept;

  private:
    BigUnsigned digits_{0};          // the first (up to) 309 significant digits
    int exponent_ = 0;               // the power of ten of the last of them
    bool dropped_non_zero_ = false;  // a non-zero digit follows them
};

}  // namespace tavro
