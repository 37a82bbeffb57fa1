// The size writer finds the shortest digits itself for common magnitudes and
// asks the standard conversion for the rest: both must give the same digits,
// the nearest of the shortest candidates, for every float.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "node_update/float_text.hpp"

namespace tavro {
namespace {

// The significant digits and the value of a text, which together fix it.
struct Reading {
    std::string digits;
    std::uint32_t bits = 0;
    friend bool operator==(const Reading&, const Reading&) = default;
};

Reading reading_of(const char* begin, const char* end) {
    Reading r;
    float value = 0.0f;
    std::from_chars(begin, end, value);
    r.bits = std::bit_cast<std::uint32_t>(value);
    for (const char* p = begin; p != end && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9') {
            r.digits += *p;
        }
    }
    r.digits.erase(0, r.digits.find_first_not_of('0'));
    r.digits.erase(r.digits.find_last_not_of('0') + 1);
    return r;
}

// Every exponent from 2^-9 to 2^26 (and a margin on both sides), with the
// significands at the ends, around a power of two, and at random, and each
// text checked against the standard conversion's shortest digits.
TEST(FloatTextDigits, SameAsTheStandardShortestConversion) {
    std::mt19937 random(6120u);
    char ours[max_float32_text_size];
    char theirs[64];
    for (std::uint32_t exponent = 100; exponent < 170; ++exponent) {
        for (int i = 0; i < 3000; ++i) {
            // 0, 1, 0x7fffff and 0x7ffffe first, then at random.
            const auto low = static_cast<std::uint32_t>(i);
            const std::uint32_t significand = low < 2   ? low
                                              : low < 4 ? 0x800001u - low
                                                        : random() & 0x7fffffu;
            const float value = std::bit_cast<float>(exponent << 23 | significand);
            const char* const ours_end = ours + write_float32_text(value, ours);
            const char* const theirs_end =
                std::to_chars(theirs, theirs + sizeof theirs, value, std::chars_format::scientific)
                    .ptr;
            ASSERT_EQ(reading_of(ours, ours_end), reading_of(theirs, theirs_end))
                << std::string_view(ours, static_cast<std::size_t>(ours_end - ours)) << " vs "
                << std::string_view(theirs, static_cast<std::size_t>(theirs_end - theirs));
        }
    }
}

}  // namespace
}  // namespace tavro
