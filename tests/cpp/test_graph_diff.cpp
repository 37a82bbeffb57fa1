#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "allocations.hpp"
#include "diff_text.hpp"

long g_allocations_left = -1;
long g_live_blocks = 0;

void* operator new(std::size_t size) {
    if (g_allocations_left == 0) {
        throw std::bad_alloc();
    }
    --g_allocations_left;
    void* block = std::malloc(size == 0 ? 1 : size);
    g_live_blocks += block != nullptr ? 1 : 0;
    return block != nullptr ? block : throw std::bad_alloc();
}
// Not inlined, so that the compiler sees new and delete paired, not new and free.
[[gnu::noinline]] void operator delete(void* block) noexcept {
    g_live_blocks -= block != nullptr ? 1 : 0;
    std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
    g_live_blocks -= block != nullptr ? 1 : 0;
    std::free(block);
}

namespace tavro {
namespace {

using testing::state;

// The diff, and one whose first delete_node builds the index later calls keep.
struct IndexAtOnce : ReverseIndexPrice {
    static constexpr std::size_t kMinScans = 0, kMinStale = 0;
    static constexpr std::size_t of_build(std::size_t, std::size_t) noexcept { return 0; }
};
template <class D>
class DiffRules : public ::testing::Test {};
using Diffs = ::testing::Types<Diff, GraphDiff<Uuid, NodeUpdate, Weight, IndexAtOnce>>;
TYPED_TEST_SUITE(DiffRules, Diffs);

// A history of operations on a new diff, then the counts of nodes and of edges
// (sources) and the whole diff, in the notation of diff_of() and state().
TYPED_TEST(DiffRules, HistoryTable) {
    // clang-format off
    const std::pair<const char*, const char*> rows[] = {
        {R"(Na{"label":"first","red":7} Na{"label":"second"})", R"(1/0 Na{"label":"second","red":7})"},
        {R"(Na{"label":"x"} Da Da)", "1/0 Da"},  // delete drops the change; twice is once
        // An update after a delete holds only the new update and keeps edge deletions.
        {R"(Nb{"red":1} Eab=1 Db Nb{"label":"new"})", R"(1/2 Ea: Nb{"label":"new"} Xa: Xab)"},
        {"Eab=1 Eab=3.5", "0/1 Ea: Eab=3.5"},
        {"Xab Eab=2", "0/1 Ea: Eab=2"},  // add cancels its deletion record, drops the emptied set
        {"Xab Xac Eab=2", "0/2 Ea: Eab=2 Xa: Xac"},
        {"Eab=1 Xab", "0/1 Xa: Xab"},
        {"Da Db Xab", "2/1 Da Db Xa: Xab"},  // recorded even between deleted nodes
        {"Eab=1 Db Xac", "1/1 Db Xa: Xab Xac"},  // delete_edge drops a map emptied before
        {"Eab=1 Db Nb{} Eab=4", "1/1 Ea: Eab=4 Nb{}"},
        // delete_node drops outgoing edges, records incoming ones, keeps the emptied map.
        {"Eab=2 Ebc=1 Db", "1/2 Db Ea: Xa: Xab"},
        {"Eaa=1 Da", "1/0 Da"},  // a self-loop goes unrecorded
        {"Xab Xca Da", "1/2 Da Xa: Xab Xc: Xca"},
        {"Eab=1 Eac=1 Eaa=1 Xac Nd{}", "1/2 Ea: Eaa=1 Eab=1 Nd{} Xa: Xac"},  // counts count sources
        // An edge with an endpoint marked deleted is refused and changes nothing.
        {"Xab Db Eab=1 Eba=1", "1/1 Db Xa: Xab"},
        {"Na{} Db Eac=1 Xca clear", "0/0"},
    };
    // clang-format on
    for (const auto& [history, expected] : rows) {
        const TypeParam d = testing::diff_of<TypeParam>(history);
        const std::string words = state(d);
        EXPECT_EQ(std::to_string(d.num_nodes()) + "/" + std::to_string(d.num_edges()) +
                      (words.empty() ? "" : " ") + words,
                  expected)
            << history;
    }
}

template <class D>
void change(D& d, char kind, const Uuid& a, const Uuid& b) {
    NodeUpdate update;
    update.red = 1;
    if (kind == 'N') {
        d.add_or_update_node(a, std::move(update));
    } else if (kind == 'D') {
        d.delete_node(a);
    } else if (kind == 'E') {
        (void)d.add_edge(a, b, Weight::of(1.0F));
    } else {
        d.delete_edge(a, b);
    }
}

// One step of a random history: a change of one of `kinds`, between two of
// the first `ids` ids.
struct Step {
    char kind;
    Uuid a, b;
};
Step random_step(std::uint32_t& random, std::string_view kinds, std::uint32_t ids) {
    random = random * 1103515245 + 12345;
    return {kinds[(random >> 8) % kinds.size()],
            testing::id_of(static_cast<char>('a' + (random >> 12) % ids)),
            testing::id_of(static_cast<char>('a' + (random >> 20) % ids))};
}

// A random history over 26 ids, cleared now and then, leaves the same diff
// after each delete_node whether it scans or asks an index that is built at
// once, left with stale links and duplicates, and rebuilt as they pile up.
TEST(ReverseIndex, ChangesNoResult) {
    GraphDiff<Uuid, NodeUpdate, Weight, IndexAtOnce> indexed;
    Diff scanning;
    std::uint32_t random = 7;
    for (int step = 0; step < 30000; ++step) {
        const auto [kind, a, b] = random_step(random, "NDDEEEEEEEXX", 26);
        if ((random >> 4) % 2000 == 0) {
            indexed.clear();
            scanning.clear();
        }
        change(indexed, kind, a, b);
        change(scanning, kind, a, b);
        if (kind == 'D') {
            ASSERT_EQ(state(indexed), state(scanning)) << "step " << step;
        }
    }
}

// Each call of a random history over ten ids is made with its first, second,
// ... allocation failing, until one succeeds (maybe dropping the index); each
// failed call leaves the diff as it was, and every result agrees with a diff
// that only scans.
TYPED_TEST(DiffRules, ACallThatRunsOutOfMemoryChangesNothing) {
    TypeParam d;
    Diff scanning;
    std::uint32_t random = 1;
    for (int step = 0; step < 1500; ++step) {
        const auto [kind, a, b] = random_step(random, "NNDEEEEEX", 10);
        change(scanning, kind, a, b);
        const auto before = state(d);
        for (long fail_at = 0;; ++fail_at) {
            g_allocations_left = fail_at;
            try {
                change(d, kind, a, b);
                g_allocations_left = -1;
                break;
            } catch (const std::bad_alloc&) {
                g_allocations_left = -1;
                ASSERT_EQ(state(d), before) << kind << " at step " << step;
            }
        }
        ASSERT_EQ(state(d), state(scanning)) << kind << " at step " << step;
    }
}

}  // namespace
}  // namespace tavro
