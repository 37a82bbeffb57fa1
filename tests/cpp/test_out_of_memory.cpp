// Every change of a diff with each of its allocations failing in turn, through
// this binary's own operator new: the call fails and the diff is as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "diff_text.hpp"

namespace {
// Allocations that succeed before every later one fails; negative: all do.
long g_allocations_left = -1;
}  // namespace

void* operator new(std::size_t size) {
    if (g_allocations_left == 0) {
        throw std::bad_alloc();
    }
    g_allocations_left -= g_allocations_left > 0 ? 1 : 0;
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
// Not inlined, so that the compiler sees new and delete paired, not new and free.
[[gnu::noinline]] void operator delete(void* block) noexcept {
    std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace tavro {
namespace {

void change(Diff& d, char kind, const Uuid& a, const Uuid& b) {
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

// A random history over ten ids; each call is first made on copies of the
// diff with its first, second, ... allocation failing, until one succeeds.
TEST(OutOfMemory, AFailedChangeLeavesTheDiffAsItWas) {
    Diff d;
    std::uint32_t random = 1;
    for (int step = 0; step < 1500; ++step) {
        random = random * 1103515245 + 12345;
        const char kind = "NNDEEEEEX"[(random >> 8) % 9];
        const Uuid a = testing::id_of(static_cast<char>('a' + (random >> 12) % 10));
        const Uuid b = testing::id_of(static_cast<char>('a' + (random >> 20) % 10));
        for (long fail_at = 0;; ++fail_at) {
            Diff tried = d;
            g_allocations_left = fail_at;
            try {
                change(tried, kind, a, b);
            } catch (const std::bad_alloc&) {
                g_allocations_left = -1;
                ASSERT_EQ(testing::state(tried), testing::state(d))
                    << kind << ' ' << testing::name_of(a) << testing::name_of(b)
                    << " failing at allocation " << fail_at << " of step " << step;
                continue;
            }
            g_allocations_left = -1;
            d = std::move(tried);
            break;
        }
    }
}

}  // namespace
}  // namespace tavro
