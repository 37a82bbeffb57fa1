#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
#include "node_update/node_update_json.hpp"
#include "test_graph_diff_bytes_support.hpp"
#include "test_support.hpp"

namespace tavro {
namespace {

using testing::ByteString;
using testing::id_of;
using testing::zeros;

const Uuid A = id_of(0xa);
const Uuid B = id_of(0xb);
const Uuid C = id_of(0xc);
const Uuid X = id_of(0x5);

const std::string kEndOfFile = "io error: unexpected end of file";
const std::string kShortData = "io error: ";

Diff read_ok(const std::vector<std::uint8_t>& bytes) {
    Result<Diff> diff = bytes_to_graph_diff(bytes);
    EXPECT_TRUE(diff.ok()) << diff.error().description;
    return diff.ok() ? std::move(diff).value() : Diff{};
}

std::string read_fault(const std::vector<std::uint8_t>& bytes) {
    Result<Diff> diff = bytes_to_graph_diff(bytes);
    return diff.ok() ? std::string("<read succeeded>") : diff.error().description;
}

// One of every kind of entry: a node, a deleted node, a source with two
// weighted targets, a source with an empty map, a source with a deleted edge.
ByteString every_kind_of_entry() {
    ByteString b;
    b.count(1).id(A).text("{\"label\":\"a\",\"red\":7}");
    b.count(1).id(X);
    b.count(2).id(A).count(2).id(B).weight(1.5f).id(C).weight(-2.0f).id(B).count(0);
    b.count(1).id(C).count(1).id(A);
    return b;
}

TEST(GraphDiffReader, ThirtyTwoZeroBytesAreTheEmptyDiff) {
    const Diff d = read_ok(zeros(32));
    EXPECT_EQ(d.num_nodes(), 0u);
    EXPECT_EQ(d.num_edges(), 0u);
}

TEST(GraphDiffReader, BytesAfterTheLastSectionAreIgnored) {
    std::vector<std::uint8_t> bytes = zeros(32);
    bytes.insert(bytes.end(), {0xff, 0xfe, 0x00, 0x01});
    EXPECT_EQ(read_ok(bytes).num_nodes(), 0u);

    ByteString full = every_kind_of_entry();
    const Diff plain = read_ok(full.bytes);
    full.raw({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
    EXPECT_TRUE(testing::same_content(plain, read_ok(full.bytes)));
}

TEST(GraphDiffReader, DeletedNodeExample) {
    ByteString b;
    b.count(0).count(1).id(X).count(0).count(0);
    const Diff d = read_ok(b.bytes);
    EXPECT_EQ(d.deleted_nodes.size(), 1u);
    EXPECT_TRUE(d.deleted_nodes.contains(X));
    EXPECT_EQ(d.num_nodes(), 1u);
    EXPECT_EQ(d.num_edges(), 0u);
}

TEST(GraphDiffReader, LabelledNodeExample) {
    ByteString b;
    b.count(1).id(A).text("{\"label\":\"a\"}").count(0).count(0).count(0);
    const Diff d = read_ok(b.bytes);
    ASSERT_EQ(d.new_or_updated_nodes.size(), 1u);
    EXPECT_EQ(d.new_or_updated_nodes.find(A)->second, testing::label_update("a"));
    EXPECT_EQ(d.num_nodes(), 1u);
    EXPECT_EQ(d.num_edges(), 0u);
}

TEST(GraphDiffReader, PendingEdgeExample) {
    ByteString b;
    b.count(0).count(0).count(1).id(A).count(1).id(B).raw({0x00, 0x00, 0xc0, 0x3f}).count(0);
    const Diff d = read_ok(b.bytes);
    ASSERT_EQ(d.edges.new_or_updated.size(), 1u);
    const auto& targets = d.edges.new_or_updated.find(A)->second;
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets.find(B)->second, 1.5f);
    EXPECT_EQ(d.num_nodes(), 0u);
    EXPECT_EQ(d.num_edges(), 1u);
}

TEST(GraphDiffReader, EveryKindOfEntryIsReadIntoItsContainer) {
    const Diff d = read_ok(every_kind_of_entry().bytes);
    NodeUpdate a = testing::label_update("a");
    a.red = 7;
    ASSERT_EQ(d.new_or_updated_nodes.size(), 1u);
    EXPECT_EQ(d.new_or_updated_nodes.find(A)->second, a);
    EXPECT_TRUE(d.deleted_nodes.contains(X));
    ASSERT_EQ(d.edges.new_or_updated.size(), 2u);
    EXPECT_EQ(d.edges.new_or_updated.find(A)->second.find(C)->second, -2.0f);
    EXPECT_TRUE(d.edges.new_or_updated.find(B)->second.empty());
    EXPECT_TRUE(d.edges.deleted.find(C)->second.contains(A));
}

struct FailureCase {
    const char* name;
    ByteString input;
    std::string description;
};

TEST(GraphDiffReader, FailureTable) {
    std::vector<FailureCase> cases;
    const auto add = [&](const char* name, ByteString input, std::string description) {
        cases.push_back({name, std::move(input), std::move(description)});
    };
    add("empty input", ByteString{}, kEndOfFile);
    add("31 bytes", ByteString{}.raw(zeros(31)), kEndOfFile);
    add("count cut short", ByteString{}.count(0).raw(zeros(7)), kEndOfFile);
    add("missing id length", ByteString{}.count(0).count(1), kEndOfFile);
    add("id length past the end", ByteString{}.count(0).count(1).odd_id(16, 15), kShortData);
    add("id length 17 with 16 left", ByteString{}.count(0).count(1).odd_id(17, 16), kShortData);
    add("id length 15", ByteString{}.count(0).count(1).odd_id(15, 15).raw(zeros(16)),
        "UUID parsing failed: invalid length: expected 16 bytes, found 15");
    add("id length 0", ByteString{}.count(0).count(1).odd_id(0, 0).raw(zeros(16)),
        "UUID parsing failed: invalid length: expected 16 bytes, found 0");
    add("id length 17", ByteString{}.count(0).count(1).odd_id(17, 17).raw(zeros(16)),
        "UUID parsing failed: invalid length: expected 16 bytes, found 17");
    add("text length past the end", ByteString{}.count(1).id(A).count(3).raw({'{', '}'}),
        kShortData);
    add("text length missing", ByteString{}.count(1).id(A).raw({1, 0, 0}), kEndOfFile);
    add("text with byte ff",
        ByteString{}.count(1).id(A).text("{\"label\":\"\xff\"}").raw(zeros(24)),
        "string is not valid utf8: invalid utf-8 sequence of 1 bytes from index 10");
    add("text ending inside a sequence",
        ByteString{}.count(1).id(A).text("{}\xe2\x82").raw(zeros(24)),
        "string is not valid utf8: incomplete utf-8 byte sequence from index 2");
    add("weight cut short",
        ByteString{}.count(0).count(0).count(1).id(A).count(1).id(B).raw({0, 0, 0}), kEndOfFile);
    add("inner count missing", ByteString{}.count(0).count(0).count(1).id(A), kEndOfFile);
    add("deleted edges cut short",
        ByteString{}.count(0).count(0).count(0).count(1).id(A).count(2).id(B), kEndOfFile);
    add("more entries claimed than present", ByteString{}.count(0).count(2).id(A), kEndOfFile);
    for (const FailureCase& c : cases) {
        EXPECT_EQ(read_fault(c.input.bytes), c.description) << c.name;
    }
}

// A text that is valid UTF-8 but not a node change fails with the JSON
// reader's own description.
TEST(GraphDiffReader, BadJsonFailsWithTheJsonReadersDescription) {
    for (const char* text : {"", "[1]", "{\"red\":256}", "{} x", "null"}) {
        ByteString b;
        b.count(1).id(A).text(text).count(0).count(0).count(0);
        Result<NodeUpdate> direct = read_node_update_json(text);
        ASSERT_FALSE(direct.ok()) << text;
        EXPECT_EQ(read_fault(b.bytes), direct.error().description) << text;
    }
}

TEST(GraphDiffReader, EmptyObjectTextIsTheEmptyUpdate) {
    ByteString b;
    b.count(1).id(A).text("{}").count(0).count(0).count(0);
    const Diff d = read_ok(b.bytes);
    ASSERT_EQ(d.new_or_updated_nodes.size(), 1u);
    EXPECT_EQ(d.new_or_updated_nodes.find(A)->second, NodeUpdate{});
}

// Cutting a valid input anywhere fails: as "unexpected end of file" when the
// cut falls inside a count, a length or a weight, and with the short
// description when it falls inside the bytes an id or text length announced.
TEST(GraphDiffReader, TruncationAtEveryOffsetFailsCleanly) {
    const ByteString full = every_kind_of_entry();
    for (std::size_t cut = 0; cut < full.bytes.size(); ++cut) {
        const std::vector<std::uint8_t> prefix(
            full.bytes.begin(), full.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        const std::string expected =
            full.parts[cut] == ByteString::Part::kNumber ? kEndOfFile : kShortData;
        EXPECT_EQ(read_fault(prefix), expected) << "cut at " << cut;
    }
    EXPECT_EQ(read_ok(full.bytes).num_nodes(), 2u);
}

std::vector<std::uint64_t> huge_values(std::size_t offset, std::size_t total) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    return {kMax,
            kMax - 1,
            kMax - 7,
            kMax - 15,
            kMax - 23,
            kMax - offset,
            kMax - total,
            kMax - total + 1,
            std::uint64_t{1} << 63,
            (std::uint64_t{1} << 63) - 1,
            std::uint64_t{1} << 40,
            std::uint64_t{1} << 32,
            total - offset - 8 + 1};  // one more byte than remains
}

// A wrapping `position + length` would slip past an end check; comparing
// against the bytes left cannot.
TEST(GraphDiffReader, LengthsNearTwoToThe64FailAsShortData) {
    const ByteString full = every_kind_of_entry();
    for (const std::size_t offset : full.length_offsets) {
        for (const std::uint64_t value : huge_values(offset, full.bytes.size())) {
            ByteString patched = full;
            patched.patch_u64(offset, value);
            EXPECT_EQ(read_fault(patched.bytes), kShortData)
                << "length field at " << offset << " = " << value;
        }
    }
}

TEST(GraphDiffReader, CountsNearTwoToThe64FailWithoutHugeRoom) {
    const ByteString full = every_kind_of_entry();
    for (const std::size_t offset : full.count_offsets) {
        for (const std::uint64_t value : huge_values(offset, full.bytes.size())) {
            ByteString patched = full;
            patched.patch_u64(offset, value);
            EXPECT_FALSE(bytes_to_graph_diff(patched.bytes).ok())
                << "count field at " << offset << " = " << value;
        }
    }
}

// Room made up front is capped, so a count of 2^40 behind which lie only a
// few entries fails at the end of the data instead of asking for terabytes.
TEST(GraphDiffReader, CountOfTwoToThe40WithLittleData) {
    constexpr std::uint64_t kHuge = std::uint64_t{1} << 40;
    std::vector<ByteString> inputs(6);
    inputs[0].count(kHuge).id(A).text("{}");
    inputs[1].count(0).count(kHuge).id(A).id(B);
    inputs[2].count(0).count(0).count(kHuge).id(A).count(0);
    inputs[3].count(0).count(0).count(1).id(A).count(kHuge).id(B).weight(1.0f);
    inputs[4].count(0).count(0).count(0).count(kHuge).id(A).count(0);
    inputs[5].count(0).count(0).count(0).count(1).id(A).count(kHuge).id(B);
    for (const ByteString& input : inputs) {
        EXPECT_EQ(read_fault(input.bytes), kEndOfFile);
    }
}

TEST(GraphDiffReader, RepeatedNodeIdKeepsOnlyTheLaterTextAndNeverParsesTheEarlier) {
    ByteString b;
    b.count(2).id(A).text("not json at all").id(A).text("{\"label\":\"b\"}");
    b.count(0).count(0).count(0);
    const Diff d = read_ok(b.bytes);
    ASSERT_EQ(d.new_or_updated_nodes.size(), 1u);
    EXPECT_EQ(d.new_or_updated_nodes.find(A)->second, testing::label_update("b"));
}

TEST(GraphDiffReader, RepeatedNodeIdsEarlierTextMustStillBeUtf8) {
    ByteString b;
    b.count(2).id(A).text("\xc0").id(A).text("{}").count(0).count(0).count(0);
    EXPECT_EQ(read_fault(b.bytes),
              "string is not valid utf8: invalid utf-8 sequence of 1 bytes from index 0");
}

TEST(GraphDiffReader, RepeatedDeletedIdIsPresentOnce) {
    ByteString b;
    b.count(0).count(3).id(A).id(B).id(A).count(0).count(0);
    const Diff d = read_ok(b.bytes);
    EXPECT_EQ(d.deleted_nodes.size(), 2u);
}

TEST(GraphDiffReader, RepeatedSourceReplacesTheWholeEarlierMap) {
    ByteString b;
    b.count(0).count(0);
    b.count(2).id(A).count(1).id(B).weight(1.0f).id(A).count(1).id(C).weight(2.0f);
    b.count(0);
    const Diff d = read_ok(b.bytes);
    ASSERT_EQ(d.edges.new_or_updated.size(), 1u);
    const auto& targets = d.edges.new_or_updated.find(A)->second;
    EXPECT_EQ(targets.size(), 1u);
    EXPECT_FALSE(targets.contains(B));
    EXPECT_EQ(targets.find(C)->second, 2.0f);
}

TEST(GraphDiffReader, RepeatedSourceReplacesTheWholeEarlierSet) {
    ByteString b;
    b.count(0).count(0).count(0);
    b.count(2).id(A).count(2).id(B).id(C).id(A).count(1).id(X);
    const Diff d = read_ok(b.bytes);
    ASSERT_EQ(d.edges.deleted.size(), 1u);
    const auto& targets = d.edges.deleted.find(A)->second;
    EXPECT_EQ(targets.size(), 1u);
    EXPECT_TRUE(targets.contains(X));
}

TEST(GraphDiffReader, RepeatedTargetKeepsTheLaterWeight) {
    ByteString b;
    b.count(0).count(0).count(1).id(A).count(2).id(B).weight(1.0f).id(B).weight(4.0f).count(0);
    const Diff d = read_ok(b.bytes);
    EXPECT_EQ(d.edges.new_or_updated.find(A)->second.find(B)->second, 4.0f);
}

TEST(GraphDiffReader, EmptyInnerMapAndSetStayAndCount) {
    ByteString b;
    b.count(0).count(0).count(1).id(A).count(0).count(1).id(A).count(0);
    const Diff d = read_ok(b.bytes);
    EXPECT_TRUE(d.edges.new_or_updated.find(A)->second.empty());
    EXPECT_TRUE(d.edges.deleted.find(A)->second.empty());
    EXPECT_EQ(d.num_edges(), 2u);
}

TEST(GraphDiffReader, IdBothUpdatedAndDeletedStaysInBoth) {
    ByteString b;
    b.count(1).id(X).text("{}").count(1).id(X).count(0).count(0);
    const Diff d = read_ok(b.bytes);
    EXPECT_TRUE(d.new_or_updated_nodes.contains(X));
    EXPECT_TRUE(d.deleted_nodes.contains(X));
    EXPECT_EQ(d.num_nodes(), 2u);
}

TEST(GraphDiffReader, WeightBitsAreReadUnchanged) {
    for (const std::uint32_t bits :
         {0x7fc00001u, 0xffc12345u, 0x7f800001u, 0x7f800000u, 0xff800000u, 0x80000000u}) {
        ByteString b;
        b.count(0).count(0).count(1).id(A).count(1).id(B).weight_bits(bits).count(0);
        const Diff d = read_ok(b.bytes);
        const float weight = d.edges.new_or_updated.find(A)->second.find(B)->second;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(weight), bits);
    }
}

}  // namespace
}  // namespace tavro
