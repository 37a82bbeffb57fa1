// The node update's JSON text: what the reader accepts and refuses, what it
// reads as (in the writer's words), sizes bit for bit and against the
// standard conversion, deep nesting, the writer's escapes and bound, and its
// shortest digits for sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "diff_text.hpp"
#include "node_update/float_text.hpp"

namespace tavro {
namespace {

using testing::json_of;
using testing::update_of;

std::string member(const std::string& key, const std::string& value) {
    // Built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) about
    // "literal" + std::string, so the long texts below are appended too.
    std::string text = "{\"";
    text.append(key).append("\":").append(value).append("}");
    return text;
}

// Each text must be accepted (true) or refused (false).
void expect_accepted(bool accepted, const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
        NodeUpdate update;
        EXPECT_EQ(read_node_update_json(text, update), accepted) << text;
    }
}

TEST(NodeUpdateJson, AcceptAndRefuseTables) {
    expect_accepted(true, {" \t\r\n{}\n\t ", R"({ "label" : "a" , "size" : 1 })",
                           R"({"x":1,"x":2,"show_label":1,"show_label":2,"Label":3})",
                           R"({"x":[{"a":[1,"s",true,null]}]})", member("x", "1e400"),
                           // Skipped values follow the grammar only: lone surrogates pass.
                           R"({"x":["\udc00"]})", R"({"x":"\ud800"})", R"({"x":"\n\"\\"})"});
    expect_accepted(
        false,
        {"", "{", "[", "{\"label\"", "{\"label\":", "{\"label\" 1}", "{\"x\":[1 2]}",
         "{\"x\":[1:2]}", "{\"label\":\"a\",}", "{\"x\":[1,]}", "{\"x\":{\"a\":1,}}",
         "{\"x\":{1:2}}", "{1:2}", "{}x", std::string("{}\0", 3), "x", "{\"x\":True}", "nulL",
         "\"a\"", "5", "true", " null ",
         // Strings: bad escapes, raw control characters, broken surrogates.
         R"({"label":"a)", R"({"label":"\x"})", R"({"label":"\u12g4"})", R"({"x":"\u12")",
         "{\"label\":\"a\nb\"}", "{\"label\":\"\t\"}", R"({"label":"\ud800"})",
         R"({"label":"\ud800\u0041"})", R"({"label":"\ud800\n"})", R"({"label":"\udc00"})",
         member("label", "5"), member("url", "{}"), member("label", "[\"a\"]"),
         // The flag takes only the literals.
         member("showLabel", "1"), member("showLabel", "\"true\""), "{\"showLabel\":fals",
         // Colours: integers from 0 to 255 without a fraction or exponent.
         member("red", "256"), member("green", "01"), member("blue", "-1"), member("red", "1.0"),
         member("red", "1e2"), member("red", "-0"), member("red", "\"5\""), member("red", "{}"),
         member("red", "18446744073709551616"), member("red", "1000"),
         // Sizes: the number grammar, and magnitudes beyond 64-bit floats.
         member("size", "1e400"), member("size", "-1e400"), member("size", "01"),
         member("size", "1."), member("size", "1e+"), member("size", ".5"), member("size", "+1"),
         member("size", "NaN"), member("size", "0x10"), member("size", "\"5\""),
         member("size", "true"), member("size", std::string("1").append(400, '0')),
         member("x", "01"),
         // A key counts as seen even when its value was null.
         R"({"label":null,"label":"b"})", R"({"size":1,"red":2,"size":null})",
         R"({"url":"","url":""})", R"({"green":1,"green":1})", R"({"blue":1,"blue":1})",
         R"({"showLabel":true,"show\u004cabel":false})",
         // Arrays hold exactly seven fields.
         "[]", "[null,null,null,null,null,null]", "[null,null,null,null,null,null,]",
         "[null,null,null,null,null,null,null,null]", "[null,null,null,null,null,null,null",
         "[null null]", "[null,null,null,256,null,null,null]",
         "[null,\"b\",null,null,null,null,null]"});
    // Text that ends on a backslash is refused without reading beyond it (a heap
    // copy of exactly its length, so that AddressSanitizer sees a read past the end).
    const std::vector<char> cut(std::begin(R"({"label":"\)"), std::end(R"({"label":"\)") - 1);
    NodeUpdate update;
    EXPECT_FALSE(read_node_update_json(std::string_view(cut.data(), cut.size()), update));
}

// What a text reads as, in the words of the writer: fields in order, unknown
// keys, nulls and whitespace dropped, escapes decoded (and written again
// only where JSON needs them), the array form, sizes in their shortest text.
TEST(NodeUpdateJson, ReadAsTable) {
    // clang-format off
    std::vector<std::pair<std::string, std::string>> rows = {
        {R"({"showLabel":true,"blue":255,"green":9,"red":0,"url":"u/v","size":2.5,"label":"L"})",
         R"({"label":"L","size":2.5,"url":"u/v","red":0,"green":9,"blue":255,"showLabel":true})"},
        {R"({"showLabel":false,"url":"","green":100,"x":[]})",
         R"({"url":"","green":100,"showLabel":false})"},
        {R"({"show_label":true,"Label":"x","":1,"url ":3,"k":{"label":"no"}})", "{}"},
        {R"({"l\u0061bel":"a","show\u004cabel":true,"\u0073ize":1})",
         R"({"label":"a","size":1.0,"showLabel":true})"},
        {R"({"label":null,"size":null,"url":null,"red":null,"green":null,"blue":null,"showLabel":null})", "{}"},
        {" [ \"a\" , 2.5 , null , 1 , 2 , 3 , true ] ",
         R"({"label":"a","size":2.5,"red":1,"green":2,"blue":3,"showLabel":true})"},
        {"[null,null,null,null,null,null,null]", "{}"},
        {member("label", R"("\"\\\/\b\f\n\r\t")"), member("label", R"("\"\\/\b\f\n\r\t")")},
        {member("label", R"("\u00e9\u00E9\u20ac\u00A9")"), member("label", "\"\xc3\xa9\xc3\xa9\xe2\x82\xac\xc2\xa9\"")},
        {member("url", R"("\ud83d\ude00\uDBFF\uDFFF")"), member("url", "\"\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf\"")},
        {member("label", "\"raw \xc3\xa9 \x7f\""), member("label", "\"raw \xc3\xa9 \x7f\"")},
        {member("label", R"("\u0061\u0000")"), member("label", R"("a\u0000")")},
        // Control characters: named where JSON names them, else lower-case hex.
        {member("label", R"("\u0001\u0008\u000B\u000c\u001F\u0020\u007e")"),
         member("label", R"("\u0001\b\u000b\f\u001f ~")")},
    };
    // clang-format on
    // Sizes: read bit for bit, rounded once from the exact value (through a
    // 64-bit float, "7.038531e-26" and "1152921573326323713" land on a
    // midpoint and round the other way), and written in the shortest text that
    // reads back to the same bits (the digits are checked against the
    // standard conversion on their own), laid out as these show (the same
    // text where none is given).
    const std::string tiny = "0." + std::string(58, '0') + "1";
    // 2^1024 - 2^970, where a 64-bit float overflows; one below it does not.
    const std::string threshold =
        "1797693134862315807937289714053034150799341327100378269361737789804449682927647509466490"
        "1797758720709633028641669288791094655554785194040263065748867150582068190890200070838367"
        "6273854845817711531764475730270069855571366959622842914819860834936475292719074168444365"
        "510704342711559699508093042880177904174497792";
    // clang-format off
    const std::string sizes[][2] = {
        {"3", "3.0"}, {"1E2", "100.0"}, {"1e39", "null"}, {"-1e39", "null"}, {"1e-50", "0.0"},
        {"18446744073709551616", "1.8446744e19"}, {"-9223372036854775808", "-9.223372e18"},
        {"1152921573326323713", "1.1529216e18"}, {"7.038531e-26"}, {"1.0"}, {"100.0"},
        {"16777216.0"}, {"1000000000000.0"}, {"1.5"}, {"123.25"}, {"0.5"}, {"0.001"},
        {"0.000001"}, {"0.0000015"}, {"1e-7"}, {"1e13"}, {"1e-45"}, {"1.5e-7"}, {"1.5e13"},
        {"1.1754944e-38"}, {"0.0"}, {"-0.0"}, {"-1.5"}, {"-1e-7"}, {"1e-10"}, {"1.5e-10"},
        // 1e-49 and -1e-49: the leading zeros and the signed two-digit
        // exponent decide that these are small, not beyond the largest float.
        {tiny + "e+10", "0.0"}, {"-" + tiny + "E10", "-0.0"},
        {threshold.substr(0, 308) + "1." + std::string(400, '9'), "null"}};
    // clang-format on
    for (const auto& [read, written] : sizes) {
        rows.emplace_back(member("size", read), member("size", written.empty() ? read : written));
    }
    for (const auto& [read, written] : rows) {
        EXPECT_EQ(json_of(update_of(read)), written) << read;
    }
    expect_accepted(false, {member("size", threshold)});
}

// The reader's sizes against the standard conversion, as the reader wraps it:
// a float out of range is a zero or an infinity by the side of 1 it lies on,
// and a magnitude beyond 64-bit floats fails. The texts: the midpoints
// between neighbouring floats (exact in a 64-bit float) and the 64-bit floats
// beside them, floats, and the largest 64-bit float, printed to 0 to 400
// digits, fixed or with an exponent; then some get their last digit nudged
// (up from a 0, else down) or their exponent moved 300 or more places, and
// some are replaced by the float's shortest text. Edge floats come first in
// every 16.
TEST(NodeUpdateJson, SizesMatchTheStandardConversion) {
#ifndef __cpp_lib_to_chars
    GTEST_SKIP() << "no std::from_chars for floating point";
#else
    std::mt19937_64 random(2718u);
    const std::uint32_t edges[] = {0, 1, 0x7fffff, 0x800000, 0x7f7fffff};
    char text[1024];
    for (int i = 0; i < 100'000; ++i) {
        const auto bits =
            i % 16 < 5 ? edges[i % 16] : static_cast<std::uint32_t>(random() % 0x7f800000);
        const double f = std::bit_cast<float>(bits);
        const double next = bits == 0x7f7fffff ? 0x1p128 : std::bit_cast<float>(bits + 1);
        const double midpoint = (f + next) / 2;
        const double values[] = {midpoint, std::nextafter(midpoint, 0.0),
                                 std::nextafter(midpoint, 1e300), f,
                                 std::numeric_limits<double>::max()};
        const double sign = random() % 2 == 0 ? 1.0 : -1.0;
        const double value = sign * values[random() % (i % 64 == 0 ? 5 : 4)];
        const char* const format = random() % 4 == 0 ? "%.*f" : "%.*e";
        std::string json(text, static_cast<std::size_t>(std::snprintf(text, sizeof text, format,
                                                                      int(random() % 400), value)));
        const std::size_t e = std::min(json.find('e'), json.size());
        int moved = 0;  // the direction of a moved exponent
        const auto change = random() % 8;
        if (change == 0) {
            char& last = json[e - 1];
            last = last == '0' ? '1' : static_cast<char>(last - 1);
        } else if (change == 1 && e < json.size()) {
            moved = random() % 2 == 0 ? 1 : -1;
            json.replace(e, json.npos, moved > 0 ? "e+" : "e-")
                .append(std::to_string(300 + (random() >> i % 64)));
        } else if (change == 2) {
            json.assign(text,
                        std::to_chars(text, text + sizeof text, static_cast<float>(sign * f)).ptr);
        }
        const char* const end = json.data() + json.size();
        float expected = 0.0f;
        double wide = 0.0;
        const auto range = std::errc::result_out_of_range;
        const bool large = moved != 0 ? moved > 0 : std::fabs(value) >= 1;
        if (std::from_chars(json.data(), end, expected).ec == range) {
            expected = static_cast<float>(sign) * (large ? INFINITY : 0.0f);
        }
        // All ones for a failure.
        const std::uint64_t want = large && std::from_chars(json.data(), end, wide).ec == range
                                       ? ~0ull
                                       : std::bit_cast<std::uint32_t>(expected);
        NodeUpdate read;
        const bool ok = read_node_update_json(member("size", json), read);
        ASSERT_EQ(ok ? std::bit_cast<std::uint32_t>(*read.size) : ~0ull, want) << json;
    }
#endif
}

// A million levels of nesting, or a token of a million characters, read in
// linear time and without recursion (a quadratic reader would not finish).
TEST(NodeUpdateJson, HugeInput) {
    const std::size_t n = 1'000'000;
    std::string open, close, escapes;
    for (std::size_t i = 0; i < n; ++i) {
        open += i % 2 == 0 ? "[" : "{\"k\":";
        close += (n - 1 - i) % 2 == 0 ? "]" : "}";
        escapes += "\\u00e9";
    }
    // The midpoint between 1 and the next float: a tie goes to the even 1, and
    // a 1 a million digits later goes up.
    const std::string midpoint = std::string("1.000000059604644775390625").append(n, '0');
    const std::pair<std::string, std::string> rows[] = {
        {"{\"x\":" + open + "null" + close + ",\"red\":1}", R"({"red":1})"},
        {std::string("{").append(n, ' ').append("\"").append(n, 'k').append("\":[],\"red\":1}"),
         R"({"red":1})"},
        {member("size", std::string("0.").append(n, '0').append("1")), member("size", "0.0")},
        {member("size", std::string("1").append(n, '0').append("e-1000000")),
         member("size", "1.0")},
        {member("size", std::string("1e-").append(n, '9')), member("size", "0.0")},
        {member("size", midpoint), member("size", "1.0")},
        {member("size", midpoint + "1"), member("size", "1.0000001")},
    };
    for (const auto& [read, written] : rows) {
        EXPECT_EQ(json_of(update_of(read)), written) << read.substr(0, 40);
    }
    EXPECT_EQ(update_of(member("label", "\"" + escapes + "\"")).label->size(), 2 * n);
    expect_accepted(false, {"{\"x\":" + open, "{\"x\":" + open + "null" + close + "]}",
                            "{\"x\":" + open + "null]" + close.substr(1) + "}",
                            member("size", std::string("1").append(n, '0')),
                            member("size", std::string("1e").append(n, '9'))});
}

// Random updates (fields present or not, texts full of escapes, sizes of any
// bits) are written within their bound (json_of checks it) and read back as
// they were, a non-finite size as absent.
TEST(NodeUpdateJson, RandomUpdatesReadBackWithinTheirBound) {
    std::mt19937 random(1212u);
    for (int i = 0; i < 3000; ++i) {
        NodeUpdate u;
        for_each_field(u, [&](auto, auto& field) {
            using Value = typename std::decay_t<decltype(field)>::value_type;
            if (random() % 3 == 0) {
                return;
            }
            if constexpr (std::is_same_v<Value, std::string>) {
                for (field.emplace(random() % 40, 'a'); char& c : *field) {
                    c = random() % 16 != 0 ? c : static_cast<char>(random() % 128);
                }
            } else if constexpr (std::is_same_v<Value, float>) {
                field = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
            } else {
                field = static_cast<Value>(random() % (std::is_same_v<Value, bool> ? 2 : 256));
            }
        });
        const std::string json = json_of(u);
        if (u.size && !std::isfinite(*u.size)) {
            u.size.reset();
        }
        ASSERT_EQ(update_of(json), u) << json;
    }
}

// The significant digits and the value of a text, which together fix it.
struct Reading {
    std::string digits;
    std::uint32_t bits = 0;
    friend bool operator==(const Reading&, const Reading&) = default;
};

Reading reading_of(const char* begin, const char* end) {
    // strtof, not from_chars: every standard library has it for floats (and
    // tests run in the "C" locale, whose decimal point it reads).
    Reading r;
    r.bits = std::bit_cast<std::uint32_t>(std::strtof(std::string(begin, end).c_str(), nullptr));
    for (const char* p = begin; p != end && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9') {
            r.digits += *p;
        }
    }
    r.digits.erase(0, r.digits.find_first_not_of('0'));
    r.digits.erase(r.digits.find_last_not_of('0') + 1);
    return r;
}

// The size writer finds the shortest digits itself for common magnitudes and
// asks the standard conversion for the rest: both must give the same digits,
// the nearest of the shortest candidates, for every float. Every exponent
// from 2^-9 to 2^26 (and a margin on both sides), with the significands at
// the ends, around a power of two, and at random.
TEST(FloatTextDigits, SameAsTheStandardShortestConversion) {
    std::mt19937 random(6120u);
    char ours[max_float32_text_size];
    char theirs[64];
    for (std::uint32_t exponent = 100; exponent < 170; ++exponent) {
        for (int i = 0; i < 3000; ++i) {
            // 0, 1, 0x7fffff and 0x7ffffe first, then at random.
            const auto low = static_cast<std::uint32_t>(i);
            const std::uint32_t significand = low < 2   ? low
                                              : low < 4 ? 0x800001u - low
                                                        : random() & 0x7fffffu;
            const float value = std::bit_cast<float>(exponent << 23 | significand);
            const char* const ours_end = write_float32_text(value, ours);
            const char* const theirs_end =
                std::to_chars(theirs, theirs + sizeof theirs, value, std::chars_format::scientific)
                    .ptr;
            ASSERT_EQ(reading_of(ours, ours_end), reading_of(theirs, theirs_end))
                << std::string_view(ours, static_cast<std::size_t>(ours_end - ours)) << " vs "
                << std::string_view(theirs, static_cast<std::size_t>(theirs_end - theirs));
        }
    }
}

}  // namespace
}  // namespace tavro
