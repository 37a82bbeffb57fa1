#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
#include "bytes/utf8_validation.hpp"
#include "test_support.hpp"

namespace tavro {
namespace {

using testing::counter_id;
using testing::id_of;
using testing::state;

std::vector<std::uint8_t> write(const Diff& diff) {
    Result<std::vector<std::uint8_t>> bytes = graph_diff_to_bytes(diff);
    EXPECT_TRUE(bytes.ok());
    return bytes.ok() ? bytes.value() : std::vector<std::uint8_t>{};
}

// Bytes laid out from words: "#n" a count, a lone letter an id, "'text" a
// text (up to the next space), "w1.5" a weight, "W7fc00001" a weight's bits,
// "z16" zero bytes, "i15:14" an id block whose
// length says 15 but that carries 14 bytes. Where counts and lengths lie is
// kept, so tests can patch the input at exact places.
struct Bytes {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> count_at;
    std::vector<std::size_t> length_at;
};

Bytes bytes_of(std::string_view spec) {
    Bytes b;
    const auto number = [&b](std::uint64_t value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) {
            b.bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    };
    const auto body = [&b](std::string_view data) {
        b.bytes.insert(b.bytes.end(), data.begin(), data.end());
    };
    const auto sized = [&](std::string_view data, std::uint64_t length) {
        b.length_at.push_back(b.bytes.size());
        number(length, 8);
        body(data);
    };
    std::istringstream in{std::string(spec)};
    for (std::string word; in >> word;) {
        const std::string rest = word.substr(1);
        if (word.size() == 1) {
            const Uuid id = id_of(word[0]);
            sized(std::string(id.bytes.begin(), id.bytes.end()), 16);
        } else if (word[0] == '#') {
            b.count_at.push_back(b.bytes.size());
            number(std::stoull(rest), 8);
        } else if (word[0] == '\'') {
            sized(rest, rest.size());
        } else if (word[0] == 'w') {
            number(std::bit_cast<std::uint32_t>(std::stof(rest)), 4);
        } else if (word[0] == 'W') {
            number(std::stoul(rest, nullptr, 16), 4);
        } else if (word[0] == 'z') {
            body(std::string(std::stoul(rest), '\0'));
        } else {
            sized(std::string(std::stoul(rest.substr(rest.find(':') + 1)), '\x11'),
                  std::stoull(rest));
        }
    }
    return b;
}

std::string fault(ErrorKind kind) {
    return "fault " + std::to_string(static_cast<int>(kind));
}

// The state of the diff read, or the kind of its fault.
std::string read(const std::vector<std::uint8_t>& bytes) {
    Result<Diff> diff = bytes_to_graph_diff(bytes);
    return diff.ok() ? state(diff.value()) : fault(diff.error().kind);
}

TEST(GraphDiffBytes, WorkedExamplesAndWeightBitsBothWays) {
    const struct {
        const char* history;
        const char* bytes;
        std::size_t size;
    } rows[] = {
        {"", "z32", 32},
        {"Dx", "#0 #1 x #0 #0", 56},
        {R"(Na{"label":"a"})", R"(#1 a '{"label":"a"} #0 #0 #0)", 77},
        {"Eab=1.5", "#0 #0 #1 a #1 b W3fc00000 #0", 92},
        // An inner map emptied by a node deletion is written with count 0.
        {"Eab=1 Db", "#0 #1 b #1 a #0 #1 a #1 b", 144},
        // Weights travel as their bits: NaN payloads, signalling NaN, both
        // infinities, -0 and the smallest subnormal.
        {"Eab=W7fc00001", "#0 #0 #1 a #1 b W7fc00001 #0", 92},
        {"Eab=Wffc12345", "#0 #0 #1 a #1 b Wffc12345 #0", 92},
        {"Eab=W7f800001", "#0 #0 #1 a #1 b W7f800001 #0", 92},
        {"Eab=W7f800000", "#0 #0 #1 a #1 b W7f800000 #0", 92},
        {"Eab=Wff800000", "#0 #0 #1 a #1 b Wff800000 #0", 92},
        {"Eab=W80000000", "#0 #0 #1 a #1 b W80000000 #0", 92},
        {"Eab=W00000001", "#0 #0 #1 a #1 b W00000001 #0", 92},
    };
    for (const auto& row : rows) {
        const Diff diff = testing::diff_of(row.history);
        const Bytes bytes = bytes_of(row.bytes);
        EXPECT_EQ(bytes.bytes.size(), row.size) << row.history;
        EXPECT_EQ(write(diff), bytes.bytes) << row.history;
        EXPECT_EQ(read(bytes.bytes), state(diff)) << row.history;
    }
}

// One of every kind of entry: a node, a deleted node, a source with two
// weighted targets, a source with an empty map, a source with a deleted edge.
const std::string kEveryKind =
    R"(#1 a '{"label":"a","red":7} #1 x #2 a #2 b w1.5 c w-2 b #0 #1 c #1 a)";

// What only reading can produce, and what it keeps of repeated entries.
TEST(GraphDiffBytes, ReaderAcceptTable) {
    const std::string every_kind_state =
        R"(Dx Ea: Eab=1.5 Eac=-2 Eb: Na{"label":"a","red":7} Xc: Xca)";
    const struct {
        const char* name;
        std::string bytes;
        std::string state;
    } rows[] = {
        {"every kind of entry", kEveryKind, every_kind_state},
        {"bytes after the last section are ignored", kEveryKind + " Wffffffff", every_kind_state},
        {"empty diff followed by more", "z32 W0100feff", ""},
        {"repeated node id keeps the later text and never parses the earlier",
         "#2 a 'notjson a '{} z24", "Na{}"},
        {"id both updated and deleted stays in both", "#1 x '{} #1 x z16", "Dx Nx{}"},
        {"repeated deleted id is present once", "#0 #3 a b a z16", "Da Db"},
        {"repeated source replaces the whole earlier map", "z16 #2 a #1 b w1 a #1 c w2 #0",
         "Ea: Eac=2"},
        {"repeated target keeps the later weight", "z16 #1 a #2 b w1 b w4 #0", "Ea: Eab=4"},
        {"repeated source replaces the whole earlier set", "z24 #2 a #2 b c a #1 x", "Xa: Xax"},
        {"empty inner set stays", "z24 #1 a #0", "Xa:"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(read(bytes_of(row.bytes).bytes), row.state) << row.name;
    }
}

// Inputs grouped by the fault they must fail with.
TEST(GraphDiffBytes, ReaderFailureTable) {
    const std::pair<ErrorKind, std::vector<std::string>> groups[] = {
        // Inside a count, an id or text length, or a weight.
        {ErrorKind::end_of_data,
         {"", "z31", "#0 z7", "#0 #1", "#0 #2 a", "#1 a z3", "z16 #1 a", "z16 #1 a #1 b z3",
          "z24 #1 a #2 b"}},
        // A count of 2^40 with a few entries behind it ends with the data
        // instead of asking for terabytes.
        {ErrorKind::end_of_data,
         {"#1099511627776 a '{}", "#0 #1099511627776 a b", "z16 #1099511627776 a #0",
          "z16 #1 a #1099511627776 b w1", "z24 #1099511627776 a #0", "z24 #1 a #1099511627776 b"}},
        // An id or text length running past the end, even one that is not 16.
        {ErrorKind::end_of_data, {"#0 #1 i16:15", "#0 #1 i17:16", "#1 a #3 z2"}},
        {ErrorKind::id_length, {"#0 #1 i15:15 z16", "#0 #1 i0:0 z16", "#0 #1 i17:17 z16"}},
        // A repeated node's earlier text is never parsed but must be UTF-8.
        {ErrorKind::invalid_utf8,
         {"#1 a '{\"label\":\"\xff\"} z24", "#1 a '{}\xe2\x82 z24", "#2 a '\xc0 a '{} z24"}},
        // Valid UTF-8 that is not a node change fails as the JSON reader says.
        {ErrorKind::json_value, {R"(#1 a '{"red":256} z24)"}},
        {ErrorKind::json_trailing, {"#1 a '{}x z24"}},
    };
    for (const auto& [kind, specs] : groups) {
        for (const std::string& spec : specs) {
            EXPECT_EQ(read(bytes_of(spec).bytes), fault(kind)) << spec;
        }
    }
    const Result<Diff> odd_id = bytes_to_graph_diff(bytes_of("#0 #1 i15:15 z16").bytes);
    EXPECT_EQ(odd_id.error().detail, "invalid length: expected 16 bytes, found 15");
}

// Cutting a valid input anywhere fails as end of data.
TEST(GraphDiffBytes, TruncationAtEveryOffsetFailsCleanly) {
    const Bytes full = bytes_of(kEveryKind);
    for (std::size_t cut = 0; cut < full.bytes.size(); ++cut) {
        const std::vector<std::uint8_t> prefix(
            full.bytes.begin(), full.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(read(prefix), fault(ErrorKind::end_of_data)) << "cut at " << cut;
    }
}

// A wrapping `position + length` would slip past an end check, and a count
// must never size a container up front.
TEST(GraphDiffBytes, LengthsAndCountsNearTwoToThe64AtEveryPosition) {
    const Bytes full = bytes_of(kEveryKind);
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t size = full.bytes.size();
    for (const bool is_length : {true, false}) {
        for (const std::size_t at : is_length ? full.length_at : full.count_at) {
            for (const std::uint64_t value :
                 {max, max - 1, max - 7, max - 15, max - 23, max - at, max - size, max - size + 1,
                  std::uint64_t{1} << 63, (std::uint64_t{1} << 63) - 1, std::uint64_t{1} << 40,
                  std::uint64_t{1} << 32, size - at - 8 + 1}) {
                std::vector<std::uint8_t> patched = full.bytes;
                for (std::size_t i = 0; i < 8; ++i) {
                    patched[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
                }
                const std::string result = read(patched);
                EXPECT_EQ(is_length ? result : result.substr(0, 6),
                          is_length ? fault(ErrorKind::end_of_data) : "fault ")
                    << (is_length ? "length" : "count") << " at " << at << " = " << value;
            }
        }
    }
}

// Random diffs over a small id space, with any weight bits and texts that
// stress escaping, plus what only reading can produce.
Diff random_diff(std::mt19937_64& rng) {
    const auto pick = [&rng](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    const auto id = [&] { return id_of(static_cast<char>('A' + pick(40))); };
    const auto weight = [&] { return std::bit_cast<float>(static_cast<std::uint32_t>(rng())); };
    const char* const texts[] = {
        "", "quote \" backslash \\ tab\t line\n control\x01\x1f /solidus/ \x7f",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"};
    const auto maybe = [&](auto value) {
        return pick(2) == 0 ? std::optional(value) : std::nullopt;
    };
    const auto update = [&] {
        NodeUpdate u;
        u.label = maybe(std::string(texts[pick(std::size(texts))]));
        const float size = weight();  // a non-finite size would come back absent
        u.size = std::isfinite(size) ? maybe(size) : std::nullopt;
        u.url = maybe(std::string(texts[pick(std::size(texts))]));
        u.red = maybe(static_cast<std::uint8_t>(pick(256)));
        u.green = maybe(static_cast<std::uint8_t>(pick(256)));
        u.blue = maybe(static_cast<std::uint8_t>(pick(256)));
        u.show_label = maybe(pick(2) == 0);
        return u;
    };
    Diff d;
    for (std::size_t i = pick(200); i > 0; --i) {
        const Uuid a = id();
        const Uuid b = id();
        const std::size_t op = pick(5);
        if (op < 2) {
            d.add_or_update_node(a, update());
        } else if (op == 2) {
            d.delete_node(a);
        } else if (op == 3) {
            (void)d.add_edge(a, b, weight());
        } else {
            d.delete_edge(a, b);
        }
    }
    if (pick(2) == 0) {
        const Uuid a = id();
        const Uuid from = id();
        const Uuid to = id();
        d.new_or_updated_nodes.try_emplace(a, update());
        d.deleted_nodes.insert(a);
        d.edges.new_or_updated[id()];
        d.edges.deleted[id()];
        d.edges.new_or_updated[from].insert_or_assign(to, weight());
        d.edges.deleted[from].insert(to);
    }
    return d;
}

// Written twice from the same history, a diff gives the same bytes: every
// container walks in the same order.
TEST(GraphDiffBytes, RandomDiffsRoundTripAndWalkInTheSameOrderEveryTime) {
    std::mt19937_64 rng(20240611);
    std::mt19937_64 same_rng(20240611);
    for (int i = 0; i < 300; ++i) {
        const Diff original = random_diff(rng);
        ASSERT_EQ(read(write(original)), state(original)) << "diff " << i;
        ASSERT_EQ(write(random_diff(same_rng)), write(original)) << "diff " << i;
    }
}

// Containers far beyond the room a count may claim up front, written in walk
// order, come back whole.
TEST(GraphDiffBytes, LargeContainersRoundTrip) {
    Diff d;
    for (std::uint64_t n = 0; n < 20000; ++n) {
        d.deleted_nodes.insert(counter_id(n));
        d.edges.new_or_updated[counter_id(n)].insert_or_assign(counter_id(n + 1), 1.0f);
        d.edges.new_or_updated[counter_id(1u << 30)].insert_or_assign(counter_id(n), 2.0f);
        d.edges.deleted[counter_id(1u << 31)].insert(counter_id(n));
        d.add_or_update_node(counter_id(n + (1u << 20)), NodeUpdate{});
    }
    EXPECT_EQ(read(write(d)), state(d));
}

// The measured length is a promise about the diff at prepare time: a diff
// changed afterwards fails and is never written past that length.
TEST(GraphDiffEncoder, DiffChangedAfterPrepareFailsWithinTheBuffer) {
    for (const bool grow : {true, false}) {
        Diff d = testing::diff_of(R"(Na{"label":"x"} Dp Dq Dr Eab=1 Ebc=1 Eca=1 Xcb)");
        Result<GraphDiffEncoder> encoder = GraphDiffEncoder::prepare(d);
        ASSERT_TRUE(encoder.ok());
        const std::size_t size = encoder.value().size();
        if (grow) {
            d.delete_node(id_of('s'));
        } else {
            d.deleted_nodes.clear();
        }
        std::vector<std::uint8_t> buffer(size + 64, 0xa5);
        EXPECT_FALSE(encoder.value().write_to(buffer.data()).ok());
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(buffer, std::vector<std::uint8_t>(64, 0xa5)) << "written past the length";
    }
}

// A sequence is judged by its longest valid prefix: the byte that makes it
// overlong, a surrogate or too large is the byte that breaks it, and a text
// that stops inside a sequence is refused too.
TEST(Utf8Validation, Table) {
    const std::pair<bool, std::vector<std::string>> groups[] = {
        // Empty, ASCII with NUL and DEL, the lowest and highest of each length,
        // both sides of the surrogates, and a sequence after a word-wise skip.
        {true,
         {"", std::string("\0A\x7f", 3), "\xc2\x80", "\xdf\xbf", "\xe0\xa0\x80", "\xed\x9f\xbf",
          "\xee\x80\x80", "\xef\xbf\xbf", "\xf0\x90\x80\x80", "\xf4\x8f\xbf\xbf",
          "abcdefghi\xc3\xa9"}},
        // Lone continuation, overlong leads c0 c1 e0 f0, surrogates, above
        // U+10FFFF, f5 and ff, broken later bytes, faults after ASCII and
        // after a valid sequence, and sequences cut off by the end.
        {false,
         {"\x80",
          "\xc0\x80",
          "\xc1\xbf",
          "\xe0\x9f\xbf",
          "\xf0\x8f\xbf\xbf",
          "\xed\xa0\x80",
          "\xed\xbf\xbf",
          "\xf4\x90\x80\x80",
          "\xf5\x80\x80\x80",
          "\xff",
          "\xc2\x41",
          "\xe0\x80",
          "\xed\xa0",
          "\xf4\x90",
          "a\xbf",
          "a\xf8",
          "\xc3\xa9\xff\xc2",
          "abcdefghij\x80",
          "\xe1\x80\x41",
          "\xe1\x80\xc2\x80",
          "\xf4\x8f\xc0\x80",
          "\xf1\x80\x80\x41",
          "\xc2",
          "\xe0",
          "\xf0\x90\x80",
          "\xf4\x8f",
          "ab\xe1\x80"}},
    };
    for (const auto& [valid, texts] : groups) {
        for (const std::string& text : texts) {
            const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
            EXPECT_EQ(is_utf8(data, text.size()), valid)
                << ::testing::PrintToString(std::vector<std::uint8_t>(text.begin(), text.end()));
        }
    }
}

}  // namespace
}  // namespace tavro
