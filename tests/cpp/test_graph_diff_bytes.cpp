#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bytes/byte_layout.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "bytes/utf8_validation.hpp"
#include "diff_text.hpp"

namespace tavro {
namespace {

using testing::id_of;
using testing::state;
using namespace std::string_literals;

// Bytes laid out from words: "#n" a count, a lone letter an id, "'text" a
// text (up to the next space), "w1.5" a weight, "W7fc00001" a weight's bits,
// "z16" zero bytes, "i15:14" an id block whose length says 15 but that
// carries 14 bytes. Where counts and lengths lie is kept, so tests can patch them.
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

// The state of the diff read, or "fault".
std::string read(std::span<const std::uint8_t> bytes) {
    const std::optional<Diff> diff = bytes_to_graph_diff(bytes);
    return diff ? state(*diff) : "fault";
}

// One of every kind of entry: a node, a deleted node, a source with two
// weighted targets, a source with an empty map, a source with a deleted edge.
const std::string kEveryKind =
    R"(#1 a '{"label":"a","red":7} #1 x #2 a #2 b w1.5 c w-2 b #0 #1 c #1 a)";
const std::string kEveryKindState = R"(Dx Ea: Eab=1.5 Eac=-2 Eb: Na{"label":"a","red":7} Xc: Xca)";

// Bytes, the state they read as (and are written back as), and whether they
// are written back byte for byte: the worked examples, an inner map emptied by
// a node deletion (count 0), weights as their bits; then what only reading can
// produce and what it keeps of repeated entries. Then what reading refuses
// beyond truncation and huge counts (below).
TEST(GraphDiffBytes, ReadTable) {
    const std::tuple<std::string, std::string, bool> rows[] = {
        {"z32", "", true},
        {"#0 #1 x #0 #0", "Dx", true},
        {R"(#1 a '{"label":"a"} #0 #0 #0)", R"(Na{"label":"a"})", true},
        {"#0 #0 #1 a #1 b W3fc00000 #0", "Ea: Eab=1.5", true},
        {"#0 #1 b #1 a #0 #1 a #1 b", "Db Ea: Xa: Xab", true},
        {"#0 #0 #1 a #1 b Wffc12345 #0", "Ea: Eab=Wffc12345", true},
        {"#0 #0 #1 a #1 b W7f800001 #0", "Ea: Eab=W7f800001", true},
        {"#0 #0 #1 a #1 b W80000000 #0", "Ea: Eab=-0", true},
        {kEveryKind, kEveryKindState, false},
        {kEveryKind + " Wffffffff", kEveryKindState, false},  // bytes after the end are ignored
        {"z32 W0100feff", "", false},
        {"#2 a 'notjson a '{} z24", "Na{}", false},  // the earlier text is never parsed
        {"#1 x '{} #1 x z16", "Dx Nx{}", false},
        {"#0 #3 a b a z16", "Da Db", false},
        {"z16 #2 a #1 b w1 a #1 c w2 #0", "Ea: Eac=2",
         false},  // the later map replaces the earlier
        {"z16 #1 a #2 b w1 b w4 #0", "Ea: Eab=4", false},
        {"z24 #2 a #2 b c a #1 x", "Xa: Xax", false},
        {"z24 #1 a #0", "Xa:", false},
    };
    for (const auto& [spec, expected, exact] : rows) {
        const std::vector<std::uint8_t> bytes = bytes_of(spec).bytes;
        const std::optional<Diff> diff = bytes_to_graph_diff(bytes);
        ASSERT_TRUE(diff) << spec;
        EXPECT_EQ(state(*diff), expected) << spec;
        const std::vector<std::uint8_t> written = testing::to_bytes(*diff);
        EXPECT_EQ(read(written), expected) << spec;
        EXPECT_TRUE(!exact || written == bytes) << spec;
    }
    for (const std::string spec :
         {// Id lengths other than 16 (of a node, a source, a target), and past the end.
          "#0 #1 i16:15", "#0 #1 i17:16", "#1 a #3 z2", "#0 #1 i15:15 z16", "#0 #1 i0:0 z16",
          "#0 #1 i17:17 z16", "z16 #1 i15:15 #0 z8", "z16 #1 a #1 i15:15 w1 z8",
          // Texts that are not UTF-8 (an unparsed earlier one included) or not a node change.
          "#1 a '{\"label\":\"\xff\"} z24", "#1 a '{}\xe2\x82 z24", "#2 a '\xc0 a '{} z24",
          "#1 a '{\"red\":256} z24", "#1 a '{}x z24"}) {
        EXPECT_EQ(read(bytes_of(spec).bytes), "fault") << spec;
    }
}

// Cutting a valid input anywhere fails (the cut input is a view of the whole,
// so a read past its end finds valid bytes, not a crash), and so does a count
// or length near 2^64 anywhere: a wrapping `position + length` would slip past
// an end check, and a count must never size a container up front.
TEST(GraphDiffBytes, TruncatedInputAndHugeCountsOrLengthsFail) {
    const Bytes full = bytes_of(kEveryKind);
    for (std::size_t cut = 0; cut < full.bytes.size(); ++cut) {
        EXPECT_EQ(read(std::span(full.bytes).first(cut)), "fault") << "cut at " << cut;
    }
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t size = full.bytes.size();
    std::vector<std::size_t> places = full.length_at;
    places.insert(places.end(), full.count_at.begin(), full.count_at.end());
    for (const std::size_t at : places) {
        for (const std::uint64_t value :
             {max, max - 7, max - 15, max - 23, max - at, max - size + 1, std::uint64_t{1} << 63,
              std::uint64_t{1} << 40, size - at - 8 + 1}) {
            std::vector<std::uint8_t> patched = full.bytes;
            for (std::size_t i = 0; i < 8; ++i) {
                patched[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
            }
            EXPECT_EQ(read(patched), "fault") << at << " = " << value;
        }
    }
}

// The same history writes the same bytes on every host: the hash reads an
// id's words little-endian and capacities do not depend on the word size.
// The digests are those of x86-64; the test runs on 32-bit and big-endian
// hosts too. The history uses only the raw output of mt19937_64, which the
// standard fixes.
TEST(GraphDiffBytes, SameHistoryWritesTheSameBytesOnEveryHost) {
    std::mt19937_64 random(2024);
    std::vector<Uuid> ids(4000);
    for (Uuid& id : ids) {
        for (std::size_t i = 0; i < 16; i += 8) {
            byte_layout::store(id.bytes.data() + i, random());
        }
    }
    Diff d;
    for (int step = 0; step < 60'000; ++step) {
        const std::uint64_t r = random();
        const Uuid& a = ids[static_cast<std::size_t>(r >> 8 & 0xfff) % ids.size()];
        const Uuid& b = ids[static_cast<std::size_t>(r >> 20 & 0xfff) % ids.size()];
        switch (r % 16) {
            case 0:
                d.delete_node(a);
                break;
            case 1:
                d.delete_edge(a, b);
                break;
            case 2:
            case 3:
                d.add_or_update_node(a, testing::update_of(R"({"label":"n","size":)" +
                                                           std::to_string(r >> 40) + "}"));
                break;
            default:
                d.add_edge(a, b, Weight::of(static_cast<float>(r >> 40)));
        }
    }
    const auto digest = [](const std::vector<std::uint8_t>& bytes) {
        std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
        for (const std::uint8_t byte : bytes) {
            hash = (hash ^ byte) * 0x100000001b3ULL;
        }
        return hash;
    };
    const std::vector<std::uint8_t> bytes = testing::to_bytes(d);
    const std::optional<Diff> again = bytes_to_graph_diff(bytes);
    ASSERT_TRUE(again);
    EXPECT_EQ(digest(bytes), 0x58ef6265339b5b32u) << bytes.size();
    EXPECT_EQ(digest(testing::to_bytes(*again)), 0x5da42e0a5e62c1ecu);
}

// The bound is a promise about the diff at prepare time: a diff that grew
// past it afterwards, in any section, fails and is never written past the
// bound, and one that shrank is written whole (its own bytes).
TEST(GraphDiffEncoder, DiffChangedAfterPrepareStaysWithinTheBound) {
    const std::string base = R"(Na{"label":"x"} Dp Dq Dr Eab=1 Ebc=1 Eca=1 Xcb)";
    std::vector<std::string> changes(4);  // more nodes, deleted nodes, edges, deleted edges
    for (char id = 'd'; id <= 'z'; ++id) {
        changes[0] += " N"s + id + "{}";
        changes[1] += " D"s + id;
        changes[2] += " Ea"s + id + "=1";
        changes[3] += " Xa"s + id;
    }
    changes.emplace_back();  // shrinks: no deleted nodes
    for (const std::string& more : changes) {
        Diff d = testing::diff_of(base);
        const std::optional<GraphDiffEncoder> encoder = GraphDiffEncoder::prepare(d);
        ASSERT_TRUE(encoder);
        const bool grow = !more.empty();
        d = testing::diff_of(grow ? base + more : base);
        if (!grow) {
            d.deleted_nodes.clear();
        }
        std::vector<std::uint8_t> buffer(encoder->bound() + 64, 0xa5);
        const std::optional<std::size_t> length = encoder->write_to(buffer.data());
        ASSERT_EQ(length.has_value(), !grow) << more;
        if (length) {
            buffer.resize(*length);
        } else {
            buffer.erase(buffer.begin(), buffer.end() - 64);  // what lies past the bound
        }
        EXPECT_EQ(buffer, length ? testing::to_bytes(d) : std::vector<std::uint8_t>(64, 0xa5));
    }
}

// Overlong forms, surrogates, code points above U+10FFFF and sequences cut
// short are faults; the lowest and highest valid sequence of each length are
// not. Each text is checked alone and after a run of ASCII (the fast path).
TEST(Utf8Validation, FaultTable) {
    for (const bool valid : {true, false}) {
        std::istringstream texts(
            valid
                ? "A\x7f \xc2\x80 \xdf\xbf \xe0\xa0\x80 \xed\x9f\xbf \xee\x80\x80 \xef\xbf\xbf "
                  "\xf0\x90\x80\x80 \xf4\x8f\xbf\xbf \0"s
                : "\x80 \xc0\x80 \xc1\xbf \xe0\x9f\xbf \xf0\x8f\xbf\xbf \xed\xa0\x80 \xed\xbf\xbf "
                  "\xf4\x90\x80\x80 \xf5\x80\x80\x80 \xff \xc2\x41 \xe0\x80 \xed\xa0 \xf4\x90 \xc2 "
                  "\xe0 \xf0\x90\x80 \xe1\x80\x41 \xf1\x80\x80\x41 \xf4\x8f\xc0\x80"s);
        for (std::string text; texts >> text;) {
            for (const std::string& tried : {text, "abcdefghijklmnopq" + text}) {
                EXPECT_EQ(
                    is_utf8(reinterpret_cast<const std::uint8_t*>(tried.data()), tried.size()),
                    valid)
                    << ::testing::PrintToString(tried);
            }
        }
    }
}

}  // namespace
}  // namespace tavro
