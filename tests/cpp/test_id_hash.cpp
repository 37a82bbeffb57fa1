#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "common/uuid.hpp"
#include "diff/flat_table_ctrl.hpp"
#include "diff/id_hash.hpp"

namespace tavro {
namespace {

// Structured ids that a weak hash would cluster (counters at either end, in
// either byte order, ids one byte apart, halves equal to a key) spread over
// home positions like random ids: the share of empty buckets at 0.75 ids per
// bucket is e^-0.75, and no bucket gets crowded.
TEST(IdHash, StructuredIdsSpreadLikeRandomOnes) {
    std::mt19937_64 rng(99);
    const std::uint64_t count = 1 << 17;
    const std::uint64_t buckets = count + count / 3 + 1;
    for (int set = 0; set < 6; ++set) {
        std::vector<std::uint32_t> load(buckets, 0);
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t halves[6][2] = {
                {rng(), rng()},
                {0, i << 56 | i >> 8},
                {i, 0},
                {id_hash_detail::kKey0, i << 20},
                {~0ULL, i * 0x9e37},
                {0x0123456789abcdefULL ^ (i % 255 + 1) << (8 * (i / 255 % 8)), i / 2040}};
            ++load[flat_table_detail::home_of(hash_id(Uuid::from_bytes(halves[set])), buckets)];
        }
        const auto empty = static_cast<double>(std::count(load.begin(), load.end(), 0u));
        EXPECT_NEAR(empty / static_cast<double>(buckets), std::exp(-0.75), 0.02) << set;
        EXPECT_LE(*std::max_element(load.begin(), load.end()), 12u) << set;
    }
}

}  // namespace
}  // namespace tavro
