// The compiler-specific helpers against plain definitions, so that each
// branch (builtins, intrinsics, or the standard fallbacks forced by
// TAVRO_PORTABLE_FALLBACKS) is checked wherever it is compiled.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#include "common/portable.hpp"

namespace tavro {
namespace {

// The wide product (the hash and the home position) is pinned by the bytes
// that a fixed history writes on every host (GraphDiffBytes).
TEST(Portable, OverflowChecksAtTheEdges) {
    using std::size_t;
    const size_t max = std::numeric_limits<size_t>::max();
    const size_t half = size_t{1} << (std::numeric_limits<size_t>::digits / 2);
    size_t out = 0;
    EXPECT_FALSE(portable::add_overflows(max - 1, size_t{1}, out));
    EXPECT_EQ(out, max);
    EXPECT_TRUE(portable::add_overflows(max, size_t{1}, out));
    EXPECT_TRUE(portable::add_overflows(max, max, out));
    EXPECT_FALSE(portable::multiply_overflows(half - 1, half + 1, out));
    EXPECT_EQ(out, max);
    EXPECT_TRUE(portable::multiply_overflows(half, half, out));
    EXPECT_FALSE(portable::multiply_overflows(size_t{0}, max, out));
    EXPECT_FALSE(portable::multiply_overflows(max, size_t{1}, out));
    EXPECT_TRUE(portable::multiply_overflows(max / 6 + 1, size_t{6}, out));
    EXPECT_EQ(portable::byte_swap(0x0102030405060708ULL), 0x0807060504030201ULL);
}

// Every comparison of a 16-byte group, against a loop over its bytes, for
// groups of random bytes and of every byte value in every position.
TEST(Portable, Bytes16MatchesAByteLoop) {
    std::mt19937 random(16);
    std::int8_t bytes[16];
    for (std::uint32_t round = 0; round < 20'000; ++round) {
        for (std::uint32_t i = 0; i < 16; ++i) {
            bytes[i] = static_cast<std::int8_t>(round < 256 ? (round + i * 17) % 256 : random());
        }
        const portable::Bytes16 group(bytes);
        const auto value = static_cast<std::int8_t>(round < 256 ? round : random());
        portable::Bytes16::Mask equal = 0, less = 0, negative = 0;
        for (unsigned i = 0; i < 16; ++i) {
            equal |= static_cast<portable::Bytes16::Mask>(bytes[i] == value) << i;
            less |= static_cast<portable::Bytes16::Mask>(bytes[i] < value) << i;
            negative |= static_cast<portable::Bytes16::Mask>(bytes[i] < 0) << i;
        }
        ASSERT_EQ(group.equal(value), equal) << round;
        ASSERT_EQ(group.less(value), less) << round;
        ASSERT_EQ(group.negative(), negative) << round;
    }
}

}  // namespace
}  // namespace tavro
