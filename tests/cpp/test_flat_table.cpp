#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "diff/flat_table_map.hpp"
#include "diff/hash_containers.hpp"
#include "diff/uuid.hpp"

namespace tavro {
namespace {

// Spreads integer keys over all 64 bits.
struct MixHash {
    std::uint64_t operator()(std::uint64_t key) const noexcept {
        key ^= key >> 33;
        key *= 0xff51afd7ed558ccdULL;
        key ^= key >> 33;
        key *= 0xc4ceb9fe1a85ec53ULL;
        return key ^ (key >> 33);
    }
};

// Three hash values only (0x00.., 0x55.., 0xaa..): long probe chains and
// control bytes that match for most keys.
struct FewValuesHash {
    std::uint64_t operator()(std::uint64_t key) const noexcept {
        return (key % 3) * 0x5555555555555555ULL;
    }
};

struct ZeroHash {
    std::uint64_t operator()(std::uint64_t) const noexcept { return 0; }
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

TEST(FlatTableShape, EmptyTableOwnsNoBlockAndAnswersEverything) {
    Map map;
    EXPECT_EQ(map.capacity(), 0u);
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(map.begin(), map.end());
    EXPECT_EQ(map.find(1), map.end());
    EXPECT_FALSE(map.contains(1));
    EXPECT_EQ(map.erase(1), 0u);
    map.reserve(0);
    EXPECT_EQ(map.capacity(), 0u);
    const Map copy = map;
    EXPECT_EQ(copy.capacity(), 0u);
    EXPECT_EQ(copy, map);
}

TEST(FlatTableShape, ContainerObjectsAreOnePointer) {
    EXPECT_EQ(sizeof(HashMap<Uuid, float>), sizeof(void*));
    EXPECT_EQ(sizeof(HashSet<Uuid>), sizeof(void*));
    EXPECT_EQ(sizeof(std::pair<const Uuid, HashMap<Uuid, float>>), 24u);
    EXPECT_EQ(sizeof(std::pair<const Uuid, float>), 20u);
}

TEST(FlatTableShape, TenEntryEdgeMapStaysWithinItsMemoryBudget) {
    // 10 pending edges of one source: 20-byte entries, and at most 300 bytes
    // of block (header, control bytes, slots) in all.
    HashMap<Uuid, float> edges;
    for (std::uint8_t n = 0; n < 10; ++n) {
        Uuid id;
        id.bytes[3] = n;
        edges.insert_or_assign(id, 1.0f);
    }
    EXPECT_LE(32 + edges.capacity() * sizeof(std::pair<const Uuid, float>), 300u);
}

TEST(FlatTableGrowth, GrowthAcrossManyResizesKeepsEveryEntry) {
    Map map;
    std::size_t resizes = 0;
    std::size_t capacity = 0;
    const std::uint64_t count = 200000;
    for (std::uint64_t k = 0; k < count; ++k) {
        ASSERT_TRUE(map.try_emplace(k, k * 3).second);
        if (map.capacity() != capacity) {
            capacity = map.capacity();
            ++resizes;
            for (std::uint64_t probe = 0; probe <= k; probe += 97) {
                ASSERT_EQ(map.find(probe)->second, probe * 3) << "after resize to " << capacity;
            }
        }
        ASSERT_GE(map.capacity(), map.size());
    }
    EXPECT_GT(resizes, 20u);
    EXPECT_EQ(map.size(), count);
    for (std::uint64_t k = 0; k < count; ++k) {
        ASSERT_EQ(map.find(k)->second, k * 3);
    }
    EXPECT_FALSE(map.contains(count));
    // Large tables keep an eighth of their slots free.
    EXPECT_LE(map.size() * 8, map.capacity() * 7);
}

TEST(FlatTableGrowth, SingleGroupTableFillsCompletelyBeforeGrowing) {
    Set set;
    for (std::uint64_t k = 0; set.capacity() <= 16; ++k) {
        const std::size_t before_capacity = set.capacity();
        const std::size_t before_size = set.size();
        set.insert(k);
        if (set.capacity() != before_capacity) {
            EXPECT_EQ(before_size, before_capacity) << "grew while slots were free";
        }
    }
    for (std::uint64_t k = 0; k < set.size(); ++k) {
        EXPECT_TRUE(set.contains(k));
    }
}

TEST(FlatTableGrowth, ReserveAllocatesOnceForAKnownCount) {
    for (std::uint64_t count : {1u, 10u, 16u, 17u, 1000u, 100000u}) {
        Map map;
        map.reserve(count);
        const std::size_t capacity = map.capacity();
        ASSERT_GE(capacity, count);
        map.try_emplace(0, 42);
        const auto* first = &*map.find(0);
        for (std::uint64_t k = 1; k < count; ++k) {
            map.try_emplace(k, k);
        }
        EXPECT_EQ(map.capacity(), capacity) << count;
        EXPECT_EQ(&*map.find(0), first) << "entries moved: the table rehashed";
        map.reserve(count / 2);
        EXPECT_EQ(map.capacity(), capacity);
    }
}

TEST(FlatTableErase, EraseReturnsCountAndKeepsTheOthers) {
    Map map;
    for (std::uint64_t k = 0; k < 1000; ++k) {
        map[k] = k + 1;
    }
    for (std::uint64_t k = 0; k < 1000; k += 2) {
        ASSERT_EQ(map.erase(k), 1u);
        ASSERT_EQ(map.erase(k), 0u);
    }
    EXPECT_EQ(map.size(), 500u);
    for (std::uint64_t k = 0; k < 1000; ++k) {
        if (k % 2 == 0) {
            EXPECT_FALSE(map.contains(k));
        } else {
            EXPECT_EQ(map.find(k)->second, k + 1);
        }
    }
}

TEST(FlatTableErase, TombstonesKeepLongProbeChainsReachable) {
    // With three hash values every key of a class shares one probe chain;
    // erasing from the middle of a chain must not cut off what lies behind.
    FlatMap<std::uint64_t, std::uint64_t, FewValuesHash> map;
    for (std::uint64_t k = 0; k < 600; ++k) {
        map.try_emplace(k, k);
    }
    for (std::uint64_t k = 0; k < 600; k += 5) {
        ASSERT_EQ(map.erase(k), 1u);
    }
    for (std::uint64_t k = 0; k < 600; ++k) {
        ASSERT_EQ(map.contains(k), k % 5 != 0) << k;
    }
    for (std::uint64_t k = 0; k < 600; k += 5) {
        ASSERT_TRUE(map.try_emplace(k, k + 1).second);
    }
    EXPECT_EQ(map.size(), 600u);
    for (std::uint64_t k = 0; k < 600; ++k) {
        ASSERT_EQ(map.find(k)->second, k % 5 == 0 ? k + 1 : k);
    }
}

TEST(FlatTableErase, ChurnAtSteadySizeDoesNotGrowWithoutBound) {
    // Insert one new key and erase the oldest, many times over: tombstones
    // must be reclaimed, or the table grows (or a probe never ends).
    Set set;
    const std::uint64_t live = 1000;
    for (std::uint64_t k = 0; k < live; ++k) {
        set.insert(k);
    }
    const std::size_t settled = set.capacity();
    for (std::uint64_t k = live; k < 300000; ++k) {
        set.insert(k);
        ASSERT_EQ(set.erase(k - live), 1u);
        ASSERT_LE(set.capacity(), 2 * settled);
    }
    EXPECT_EQ(set.size(), live);
    for (std::uint64_t k = 300000 - live; k < 300000; ++k) {
        ASSERT_TRUE(set.contains(k));
    }
}

TEST(FlatTableErase, IterationAfterEraseVisitsExactlyTheRemainingEntries) {
    for (std::uint64_t count : {12u, 16u, 5000u}) {
        Set set;
        std::set<std::uint64_t> expected;
        for (std::uint64_t k = 0; k < count; ++k) {
            set.insert(k * 7919);
            expected.insert(k * 7919);
        }
        std::mt19937_64 rng(5);
        for (std::uint64_t i = 0; i < count / 2; ++i) {
            const std::uint64_t key = (rng() % count) * 7919;
            EXPECT_EQ(set.erase(key), expected.erase(key));
        }
        const std::vector<std::uint64_t> walked = walk_keys(set);
        EXPECT_EQ(walked.size(), set.size());
        EXPECT_EQ(std::set<std::uint64_t>(walked.begin(), walked.end()), expected);
    }
}

TEST(FlatTableErase, EraseByIteratorDuringTheWalk) {
    TextMap map;
    for (std::uint64_t k = 0; k < 3000; ++k) {
        map.try_emplace(k, std::to_string(k));
    }
    std::size_t visited = 0;
    for (auto it = map.begin(); it != map.end();) {
        ++visited;
        it = it->first % 3 == 0 ? map.erase(it) : std::next(it);
    }
    EXPECT_EQ(visited, 3000u);
    EXPECT_EQ(map.size(), 2000u);
    for (const auto& [key, text] : map) {
        EXPECT_NE(key % 3, 0u);
        EXPECT_EQ(text, std::to_string(key));
    }
}

TEST(FlatTableCollisions, FewHashValuesStillFindEveryKey) {
    FlatSet<std::uint64_t, FewValuesHash> few;
    FlatSet<std::uint64_t, ZeroHash> one;
    for (std::uint64_t k = 0; k < 400; ++k) {
        few.insert(k);
        one.insert(k);
        ASSERT_FALSE(few.insert(k).second);
        ASSERT_FALSE(one.insert(k).second);
    }
    for (std::uint64_t k = 0; k < 400; k += 2) {
        few.erase(k);
        one.erase(k);
    }
    for (std::uint64_t k = 0; k < 800; ++k) {
        const bool present = k < 400 && k % 2 == 1;
        ASSERT_EQ(few.contains(k), present) << k;
        ASSERT_EQ(one.contains(k), present) << k;
    }
    EXPECT_EQ(walk_keys(few).size(), 200u);
    EXPECT_EQ(walk_keys(one).size(), 200u);
}

TEST(FlatTableLifetime, ClearDropsStorageAndRestartsLikeANewTable) {
    Map map;
    for (std::uint64_t k = 0; k < 100; ++k) {
        map[k] = k;
    }
    map.clear();
    EXPECT_EQ(map.capacity(), 0u);
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(map.begin(), map.end());
    Map fresh;
    for (std::uint64_t k = 500; k < 540; ++k) {
        map[k] = k;
        fresh[k] = k;
    }
    EXPECT_EQ(walk_keys(map), walk_keys(fresh));
}

TEST(FlatTableLifetime, CopyIsEqualAndIndependent) {
    TextMap original;
    for (std::uint64_t k = 0; k < 300; ++k) {
        original.try_emplace(k, "value " + std::to_string(k));
    }
    for (std::uint64_t k = 0; k < 300; k += 4) {
        original.erase(k);  // copy a table that holds tombstones
    }
    TextMap copy = original;
    EXPECT_EQ(copy, original);
    EXPECT_EQ(walk_keys(copy), walk_keys(original));
    copy.find(1)->second = "changed";
    copy.erase(2);
    copy.try_emplace(1000, "new");
    EXPECT_EQ(original.find(1)->second, "value 1");
    EXPECT_TRUE(original.contains(2));
    EXPECT_FALSE(original.contains(1000));

    TextMap assigned;
    assigned.try_emplace(7, "old");
    assigned = original;
    EXPECT_EQ(assigned, original);
    const TextMap& alias = assigned;
    assigned = alias;
    EXPECT_EQ(assigned, original);
}

TEST(FlatTableLifetime, MoveLeavesTheSourceEmptyAndUsable) {
    TextMap source;
    for (std::uint64_t k = 0; k < 50; ++k) {
        source.try_emplace(k, std::string(40, 'x'));
    }
    const TextMap expected = source;
    TextMap moved(std::move(source));
    EXPECT_EQ(moved, expected);
    EXPECT_TRUE(source.empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(source.capacity(), 0u);
    source.try_emplace(1, "again");
    EXPECT_EQ(source.size(), 1u);

    TextMap target;
    target.try_emplace(99, "dropped");
    target = std::move(moved);
    EXPECT_EQ(target, expected);
    EXPECT_FALSE(target.contains(99));
}

TEST(FlatTableLifetime, StatefulHasherTravelsWithCopiesMovesAndSwaps) {
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
    SeededSet copy = seeded;
    SeededSet assigned;
    assigned = seeded;
    other.swap(assigned);
    SeededSet moved = std::move(copy);
    for (const SeededSet* table : {&other, &moved}) {
        for (std::uint64_t k = 0; k < 500; ++k) {
            ASSERT_TRUE(table->contains(k)) << k;
        }
    }
    EXPECT_TRUE(assigned.contains(1000));
}

TEST(FlatTableEquality, EqualityIgnoresOrderLayoutAndHistory) {
    Map forward;
    Map backward;
    backward.reserve(5000);
    for (std::uint64_t k = 0; k < 1000; ++k) {
        forward[k] = k * 2;
        backward[2000 + k] = 0;
    }
    for (std::uint64_t k = 1000; k-- > 0;) {
        backward[k] = k * 2;
    }
    for (std::uint64_t k = 0; k < 1000; ++k) {
        backward.erase(2000 + k);
    }
    EXPECT_NE(walk_keys(forward), walk_keys(backward));
    EXPECT_EQ(forward, backward);

    backward[5] = 11;
    EXPECT_NE(forward, backward);
    backward[5] = 10;
    backward[5000] = 0;
    EXPECT_NE(forward, backward);
    forward[5001] = 0;
    EXPECT_NE(forward, backward) << "same size, different keys";

    Set a;
    Set b;
    a.insert(1);
    b.insert(2);
    EXPECT_NE(a, b);
    b.insert(1);
    b.erase(2);
    EXPECT_EQ(a, b);
}

TEST(FlatTableOrder, SameHistoryGivesSameWalkOrder) {
    auto build = [] {
        Set set;
        for (std::uint64_t k = 0; k < 20000; ++k) {
            set.insert(k * 2654435761u);
            if (k % 3 == 0) {
                set.erase((k / 2) * 2654435761u);
            }
            if (k == 5000) {
                set.reserve(30000);
            }
        }
        return set;
    };
    const Set first = build();
    const Set second = build();
    EXPECT_EQ(walk_keys(first), walk_keys(second));
    EXPECT_EQ(walk_keys(Set(first)), walk_keys(first));
}

TEST(FlatTableAliasing, ArgumentsMayReferToEntriesOfTheSameTable) {
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

TEST(FlatTableNesting, InnerErasuresDuringOuterWalkWhileAnotherMapGrows) {
    // The diff's delete_node pattern: walk the outer map, erase from inner
    // maps, insert into a different outer map meanwhile.
    using Inner = FlatMap<std::uint64_t, std::uint64_t, MixHash>;
    FlatMap<std::uint64_t, Inner, MixHash> pending;
    FlatMap<std::uint64_t, Set, MixHash> deleted;
    for (std::uint64_t source = 0; source < 3000; ++source) {
        for (std::uint64_t target = 0; target < 10; ++target) {
            pending[source][(source + target) % 50] = target;
        }
    }
    const std::uint64_t removed = 7;
    std::size_t walked = 0;
    for (auto& [source, targets] : pending) {
        ++walked;
        if (targets.erase(removed) != 0) {
            deleted[source].insert(removed);
        }
    }
    EXPECT_EQ(walked, 3000u);
    std::size_t expected_records = 0;
    for (const auto& [source, targets] : pending) {
        EXPECT_FALSE(targets.contains(removed));
        const bool had = (removed + 50 - source % 50) % 50 < 10;
        expected_records += had ? 1 : 0;
        EXPECT_EQ(deleted.contains(source), had) << source;
        EXPECT_EQ(targets.size(), had ? 9u : 10u);
    }
    EXPECT_EQ(deleted.size(), expected_records);
}

// Counts key comparisons: a probe compares keys only where the control byte
// matches (1 in 128 slots passed over), so the count tracks probe length.
struct CountingEq {
    static inline std::uint64_t comparisons = 0;
    bool operator()(std::uint64_t a, std::uint64_t b) const noexcept {
        ++comparisons;
        return a == b;
    }
};

TEST(FlatTableOrder, InsertingAnotherTablesWalkIntoAGrowingTableStaysLinear) {
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
    // Random order costs about one comparison per insert (the final equal
    // probe is not needed for new keys, so usually fewer).
    EXPECT_LT(CountingEq::comparisons, 2 * big.size());
}

TEST(FlatTableDifferential, RandomOperationsMatchUnorderedMap) {
    std::mt19937_64 rng(20240611);
    TextMap flat;
    std::unordered_map<std::uint64_t, std::string> reference;
    auto same_content = [&] {
        if (flat.size() != reference.size()) {
            return false;
        }
        for (const auto& [key, text] : reference) {
            auto it = flat.find(key);
            if (it == flat.end() || it->second != text) {
                return false;
            }
        }
        std::size_t walked = 0;
        for (const auto& entry : flat) {
            if (!reference.contains(entry.first)) {
                return false;
            }
            ++walked;
        }
        return walked == reference.size();
    };
    for (int step = 0; step < 200000; ++step) {
        const std::uint64_t key = rng() % (step < 100000 ? 3000 : 300);
        const std::string text = std::to_string(rng() % 1000);
        switch (rng() % 16) {
            case 0:
            case 1:
            case 2: {
                const bool inserted = flat.try_emplace(key, text).second;
                ASSERT_EQ(inserted, reference.try_emplace(key, text).second);
                break;
            }
            case 3:
            case 4: {
                const bool inserted = flat.insert_or_assign(key, text).second;
                ASSERT_EQ(inserted, reference.insert_or_assign(key, text).second);
                break;
            }
            case 5:
                flat[key] += "+";
                reference[key] += "+";
                break;
            case 6:
            case 7:
            case 8:
            case 9:
            case 10:
                ASSERT_EQ(flat.erase(key), reference.erase(key));
                break;
            case 11:
            case 12:
            case 13: {
                auto it = flat.find(key);
                auto ref = reference.find(key);
                ASSERT_EQ(it == flat.end(), ref == reference.end());
                if (ref != reference.end()) {
                    ASSERT_EQ(it->second, ref->second);
                }
                break;
            }
            case 14:
                if (rng() % 64 == 0) {
                    flat.reserve(rng() % 4000);
                }
                break;
            default:
                if (rng() % 256 == 0) {
                    TextMap copy = flat;
                    flat = std::move(copy);
                } else if (rng() % 1024 == 0) {
                    flat.clear();
                    reference.clear();
                }
                break;
        }
        ASSERT_EQ(flat.size(), reference.size()) << "step " << step;
        if (step % 997 == 0) {
            ASSERT_TRUE(same_content()) << "step " << step;
        }
    }
    EXPECT_TRUE(same_content());
}

}  // namespace
}  // namespace tavro
