#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "node_update/float_text.hpp"
#include "test_support.hpp"

namespace tavro {
namespace {

using testing::json_of;
using testing::update_of;

TEST(NodeUpdateJsonWriter, MembersInFieldOrderWithoutWhitespace) {
    const struct {
        const char* read;
        const char* written;
    } rows[] = {
        {"{}", "{}"},
        {R"({"showLabel":true,"blue":255,"green":9,"red":0,"url":"u/v","size":2.5,"label":"L"})",
         R"({"label":"L","size":2.5,"url":"u/v","red":0,"green":9,"blue":255,"showLabel":true})"},
        {R"({"showLabel":false,"red":255,"size":1.5,"label":"Ab"})",
         R"({"label":"Ab","size":1.5,"red":255,"showLabel":false})"},  // 53 characters
        {R"({"showLabel":false})", R"({"showLabel":false})"},
        {R"({"green":100,"url":""})", R"({"url":"","green":100})"},
        {R"({"red":7,"green":42,"blue":128})", R"({"red":7,"green":42,"blue":128})"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(json_of(update_of(row.read)), row.written);
    }
    // Appends after what the buffer holds.
    std::string text = "prefix";
    write_node_update_json(update_of(rows[1].read), text);
    write_node_update_json(NodeUpdate{}, text);
    EXPECT_EQ(text, std::string("prefix") + rows[1].written + "{}");
}

TEST(NodeUpdateJsonWriter, NonFiniteSizeIsWrittenAsNullAndReadsBackAbsent) {
    NodeUpdate u = update_of(R"({"red":1})");
    for (const float size : {NAN, INFINITY, -INFINITY}) {
        u.size = size;
        EXPECT_EQ(json_of(u), R"({"size":null,"red":1})");
        EXPECT_FALSE(update_of(json_of(u)).size.has_value());
    }
}

TEST(NodeUpdateJsonWriter, EscapeTableForEveryAsciiCharacter) {
    const std::string named[] = {"\\b", "\\t", "\\n", "\\u000b", "\\f", "\\r"};
    for (int c = 0; c < 128; ++c) {
        NodeUpdate u;
        u.label = std::string(1, static_cast<char>(c));
        char hex[16];
        std::snprintf(hex, sizeof hex, "\\u%04x", c);
        const std::string expected = c >= 8 && c <= 13 ? named[c - 8]
                                     : c < 32          ? hex
                                     : c == '"'        ? "\\\""
                                     : c == '\\'       ? "\\\\"
                                                       : *u.label;
        EXPECT_EQ(json_of(u), R"({"label":")" + expected + "\"}") << "character " << c;
    }
    // Solidus, delete and non-ASCII stay raw.
    NodeUpdate u;
    u.url = "a/b\x7f\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    EXPECT_EQ(json_of(u), "{\"url\":\"a/b\x7f\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"}");
}

TEST(NodeUpdateJsonWriter, ColoursInPlainDecimalRoundTrip) {
    NodeUpdate u;
    for (int v = 0; v < 256; ++v) {
        u.red = static_cast<std::uint8_t>(v);
        u.green = static_cast<std::uint8_t>(255 - v);
        u.blue = static_cast<std::uint8_t>(v / 3);
        EXPECT_EQ(update_of(json_of(u)), u) << v;
    }
}

std::string text_of(float value) {
    char chars[max_float32_text_size];
    return std::string(chars, write_float32_text(value, chars));
}

float parse_float(const std::string& text) {
    float value = 0.0f;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

float from_bits(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

// Each text is written back exactly from the float it reads as. Layouts:
// digits, zeros, ".0" (e >= 0, k <= 13); a point inside the digits
// (0 < k <= 13); a leading "0." (-6 < k <= 0); one or several digits with an
// exponent; signs and zeros.
TEST(FloatTextLayout, EachRowOfTheLayoutTable) {
    const char* const texts[] = {
        "1.0",       "100.0",  "16777216.0", "1000000000000.0", "1200000000000.0", "1.5",  "123.25",
        "8388607.5", "0.5",    "0.001",      "0.000001",        "0.0000015",       "1e-7", "1e13",
        "1e-45",     "1.5e-7", "1.5e13",     "3.4028235e38",    "1.1754944e-38",   "0.0",  "-0.0",
        "-1.5",      "-1e-7",  "-0.000001"};
    for (const std::string text : texts) {
        EXPECT_EQ(text_of(parse_float(text)), text);
    }
    // Nine digits behind five zeros, negative: the longest layout.
    const std::string longest = text_of(-std::nextafter(0.00001f, 0.0f));
    EXPECT_EQ(longest.rfind("-0.00000", 0), 0u) << longest;
    EXPECT_LE(longest.size(), max_float32_text_size);
}

// The significant digits of a written size: no sign, point, exponent, or
// leading and trailing zeros.
std::string significant_digits(const std::string& text) {
    std::string digits;
    for (const char c : text.substr(0, text.find('e'))) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    digits.erase(0, digits.find_first_not_of('0'));
    digits.erase(digits.find_last_not_of('0') + 1);
    return digits;
}

std::string scientific(float value) {
    char chars[64];
    return std::string(
        chars,
        std::to_chars(chars, chars + sizeof chars, value, std::chars_format::scientific).ptr);
}

// Every written size reads back, through the node update reader, as the same
// 32-bit pattern.
void expect_reads_back(float value, std::string& buffer) {
    NodeUpdate update;
    update.size = value;
    buffer.clear();
    write_node_update_json(update, buffer);
    const auto read = read_node_update_json(buffer);
    ASSERT_TRUE(read.ok()) << buffer;
    ASSERT_TRUE(read.value().size.has_value()) << buffer;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(*read.value().size), std::bit_cast<std::uint32_t>(value))
        << buffer;
}

std::vector<float> sweep_values() {
    std::vector<float> values;
    // Every exponent (so every power of two), with the smallest, largest and a
    // middle significand.
    for (std::uint32_t exponent = 0; exponent < 255; ++exponent) {
        for (const std::uint32_t significand : {0u, 1u, 0x400000u, 0x7fffffu, 0x2aaaaau}) {
            values.push_back(from_bits(exponent << 23 | significand));
        }
    }
    // Subnormals from the smallest upwards, and the largest ones.
    for (std::uint32_t bits = 1; bits < 5000; ++bits) {
        values.push_back(from_bits(bits));
        values.push_back(from_bits(0x800000u - bits));
    }
    for (int p = -45; p <= 38; ++p) {
        values.push_back(parse_float("1e" + std::to_string(p)));
    }
    std::mt19937 random(20240611u);
    for (int i = 0; i < 300000; ++i) {
        const float value = from_bits(static_cast<std::uint32_t>(random()));
        if (std::isfinite(value)) {
            values.push_back(value);
        }
    }
    const std::size_t positives = values.size();
    for (std::size_t i = 0; i < positives; ++i) {
        values.push_back(-values[i]);
    }
    return values;
}

// Read back bit for bit, with the fewest digits that do. (Which of equally
// short candidates is written, the nearest, the layout table pins down at
// the largest, smallest normal and smallest subnormal floats.)
TEST(FloatTextSweep, ReadsBackBitExactWithTheFewestDigits) {
    std::string buffer;
    for (const float value : sweep_values()) {
        ASSERT_NO_FATAL_FAILURE(expect_reads_back(value, buffer));
        ASSERT_EQ(significant_digits(text_of(value)).size(),
                  value == 0.0f ? 0 : significant_digits(scientific(std::fabs(value))).size())
            << buffer;
    }
}

// All 2^32 patterns read back; opt in with TAVRO_EXHAUSTIVE=1 (some tens of
// minutes of one core).
TEST(FloatTextSweep, EveryBitPatternWhenRequested) {
    const char* flag = std::getenv("TAVRO_EXHAUSTIVE");
    if (flag == nullptr || std::string(flag) != "1") {
        GTEST_SKIP() << "set TAVRO_EXHAUSTIVE=1 to check all 2^32 patterns";
    }
    std::string buffer;
    for (std::uint64_t bits = 0; bits < std::uint64_t{1} << 32; ++bits) {
        const float value = from_bits(static_cast<std::uint32_t>(bits));
        if (std::isfinite(value)) {
            ASSERT_NO_FATAL_FAILURE(expect_reads_back(value, buffer));
        }
    }
}

}  // namespace
}  // namespace tavro
