#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
#include "test_graph_diff_bytes_support.hpp"
#include "test_support.hpp"

namespace tavro {
namespace {

using testing::counter_id;

Diff round_trip(const Diff& diff) {
    Result<std::vector<std::uint8_t>> bytes = graph_diff_to_bytes(diff);
    EXPECT_TRUE(bytes.ok());
    if (!bytes.ok()) {
        return Diff{};
    }
    Result<Diff> read = bytes_to_graph_diff(bytes.value());
    EXPECT_TRUE(read.ok()) << read.error().description;
    return read.ok() ? std::move(read).value() : Diff{};
}

// Texts that stress escaping and multi-byte UTF-8 on their way through JSON.
const char* const kTexts[] = {
    "",
    "plain",
    "quote \" and backslash \\",
    "tab\tnew\nline\x01\x1f",
    "caf\xc3\xa9",
    "\xe2\x82\xac and \xf0\x9f\x98\x80",
    "/solidus/ and \x7f",
};

class RandomDiffs {
  public:
    explicit RandomDiffs(std::uint64_t seed) : rng_(seed) {}

    Diff next() {
        Diff d;
        const std::size_t operations = pick(200);
        for (std::size_t i = 0; i < operations; ++i) {
            const Uuid a = id();
            const Uuid b = id();
            switch (pick(5)) {
                case 0:
                case 1:
                    d.add_or_update_node(a, update());
                    break;
                case 2:
                    d.delete_node(a);
                    break;
                case 3:
                    (void)d.add_edge(a, b, weight());
                    break;
                default:
                    d.delete_edge(a, b);
                    break;
            }
        }
        // What only reading can produce: an id both updated and deleted,
        // empty inner containers, an edge both pending and deleted.
        if (pick(2) == 0) {
            const Uuid a = id();
            d.new_or_updated_nodes.try_emplace(a, update());
            d.deleted_nodes.insert(a);
            d.edges.new_or_updated[id()];
            d.edges.deleted[id()];
            const Uuid from = id();
            const Uuid to = id();
            d.edges.new_or_updated[from].insert_or_assign(to, weight());
            d.edges.deleted[from].insert(to);
        }
        return d;
    }

  private:
    std::size_t pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }

    // A small id space so that operations meet the same ids again.
    Uuid id() { return counter_id(pick(40)); }

    // Any bit pattern at all, NaNs and infinities included.
    float weight() {
        return std::bit_cast<float>(std::uniform_int_distribution<std::uint32_t>()(rng_));
    }

    NodeUpdate update() {
        NodeUpdate u;
        if (pick(2) == 0) {
            u.label = kTexts[pick(std::size(kTexts))];
        }
        if (pick(2) == 0) {
            // Finite sizes only: a non-finite one comes back absent.
            float size = weight();
            while (!std::isfinite(size)) {
                size = weight();
            }
            u.size = size;
        }
        if (pick(2) == 0) {
            u.url = kTexts[pick(std::size(kTexts))];
        }
        if (pick(2) == 0) {
            u.red = static_cast<std::uint8_t>(pick(256));
        }
        if (pick(2) == 0) {
            u.green = static_cast<std::uint8_t>(pick(256));
        }
        if (pick(2) == 0) {
            u.blue = static_cast<std::uint8_t>(pick(256));
        }
        if (pick(2) == 0) {
            u.show_label = pick(2) == 0;
        }
        return u;
    }

    std::mt19937_64 rng_;
};

TEST(GraphDiffRoundTrip, RandomDiffsComeBackWithTheSameContent) {
    RandomDiffs diffs(20240611);
    for (int i = 0; i < 300; ++i) {
        const Diff original = diffs.next();
        const Diff read = round_trip(original);
        ASSERT_TRUE(testing::same_content(original, read)) << "diff " << i;
        EXPECT_EQ(read.num_nodes(), original.num_nodes());
        EXPECT_EQ(read.num_edges(), original.num_edges());
    }
}

// Written entries come in hash order. Fed one by one into a table that is
// still growing, such a run crowds one end of it and reading turns quadratic
// (seconds here); read into tables of their final size it stays linear.
TEST(GraphDiffRoundTrip, LargeContainersInWalkOrder) {
    Diff d;
    for (std::uint64_t n = 0; n < 60000; ++n) {
        d.deleted_nodes.insert(counter_id(n));
    }
    for (std::uint64_t n = 0; n < 20000; ++n) {
        d.edges.new_or_updated[counter_id(n)].insert_or_assign(counter_id(n + 1), 1.0f);
        d.edges.new_or_updated[counter_id(1u << 30)].insert_or_assign(counter_id(n), 2.0f);
        d.edges.deleted[counter_id(1u << 31)].insert(counter_id(n));
    }
    for (std::uint64_t n = 0; n < 10000; ++n) {
        d.add_or_update_node(counter_id(n), testing::label_update("n"));
    }
    EXPECT_TRUE(testing::same_content(d, round_trip(d)));
}

TEST(GraphDiffRoundTrip, NonFiniteSizeComesBackAbsentAndTheOtherFieldsSurvive) {
    for (const float size :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity()}) {
        NodeUpdate update;
        update.label = "kept";
        update.size = size;
        update.blue = 9;
        update.show_label = false;
        Diff d;
        d.add_or_update_node(counter_id(1), std::move(update));

        const Diff read = round_trip(d);
        ASSERT_EQ(read.new_or_updated_nodes.size(), 1u);
        const NodeUpdate& back = read.new_or_updated_nodes.find(counter_id(1))->second;
        EXPECT_FALSE(back.size.has_value());
        EXPECT_EQ(back.label, std::optional<std::string>("kept"));
        EXPECT_EQ(back.blue, std::optional<std::uint8_t>(9));
        EXPECT_EQ(back.show_label, std::optional<bool>(false));
    }
}

}  // namespace
}  // namespace tavro
