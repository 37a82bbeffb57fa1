#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.hpp"

namespace tavro {
namespace {

using testing::json_of;
using testing::update_of;

// The kind of the fault, or nothing when reading succeeds.
std::optional<ErrorKind> fault_of(std::string_view text) {
    const auto read = read_node_update_json(text);
    return read.ok() ? std::nullopt : std::optional(read.error().kind);
}

constexpr std::optional<ErrorKind> accepted;

// Texts grouped by the fault they must fail with.
struct Group {
    std::optional<ErrorKind> fault;
    std::vector<std::string> texts;
};

void check(const std::vector<Group>& groups) {
    for (const Group& group : groups) {
        for (const std::string& text : group.texts) {
            EXPECT_EQ(fault_of(text), group.fault) << "text: " << text;
        }
    }
}

std::string member(std::string_view key, std::string_view value) {
    return "{\"" + std::string(key) + "\":" + std::string(value) + "}";
}

// Each value in `values` as the value of `key`.
std::vector<std::string> members(std::string_view key, const std::vector<std::string>& values) {
    std::vector<std::string> texts;
    for (const std::string& value : values) {
        texts.push_back(member(key, value));
    }
    return texts;
}

TEST(NodeUpdateJsonReader, StructureTable) {
    check({
        {accepted, {"{}", " \t\r\n{}\n\t ", "{ \"label\" : \"a\" , \"size\" : 1 }"}},
        {ErrorKind::json_eof,
         {"", " \n\t\r", "{\"label\":", "{\"x\":[", "{", "{\"label\"", "{\"label\":\"a\"",
          "{\"x\":{", "{\"x\":{\"a\"", "[", "{\"x\":[1"}},
        {ErrorKind::json_syntax,
         {"{\"label\" 1}", "{\"x\":{\"a\" 1}}", "{\"label\":\"a\" \"size\":1}",
          "{\"x\":{\"a\":1 \"b\":2}}", "{\"x\":{\"a\":1]}", "{\"x\":[1 2]}", "{\"x\":[1,2}",
          "{\"x\":[1}]}", "{1:2}", "{,}", "{\"x\":1,,}", "{\"x\":{1:1}}", "x", "}", "{\"x\":}",
          "{\"x\":True}", "{\"x\":/*c*/1}", "{\"x\":[,1]}", "{\"x\":tru}"}},
        {ErrorKind::json_trailing,
         {"{\"label\":\"a\",}", "{\"x\":[1,]}", "{\"x\":{\"a\":1,}}", "{}x", std::string("{}\0", 3),
          "{\"x\":1}//"}},
        // The whole text must be an object or an array; a scalar is refused by
        // its first character.
        {ErrorKind::json_type, {"\"a\"", "5", "-1.5", "true", "false", " null ", "nul"}},
    });
}

TEST(NodeUpdateJsonReader, StringEscapesDecode) {
    const struct {
        const char* json;
        const char* text;
    } rows[] = {
        {R"("")", ""},
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("\u00e9\u00E9")", "\xc3\xa9\xc3\xa9"},
        {R"("\u20ac")", "\xe2\x82\xac"},
        {R"("\ud83d\ude00")", "\xf0\x9f\x98\x80"},
        {R"("\uDBFF\uDFFF")", "\xf4\x8f\xbf\xbf"},
        {"\"raw \xc3\xa9 \x7f\"", "raw \xc3\xa9 \x7f"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(update_of(member("label", row.json)).label, row.text) << row.json;
    }
    EXPECT_EQ(update_of(R"({"label":"\u0061\u0000"})").label, std::string("a\0", 2));
}

TEST(NodeUpdateJsonReader, StringRejectTable) {
    // In a decoded text (label, url, a key) a high surrogate must be followed
    // at once by \u and a low one, and a low one may not stand alone. A
    // skipped value only has to follow the JSON grammar, which allows both.
    check({
        {accepted,
         {R"({"x":"\ud800"})", R"({"x":["\udc00"],"y":{"\ud800\u0041":"\udfff\ud800"}})"}},
        {ErrorKind::json_eof,
         {R"({"label":"a)", R"({"label":"a\)", R"({"label":"\u12)", R"({"label":"\ud800)",
          R"({"label":"\ud800\u)"}},
        {ErrorKind::json_string,
         {R"({"label":"\x"})",
          R"({"label":"\U0041"})",
          R"({"label":"\'"})",
          R"({"label":"\u12"})",
          R"({"label":"\u12g4"})",
          R"({"la\qbel":1})",
          "{\"label\":\"a\nb\"}",
          std::string("{\"label\":\"a\0b\"}", 15),
          "{\"label\":\"\x1f\"}",
          "{\"label\":\"\t\"}",
          "{\"x\":{\"\n\":1}}",
          R"({"label":"\ud800"})",
          R"({"label":"\ud800x"})",
          R"({"label":"\ud800\n"})",
          R"({"label":"\ud800 \udc00"})",
          R"({"label":"\ud800\u0041"})",
          R"({"label":"\ud800\ud800"})",
          R"({"label":"\udc00"})",
          R"({"label":"a\udfffb"})",
          R"({"\ud800":1})",
          R"({"x":"\q"})",
          R"({"x":"\u12g4"})"}},
        {ErrorKind::json_type,
         {member("label", "5"), member("url", "true"), member("url", "{}"),
          member("label", "[\"a\"]")}},
    });
}

TEST(NodeUpdateJsonReader, SizeValuesBitForBit) {
    const struct {
        const char* json;
        float size;
    } rows[] = {
        {"3", 3.0f},
        {"-3", -3.0f},
        {"1E2", 100.0f},
        {"1e+2", 100.0f},
        {"25e-1", 2.5f},
        {"3.40282356779733e38", std::numeric_limits<float>::max()},
        {"18446744073709551616", 0x1p64f},
        {"-9223372036854775808", -0x1p63f},
        // An integer is rounded once, straight to 32 bits: 2^60 + 2^36 + 1 lies
        // just above the midpoint 2^60 + 2^36, which a detour through 64 bits
        // would land on and round down to even.
        {"1152921573326323713", 0x1.000002p60f},
        // The nearest 32-bit float to the decimal itself: read as a 64-bit
        // float first, this writer output would land on a 32-bit midpoint and
        // round to the neighbour 0x15ae43fe.
        {"7.038531e-26", std::bit_cast<float>(0x15ae43fdu)},
        {"1e39", std::numeric_limits<float>::infinity()},
        {"-1e39", -std::numeric_limits<float>::infinity()},
        {"340282356779733661637539395458142568448", std::numeric_limits<float>::infinity()},
        // Signed zeros and underflow.
        {"0", 0.0f},
        {"-0", -0.0f},
        {"0e5", 0.0f},
        {"1e-400", 0.0f},
        {"-1e-400", -0.0f},
        {"2e-324", 0.0f},
    };
    for (const auto& row : rows) {
        const NodeUpdate u = update_of(member("size", row.json));
        ASSERT_TRUE(u.size.has_value()) << row.json;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(*u.size), std::bit_cast<std::uint32_t>(row.size))
            << row.json;
    }
}

TEST(NodeUpdateJsonReader, NumberRejectTable) {
    check({
        {ErrorKind::json_out_of_range,
         members("size",
                 {"1e400", "-1e400", "1" + std::string(400, '0'), "0.00001e99999999999999999999"})},
        {ErrorKind::json_number, members("size", {"01", "-01", "-", "--1", "1.", "1.e5", "1e",
                                                  "1e+", "1E-x", "-Infinity"})},
        {ErrorKind::json_syntax, members("size", {".5", "+1", "NaN"})},
        {ErrorKind::json_syntax, members("size", {"0x10", "1.5.5"})},
        {ErrorKind::json_type,
         {member("size", "\"5\""), member("size", "true"), member("size", "[]")}},
        // Skipped numbers are checked for form only.
        {accepted, members("x", {"1e400", "-0.5E-7"})},
        {ErrorKind::json_number, members("x", {"01", "1."})},
    });
}

// Colours tell integers from floats by the text: "1.0", "1e2" and "-0" are
// floats, and integers beyond 64 bits become floats too.
TEST(NodeUpdateJsonReader, ColourTable) {
    for (const char* key : {"red", "green", "blue"}) {
        SCOPED_TRACE(key);
        check({
            {accepted, members(key, {"0", "255", "null"})},
            {ErrorKind::json_value,
             members(key, {"256", "-1", "18446744073709551615", "-9223372036854775808"})},
            {ErrorKind::json_type,
             members(key, {"1.0", "1e2", "-0", "18446744073709551616", "-9223372036854775809",
                           "1e400", "\"5\"", "{\"a\":1}"})},
        });
    }
}

TEST(NodeUpdateJsonReader, KeysNullsOrderDuplicatesAndTheFlag) {
    // Keys match exactly, after decoding; unknown keys are skipped.
    EXPECT_EQ(update_of(R"({"show_label":true,"Label":"x","":1,"labels":2,"url ":3,)"
                        R"("a_key_much_longer_than_any_field_key":{"label":"no"}})"),
              NodeUpdate{});
    EXPECT_EQ(json_of(update_of(R"({"l\u0061bel":"a","show\u004cabel":true,"\u0073ize":1})")),
              R"({"label":"a","size":1.0,"showLabel":true})");
    // Null leaves a field absent; members come in any order.
    EXPECT_EQ(update_of(R"({"label":null,"size":null,"url":null,"red":null,"green":null,)"
                        R"("blue":null,"showLabel":null})"),
              NodeUpdate{});
    EXPECT_EQ(json_of(update_of(R"({"showLabel":false,"blue":3,"url":"u","x":[],"label":"l",)"
                                R"("size":-2,"red":1})")),
              R"({"label":"l","size":-2.0,"url":"u","red":1,"blue":3,"showLabel":false})");
    // A key counts as seen even when its value was null.
    check({
        {ErrorKind::json_duplicate,
         {R"({"label":"a","label":"b"})", R"({"label":null,"label":"b"})",
          R"({"size":1,"red":2,"size":null})", R"({"url":"","url":"")", R"({"red":1,"red":1})",
          R"({"green":1,"green":1})", R"({"blue":1,"blue":1})",
          R"({"showLabel":true,"show\u004cabel":false})"}},
        {accepted, {R"({"x":1,"x":2,"show_label":1,"show_label":2})"}},
        // The flag takes only the literals true, false and null.
        {ErrorKind::json_type, members("showLabel", {"1", "\"true\""})},
        {ErrorKind::json_syntax, members("showLabel", {"True", "falsy"})},
        {ErrorKind::json_eof, {"{\"showLabel\":fals"}},
    });
    EXPECT_EQ(read_node_update_json(R"({"showLabel":null,"showLabel":true})").error().detail,
              "duplicate field `showLabel`");
}

TEST(NodeUpdateJsonReader, ArrayFormTable) {
    EXPECT_EQ(json_of(update_of(" [ \"a\" , 2.5 , null , 1 , 2 , 3 , true ] ")),
              R"({"label":"a","size":2.5,"red":1,"green":2,"blue":3,"showLabel":true})");
    const std::string six = "[null,null,null,null,null,null";
    const std::string seven = six + ",null";
    check({
        {accepted, {seven + "]"}},
        {ErrorKind::json_length, {"[]", "[\"a\"]", six + "]"}},
        {ErrorKind::json_trailing,
         {six + ",]", seven + ",]", seven + ",null]", seven + ",", seven + " x]", seven + "]x"}},
        {ErrorKind::json_eof, {seven, six, six + ","}},
        {ErrorKind::json_syntax, {"[null null]", "[,null]"}},
        {ErrorKind::json_type,
         {"[null,\"b\",null,null,null,null,null]", "[[],null,null,null,null,null,null]",
          "[null,null,null,null,null,null,0]"}},
        {ErrorKind::json_value, {"[null,null,null,256,null,null,null]"}},
    });
}

TEST(NodeUpdateJsonReader, NestedValuesAreSkippedWithoutStack) {
    EXPECT_EQ(
        update_of(
            R"({"label":"a","x":[{"b":[{"c":[{"d":[{"e":[1,"s",true,null,{}]}]}]}]}],"red":5})"),
        update_of(R"({"label":"a","red":5})"));

    constexpr std::size_t depth = 1'000'000;
    const std::string arrays = std::string(depth, '[') + std::string(depth, ']');
    EXPECT_EQ(update_of("{\"x\":" + arrays + ",\"red\":1}").red, 1);
    std::string mixed;  // arrays and objects alternating, a million levels in all
    for (std::size_t i = 0; i < depth; ++i) {
        mixed += i % 2 == 0 ? "[" : "{\"k\":";
    }
    mixed += "\"v\"";
    for (std::size_t i = depth; i-- > 0;) {
        mixed += i % 2 == 0 ? "]" : "}";
    }
    EXPECT_EQ(update_of("{\"x\":" + mixed + ",\"blue\":2}").blue, 2);

    // Faults deep inside still surface, and an unclosed depth ends at EOF.
    check({
        {ErrorKind::json_eof, {"{\"x\":" + std::string(depth, '[')}},
        {ErrorKind::json_eof, {"{\"x\":" + std::string(depth, '[') + "1"}},
        {ErrorKind::json_syntax,
         {"{\"x\":" + std::string(depth, '[') + std::string(depth - 1, ']') + "}"}},
        {ErrorKind::json_syntax, {"{\"x\":" + arrays + "]}"}},
    });
}

}  // namespace
}  // namespace tavro
