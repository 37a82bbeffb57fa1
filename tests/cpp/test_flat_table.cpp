#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/uuid.hpp"
#include "diff/flat_table_map.hpp"
#include "diff/hash_containers.hpp"

namespace tavro {
namespace {

// Spreads integer keys over all 64 bits.
struct MixHash {
    std::uint64_t operator()(std::uint64_t key) const noexcept {
        key = (key ^ (key >> 33)) * 0xff51afd7ed558ccdULL;
        key = (key ^ (key >> 33)) * 0xc4ceb9fe1a85ec53ULL;
        return key ^ (key >> 33);
    }
};

// Only `Values` hash values, spread over the 64 bits (three: 0x00.., 0x55..,
// 0xaa..): long probe chains and control bytes that match for most keys.
template <std::uint64_t Values>
struct FewValuesHash {
    std::uint64_t operator()(std::uint64_t key) const noexcept {
        return key % Values * (~std::uint64_t{0} / Values);
    }
};

// Counts key comparisons: a probe compares keys only where the control byte
// matches (1 in 128 slots passed over), so the count tracks probe length.
struct CountingEq {
    static inline std::uint64_t comparisons = 0;
    bool operator()(std::uint64_t a, std::uint64_t b) const noexcept {
        ++comparisons;
        return a == b;
    }
};

using Map = FlatMap<std::uint64_t, std::uint64_t, MixHash>;
using TextMap = FlatMap<std::uint64_t, std::string, MixHash>;
using Set = FlatSet<std::uint64_t, MixHash>;

template <class Table>
std::vector<std::uint64_t> walk_keys(const Table& table) {
    std::vector<std::uint64_t> keys;
    for (const auto& entry : table) {
        if constexpr (std::is_same_v<std::decay_t<decltype(entry)>, std::uint64_t>) {
            keys.push_back(entry);
        } else {
            keys.push_back(entry.first);
        }
    }
    return keys;
}

// The diff's memory budget: a container object is one pointer, an empty table
// owns no block, ten pending edges of one source (20-byte entries) take at
// most 300 bytes of block, and small tables fill every slot before growing.
TEST(FlatTable, SmallTablesStayWithinTheMemoryBudget) {
    Map empty;
    empty.reserve(0);
    EXPECT_EQ(empty.capacity(), 0u);
    EXPECT_EQ(Map(empty).capacity(), 0u);
    EXPECT_TRUE(empty.begin() == empty.end() && !empty.contains(1) && empty.erase(1) == 0);
    EXPECT_EQ(sizeof(HashMap<Uuid, float>), sizeof(void*));
    EXPECT_EQ(sizeof(HashSet<Uuid>), sizeof(void*));
    HashMap<Uuid, float> edges;
    for (std::uint8_t n = 0; n < 10; ++n) {
        Uuid id;
        id.bytes[3] = n;
        edges.insert_or_assign(id, 1.0f);
    }
    EXPECT_LE(32 + edges.capacity() * sizeof(std::pair<const Uuid, float>), 300u);

    Set set;
    for (std::uint64_t k = 0; set.capacity() <= 16; ++k) {
        const std::size_t before = set.capacity();
        ASSERT_TRUE(set.insert(k).second);
        if (set.capacity() != before) {
            EXPECT_EQ(set.size() - 1, before) << "grew while slots were free";
        }
    }
    for (std::uint64_t k = 0; k < set.size(); ++k) {
        EXPECT_TRUE(set.contains(k));
    }
}

TEST(FlatTable, GrowthAcrossManyResizesKeepsEveryEntry) {
    Map map;
    for (std::uint64_t k = 0; k < 200000; ++k) {
        const std::size_t capacity = map.capacity();
        ASSERT_TRUE(map.try_emplace(k, k * 3).second);
        for (std::uint64_t probe = 0; map.capacity() != capacity && probe <= k; probe += 97) {
            ASSERT_EQ(map.find(probe)->second, probe * 3) << "after growing from " << capacity;
        }
    }
    for (std::uint64_t k = 0; k < map.size(); ++k) {
        ASSERT_EQ(map.find(k)->second, k * 3);
    }
    EXPECT_FALSE(map.contains(map.size()));
    EXPECT_LE(map.size() * 8, map.capacity() * 7);  // large tables keep an eighth free
}

TEST(FlatTable, ReserveAllocatesOnceForAKnownCount) {
    for (std::uint64_t count : {1u, 10u, 16u, 17u, 1000u, 100000u}) {
        Map map;
        map.reserve(count);
        const std::size_t capacity = map.capacity();
        ASSERT_GE(capacity, count);
        const auto* first = &*map.try_emplace(0, 42).first;
        for (std::uint64_t k = 1; k < count; ++k) {
            map.try_emplace(k, k);
        }
        EXPECT_EQ(&*map.find(0), first) << count << ": entries moved, the table rehashed";
        map.reserve(count / 2);
        EXPECT_EQ(map.capacity(), capacity) << count;
    }
}

// With few hash values every key of a class shares one probe chain: erasing
// from its middle must not cut off what lies behind, and the freed slots
// take new keys.
template <class Hash>
void check_shared_probe_chains() {
    FlatMap<std::uint64_t, std::uint64_t, Hash> map;
    for (std::uint64_t k = 0; k < 600; ++k) {
        ASSERT_TRUE(map.try_emplace(k, k).second);
        ASSERT_FALSE(map.try_emplace(k, 0).second);
    }
    for (std::uint64_t k = 0; k < 600; k += 5) {
        ASSERT_EQ(map.erase(k), 1u);
    }
    for (std::uint64_t k = 0; k < 1200; ++k) {
        ASSERT_EQ(map.contains(k), k < 600 && k % 5 != 0) << k;
    }
    EXPECT_EQ(walk_keys(map).size(), 480u);
    for (std::uint64_t k = 0; k < 600; k += 5) {
        ASSERT_TRUE(map.try_emplace(k, k + 1).second);
    }
    for (std::uint64_t k = 0; k < 600; ++k) {
        ASSERT_EQ(map.find(k)->second, k % 5 == 0 ? k + 1 : k);
    }
}

TEST(FlatTable, CollisionsAndTombstonesKeepProbeChainsReachable) {
    check_shared_probe_chains<FewValuesHash<3>>();
    check_shared_probe_chains<FewValuesHash<1>>();
}

TEST(FlatTable, ChurnAtSteadySizeReclaimsTombstones) {
    // Insert one new key and erase the oldest, many times over: without
    // reclaiming tombstones the table grows (or a probe never ends).
    Set set;
    for (std::uint64_t k = 0; k < 1000; ++k) {
        set.insert(k);
    }
    const std::size_t settled = set.capacity();
    for (std::uint64_t k = 1000; k < 300000; ++k) {
        set.insert(k);
        ASSERT_EQ(set.erase(k - 1000), 1u);
        ASSERT_LE(set.capacity(), 2 * settled);
    }
    for (std::uint64_t k = 299000; k < 300000; ++k) {
        ASSERT_TRUE(set.contains(k));
    }
}

// Erasing through the iterator during a walk visits every entry once, and the
// next walk sees exactly the rest, in single-group tables and larger ones.
TEST(FlatTable, EraseDuringTheWalkThenWalkTheRest) {
    for (std::uint64_t count : {12u, 16u, 5000u}) {
        TextMap map;
        for (std::uint64_t k = 0; k < count; ++k) {
            map.try_emplace(k * 7919, std::to_string(k));
        }
        std::size_t visited = 0;
        for (auto it = map.begin(); it != map.end(); ++visited) {
            it = it->first % 3 == 0 ? map.erase(it) : std::next(it);
        }
        EXPECT_EQ(visited, count);
        std::set<std::uint64_t> rest;
        for (const auto& [key, text] : map) {
            EXPECT_EQ(text, std::to_string(key / 7919));
            EXPECT_TRUE(rest.insert(key).second && key % 3 != 0) << key;
        }
        EXPECT_EQ(rest.size(), count - (count + 2) / 3) << count;
    }
}

TEST(FlatTable, CopyMoveSwapAndClear) {
    TextMap original;
    for (std::uint64_t k = 0; k < 300; ++k) {
        original.try_emplace(k, "value " + std::to_string(k));
    }
    for (std::uint64_t k = 0; k < 300; k += 4) {
        original.erase(k);  // copy a table that holds tombstones
    }
    TextMap copy = original;
    EXPECT_EQ(walk_keys(copy), walk_keys(original));
    copy.find(1)->second = "changed";
    EXPECT_EQ(original.find(1)->second, "value 1");
    TextMap assigned;
    assigned.try_emplace(7, "old");
    assigned = original;
    const TextMap& alias = assigned;
    assigned = alias;
    EXPECT_EQ(assigned, original);

    TextMap moved(std::move(assigned));
    EXPECT_EQ(moved, original);
    EXPECT_TRUE(assigned.empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(assigned.capacity(), 0u);
    assigned.try_emplace(1, "again");
    EXPECT_EQ(assigned.size(), 1u);
    copy = std::move(moved);
    EXPECT_EQ(copy, original);

    copy.clear();  // drops the block
    EXPECT_EQ(copy.capacity(), 0u);
    EXPECT_EQ(copy.begin(), copy.end());

    // A stateful hasher travels with the entries it placed.
    struct SeededHash {
        std::uint64_t seed = 0;
        std::uint64_t operator()(std::uint64_t key) const noexcept { return MixHash{}(key ^ seed); }
    };
    using SeededSet = FlatSet<std::uint64_t, SeededHash>;
    SeededSet seeded(SeededHash{0x5eed});
    for (std::uint64_t k = 0; k < 500; ++k) {
        seeded.insert(k);
    }
    SeededSet other;
    other.insert(1000);
    SeededSet seeded_copy = seeded;
    SeededSet seeded_assigned;
    seeded_assigned = seeded;
    other.swap(seeded_assigned);
    const SeededSet seeded_moved = std::move(seeded_copy);
    for (std::uint64_t k = 0; k < 500; ++k) {
        ASSERT_TRUE(other.contains(k) && seeded_moved.contains(k)) << k;
    }
    EXPECT_TRUE(seeded_assigned.contains(1000));
}

TEST(FlatTable, EqualityIgnoresOrderLayoutAndHistory) {
    Map forward;
    Map backward;
    backward.reserve(5000);
    for (std::uint64_t k = 0; k < 1000; ++k) {
        forward[k] = k * 2;
        backward[1999 - k] = 0;
        backward[999 - k] = (999 - k) * 2;
        backward.erase(1999 - k);
    }
    EXPECT_NE(walk_keys(forward), walk_keys(backward));
    EXPECT_EQ(forward, backward);
    backward[5] = 11;
    EXPECT_NE(forward, backward) << "different value";
    backward[5] = 10;
    backward[5000] = 0;
    EXPECT_NE(forward, backward) << "different size";
    forward[5001] = 0;
    EXPECT_NE(forward, backward) << "same size, different keys";
}

TEST(FlatTable, ArgumentsMayReferToEntriesOfTheSameTable) {
    // Values copied from an entry of the table itself, across growths: the
    // new entry must be built before the old ones move.
    TextMap map;
    map.try_emplace(0, std::string(64, 'v'));
    for (std::uint64_t k = 1; k < 2000; ++k) {
        map.try_emplace(k, map.find(k - 1)->second);
        map.insert_or_assign(k + 100000, map.find(k)->second);
    }
    for (const auto& [key, text] : map) {
        ASSERT_EQ(text, std::string(64, 'v')) << key;
    }
}

TEST(FlatTable, InsertingAnotherTablesWalkIntoAGrowingTableStaysLinear) {
    // A walk visits keys in home order; a growing table fed in that order
    // must not see them pile up at its start (that made copying 400,000 ids
    // take a minute).
    using CountingSet = FlatSet<std::uint64_t, MixHash, CountingEq>;
    CountingSet big;
    for (std::uint64_t key = 0; key < 200'000; ++key) {
        big.insert(key);
    }
    CountingSet copy;
    CountingEq::comparisons = 0;
    for (std::uint64_t key : big) {
        copy.insert(key);
    }
    EXPECT_EQ(copy.size(), big.size());
    // Random order costs about one comparison per insert.
    EXPECT_LT(CountingEq::comparisons, 2 * big.size());
}

// Runs a random history of every operation side by side with
// std::unordered_map and hands back the table's final walk order.
void run_random_history(std::vector<std::uint64_t>& walk_order) {
    std::mt19937_64 rng(20240611);
    TextMap flat;
    std::unordered_map<std::uint64_t, std::string> reference;
    const auto same_content = [&] {
        std::size_t visited = 0;
        std::unordered_map<std::uint64_t, std::string> walked;
        for (const auto& [key, text] : flat) {
            walked.emplace(key, text);
            ++visited;
        }
        return walked == reference && visited == reference.size();
    };
    for (int step = 0; step < 200000; ++step) {
        const std::uint64_t key = rng() % (step < 100000 ? 3000 : 300);
        const std::string text = std::to_string(rng() % 1000);
        const std::uint64_t op = rng() % 16;
        if (op < 3) {
            ASSERT_EQ(flat.try_emplace(key, text).second, reference.try_emplace(key, text).second);
        } else if (op < 5) {
            ASSERT_EQ(flat.insert_or_assign(key, text).second,
                      reference.insert_or_assign(key, text).second);
        } else if (op < 6) {
            flat[key] += "+";
            reference[key] += "+";
        } else if (op < 11) {
            ASSERT_EQ(flat.erase(key), reference.erase(key));
        } else if (op < 14) {
            const auto it = flat.find(key);
            ASSERT_EQ(it == flat.end() ? "absent" : it->second,
                      reference.contains(key) ? reference[key] : "absent");
        } else if (op == 14 && rng() % 64 == 0) {
            flat.reserve(rng() % 4000);
        } else if (op == 15 && rng() % 256 == 0) {
            TextMap copy = flat;
            flat = std::move(copy);
        } else if (op == 15 && rng() % 1024 == 0) {
            flat.clear();
            reference.clear();
        }
        ASSERT_EQ(flat.size(), reference.size()) << "step " << step;
        if (step % 997 == 0) {
            ASSERT_TRUE(same_content()) << "step " << step;
        }
    }
    EXPECT_TRUE(same_content());
    walk_order = walk_keys(flat);
}

// The same history, reserves, copies and clears included, walks the same way.
TEST(FlatTable, RandomOperationsMatchUnorderedMapAndRepeatTheirWalkOrder) {
    std::vector<std::uint64_t> first;
    std::vector<std::uint64_t> second;
    run_random_history(first);
    run_random_history(second);
    EXPECT_EQ(first, second);
}

}  // namespace
}  // namespace tavro
