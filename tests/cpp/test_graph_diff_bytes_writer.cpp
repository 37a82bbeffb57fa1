#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
#include "test_graph_diff_bytes_support.hpp"
#include "test_support.hpp"

namespace tavro {
namespace {

using testing::ByteString;
using testing::counter_id;
using testing::label_update;
using testing::zeros;

// Ids with sixteen distinct bytes, so a reversed or shifted copy shows.
Uuid sequential_id(std::uint8_t first) {
    Uuid id;
    for (std::size_t i = 0; i < 16; ++i) {
        id.bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return id;
}

const Uuid A = sequential_id(0x00);
const Uuid B = sequential_id(0x40);
const Uuid X = sequential_id(0x80);

std::vector<std::uint8_t> write(const Diff& diff) {
    Result<std::vector<std::uint8_t>> bytes = graph_diff_to_bytes(diff);
    EXPECT_TRUE(bytes.ok()) << bytes.error().description;
    return bytes.ok() ? bytes.value() : std::vector<std::uint8_t>{};
}

// A diff with every kind of entry, several of each, for whole-output checks.
Diff mixed_diff() {
    Diff d;
    for (std::uint64_t n = 0; n < 20; ++n) {
        d.add_or_update_node(counter_id(n), label_update("node"));
    }
    for (std::uint64_t n = 100; n < 110; ++n) {
        d.delete_node(counter_id(n));
    }
    for (std::uint64_t n = 0; n < 15; ++n) {
        EXPECT_TRUE(d.add_edge(counter_id(n % 4), counter_id(n), static_cast<float>(n)).ok());
        d.delete_edge(counter_id(n % 3 + 50), counter_id(n));
    }
    return d;
}

TEST(GraphDiffWriter, EmptyDiffIsThirtyTwoZeroBytes) {
    EXPECT_EQ(write(Diff{}), zeros(32));
}

TEST(GraphDiffWriter, DeletedNodeExample) {
    Diff d;
    d.deleted_nodes.insert(X);
    ByteString expected;
    expected.count(0).count(1).id(X).count(0).count(0);
    ASSERT_EQ(expected.bytes.size(), 56u);
    EXPECT_EQ(write(d), expected.bytes);
}

TEST(GraphDiffWriter, LabelledNodeExample) {
    Diff d;
    d.add_or_update_node(A, label_update("a"));
    ByteString expected;
    expected.count(1).id(A).text("{\"label\":\"a\"}").count(0).count(0).count(0);
    ASSERT_EQ(expected.bytes.size(), 77u);
    EXPECT_EQ(write(d), expected.bytes);
}

TEST(GraphDiffWriter, PendingEdgeExample) {
    Diff d;
    ASSERT_TRUE(d.add_edge(A, B, 1.5f).ok());
    ByteString expected;
    expected.count(0).count(0).count(1).id(A).count(1).id(B);
    expected.raw({0x00, 0x00, 0xc0, 0x3f}).count(0);
    ASSERT_EQ(expected.bytes.size(), 92u);
    EXPECT_EQ(write(d), expected.bytes);
}

TEST(GraphDiffWriter, InnerCountsPrecedeTheirTargetsAndEmptyInnerContainersAreWritten) {
    Diff d;
    d.edges.new_or_updated[A];  // an inner map emptied by a node deletion
    d.edges.deleted[B];
    ByteString expected;
    expected.count(0).count(0).count(1).id(A).count(0).count(1).id(B).count(0);
    EXPECT_EQ(write(d), expected.bytes);
}

TEST(GraphDiffWriter, WritingTheSameDiffTwiceGivesTheSameBytes) {
    const Diff d = mixed_diff();
    EXPECT_EQ(write(d), write(d));
}

// Weights go out as their stored bit pattern, whatever it is.
TEST(GraphDiffWriter, WeightBitsAreWrittenUnchanged) {
    const std::uint32_t patterns[] = {
        0x7fc00001u,  // quiet NaN with a payload
        0xffc12345u,  // negative NaN with a payload
        0x7f800001u,  // signalling NaN
        0x7f800000u,  // +inf
        0xff800000u,  // -inf
        0x80000000u,  // -0.0
        0x00000001u,  // smallest subnormal
    };
    for (const std::uint32_t bits : patterns) {
        Diff d;
        ASSERT_TRUE(d.add_edge(A, B, std::bit_cast<float>(bits)).ok());
        const std::vector<std::uint8_t> bytes = write(d);
        ASSERT_EQ(bytes.size(), 92u);
        // Three counts, the source id and M, then the target id.
        const std::size_t weight_at = 16 + 8 + 24 + 8 + 24;
        std::uint32_t written = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            written |= static_cast<std::uint32_t>(bytes[weight_at + i]) << (8 * i);
        }
        EXPECT_EQ(written, bits);
    }
}

TEST(GraphDiffWriter, NonFiniteSizeIsWrittenAsNull) {
    for (const float size :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity()}) {
        Diff d;
        NodeUpdate update;
        update.size = size;
        d.add_or_update_node(A, std::move(update));
        ByteString expected;
        expected.count(1).id(A).text("{\"size\":null}").count(0).count(0).count(0);
        EXPECT_EQ(write(d), expected.bytes);
    }
}

TEST(GraphDiffEncoder, TwoPhaseWriteMatchesTheOneCallForm) {
    const Diff d = mixed_diff();
    Result<GraphDiffEncoder> encoder = GraphDiffEncoder::prepare(d);
    ASSERT_TRUE(encoder.ok());
    std::vector<std::uint8_t> buffer(encoder.value().size());
    ASSERT_TRUE(encoder.value().write_to(buffer.data()).ok());
    EXPECT_EQ(buffer, write(d));
}

// The measured length is a promise about the diff at prepare time; a diff
// that changed afterwards must not make write_to run past that length.
TEST(GraphDiffEncoder, DiffThatGrewAfterPrepareFailsWithinTheBuffer) {
    Diff d = mixed_diff();
    Result<GraphDiffEncoder> encoder = GraphDiffEncoder::prepare(d);
    ASSERT_TRUE(encoder.ok());
    const std::size_t size = encoder.value().size();
    ASSERT_TRUE(d.add_edge(counter_id(1000), counter_id(1001), 1.0f).ok());
    d.delete_node(counter_id(2000));

    constexpr std::uint8_t kGuard = 0xa5;
    std::vector<std::uint8_t> buffer(size + 64, kGuard);
    EXPECT_FALSE(encoder.value().write_to(buffer.data()).ok());
    for (std::size_t i = size; i < buffer.size(); ++i) {
        ASSERT_EQ(buffer[i], kGuard) << "written past the measured length at " << i;
    }
}

TEST(GraphDiffEncoder, DiffThatShrankAfterPrepareFails) {
    Diff d = mixed_diff();
    Result<GraphDiffEncoder> encoder = GraphDiffEncoder::prepare(d);
    ASSERT_TRUE(encoder.ok());
    d.deleted_nodes.clear();
    std::vector<std::uint8_t> buffer(encoder.value().size());
    EXPECT_FALSE(encoder.value().write_to(buffer.data()).ok());
}

}  // namespace
}  // namespace tavro
