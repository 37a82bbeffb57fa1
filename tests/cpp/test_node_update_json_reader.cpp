#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.hpp"

namespace tavro {
namespace {

using testing::json_of;
using testing::update_of;

// The fault's description without its place (or with only the place), or ""
// when reading succeeds.
std::string fault_of(std::string_view text, bool place = false) {
    const auto read = read_node_update_json(text);
    const std::string description = read.ok() ? "" : read.error().description;
    const std::size_t at = description.rfind(" at line ");
    EXPECT_TRUE(read.ok() || at != std::string::npos) << description;
    return place ? description.substr(at + 1) : description.substr(0, at);
}

// Texts grouped by the fault they must fail with ("" for accepted texts).
struct Group {
    std::string fault;
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
        {"", {"{}", " \t\r\n{}\n\t ", "{ \"label\" : \"a\" , \"size\" : 1 }"}},
        {"EOF while parsing a value", {"", " \n\t\r", "{\"label\":", "nul", "{\"x\":["}},
        {"EOF while parsing an object",
         {"{", "{\"label\"", "{\"label\":\"a\"", "{\"x\":{", "{\"x\":{\"a\""}},
        {"EOF while parsing a list", {"[", "{\"x\":[1"}},
        {"expected `:`", {"{\"label\" 1}", "{\"x\":{\"a\" 1}}"}},
        {"expected `,` or `}`",
         {"{\"label\":\"a\" \"size\":1}", "{\"x\":{\"a\":1 \"b\":2}}", "{\"x\":{\"a\":1]}"}},
        {"expected `,` or `]`", {"{\"x\":[1 2]}", "{\"x\":[1,2}", "{\"x\":[1}]}"}},
        {"trailing comma", {"{\"label\":\"a\",}", "{\"x\":[1,]}", "{\"x\":{\"a\":1,}}"}},
        {"key must be a string", {"{1:2}", "{,}", "{\"x\":1,,}", "{\"x\":{1:1}}"}},
        {"trailing characters", {"{}x", std::string("{}\0", 3), "{\"x\":1}//"}},
        {"expected value",
         {"x", "}", "{\"x\":}", "{\"x\":True}", "{\"x\":/*c*/1}", "{\"x\":[,1]}"}},
        {"expected ident", {"nulL", "{\"x\":tru}"}},
        {"invalid type: string \"a\", expected struct NodeUpdate", {"\"a\""}},
        {"invalid type: integer `5`, expected struct NodeUpdate", {"5"}},
        {"invalid type: floating point `-1.5`, expected struct NodeUpdate", {"-1.5"}},
        {"invalid type: boolean `true`, expected struct NodeUpdate", {"true"}},
        {"invalid type: boolean `false`, expected struct NodeUpdate", {"false"}},
        {"invalid type: null, expected struct NodeUpdate", {" null "}},
    });
}

TEST(NodeUpdateJsonReader, PlaceIsLineAndCharacterColumn) {
    const struct {
        const char* text;
        const char* place;
    } rows[] = {
        {"", "at line 1 column 1"},
        {"{", "at line 1 column 2"},
        {"{\n  \"red\": 300\n}", "at line 2 column 10"},
        {"{}\r\n\r\n x", "at line 3 column 2"},
        // Columns count characters: each accented letter is two bytes.
        {"{\"label\":\"\xc3\xa9\xc3\xa9\" x}", "at line 1 column 15"},
        {"{\"label\":\"a\",}", "at line 1 column 13"},      // at the trailing comma
        {"{\"red\":1, \"red\":1}", "at line 1 column 11"},  // at the duplicate key
        // The eighth array element is refused at the comma that introduces it.
        {"[null,null,null,null,null,null,null,null]", "at line 1 column 36"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(fault_of(row.text, true), row.place) << row.text;
    }
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
    // A high surrogate must be followed at once by \u and a low one; a low one
    // may not stand alone. The same rules hold in keys and skipped values.
    check({
        {"EOF while parsing a string",
         {R"({"label":"a)", R"({"label":"a\)", R"({"label":"\u12)", R"({"label":"\ud800)",
          R"({"label":"\ud800\u)"}},
        {"invalid escape",
         {R"({"label":"\x"})", R"({"label":"\U0041"})", R"({"label":"\'"})", R"({"label":"\u12"})",
          R"({"label":"\u12g4"})", R"({"la\qbel":1})"}},
        {"control character (\\u0000-\\u001F) found while parsing a string",
         {"{\"label\":\"a\nb\"}", std::string("{\"label\":\"a\0b\"}", 15), "{\"label\":\"\x1f\"}",
          "{\"label\":\"\t\"}", "{\"x\":{\"\n\":1}}"}},
        {"unexpected end of hex escape",
         {R"({"label":"\ud800"})", R"({"label":"\ud800x"})", R"({"label":"\ud800\n"})",
          R"({"label":"\ud800 \udc00"})"}},
        {"lone leading surrogate in hex escape",
         {R"({"label":"\ud800\u0041"})", R"({"label":"\ud800\ud800"})", R"({"label":"\udc00"})",
          R"({"label":"a\udfffb"})", R"({"x":["\udc00"]})"}},
        {"invalid type: integer `5`, expected a string", {member("label", "5")}},
        {"invalid type: boolean `true`, expected a string", {member("url", "true")}},
        {"invalid type: map, expected a string", {member("url", "{}")}},
        {"invalid type: sequence, expected a string", {member("label", "[\"a\"]")}},
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
        {"number out of range", members("size", {"1e400", "-1e400", "1" + std::string(400, '0'),
                                                 "0.00001e99999999999999999999"})},
        {"invalid number", members("size", {"01", "-01", "-", "--1", "1.", "1.e5", "1e", "1e+",
                                            "1E-x", "-Infinity"})},
        {"expected value", members("size", {".5", "+1", "NaN"})},
        {"expected `,` or `}`", members("size", {"0x10", "1.5.5"})},
        {"invalid type: string \"5\", expected f32", {member("size", "\"5\"")}},
        {"invalid type: boolean `true`, expected f32", {member("size", "true")}},
        {"invalid type: sequence, expected f32", {member("size", "[]")}},
        // Skipped numbers are checked for form only.
        {"", members("x", {"1e400", "-0.5E-7"})},
        {"invalid number", members("x", {"01", "1."})},
    });
}

// Colours tell integers from floats by the text: "1.0", "1e2" and "-0" are
// floats, and integers beyond 64 bits become floats too.
TEST(NodeUpdateJsonReader, ColourTable) {
    for (const char* key : {"red", "green", "blue"}) {
        SCOPED_TRACE(key);
        check({
            {"", members(key, {"0", "255", "null"})},
            {"invalid value: integer `256`, expected u8", {member(key, "256")}},
            {"invalid value: integer `-1`, expected u8", {member(key, "-1")}},
            {"invalid value: integer `18446744073709551615`, expected u8",
             {member(key, "18446744073709551615")}},
            {"invalid value: integer `-9223372036854775808`, expected u8",
             {member(key, "-9223372036854775808")}},
            {"invalid type: floating point `1.0`, expected u8", {member(key, "1.0")}},
            {"invalid type: floating point `100.0`, expected u8", {member(key, "1e2")}},
            {"invalid type: floating point `-0.0`, expected u8", {member(key, "-0")}},
            {"invalid type: floating point `18446744073709551616.0`, expected u8",
             {member(key, "18446744073709551616")}},
            {"invalid type: floating point `-9223372036854775808.0`, expected u8",
             {member(key, "-9223372036854775809")}},
            {"number out of range", {member(key, "1e400")}},
            {"invalid type: string \"5\", expected u8", {member(key, "\"5\"")}},
            {"invalid type: map, expected u8", {member(key, "{\"a\":1}")}},
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
        {"duplicate field `label`",
         {R"({"label":"a","label":"b"})", R"({"label":null,"label":"b"})"}},
        {"duplicate field `size`", {R"({"size":1,"red":2,"size":null})"}},
        {"duplicate field `url`", {R"({"url":"","url":"")"}},
        {"duplicate field `red`", {R"({"red":1,"red":1})"}},
        {"duplicate field `green`", {R"({"green":1,"green":1})"}},
        {"duplicate field `blue`", {R"({"blue":1,"blue":1})"}},
        {"duplicate field `showLabel`", {R"({"showLabel":true,"show\u004cabel":false})"}},
        {"", {R"({"x":1,"x":2,"show_label":1,"show_label":2})"}},
        // The flag takes only the literals true, false and null.
        {"invalid type: integer `1`, expected a boolean", {member("showLabel", "1")}},
        {"invalid type: string \"true\", expected a boolean", {member("showLabel", "\"true\"")}},
        {"expected value", {member("showLabel", "True")}},
        {"EOF while parsing a value", {"{\"showLabel\":fals"}},
        {"expected ident", {member("showLabel", "falsy")}},
    });
}

TEST(NodeUpdateJsonReader, ArrayFormTable) {
    EXPECT_EQ(json_of(update_of(" [ \"a\" , 2.5 , null , 1 , 2 , 3 , true ] ")),
              R"({"label":"a","size":2.5,"red":1,"green":2,"blue":3,"showLabel":true})");
    const std::string six = "[null,null,null,null,null,null";
    const std::string seven = six + ",null";
    check({
        {"", {seven + "]"}},
        {"invalid length 0, expected struct NodeUpdate with 7 elements", {"[]"}},
        {"invalid length 1, expected struct NodeUpdate with 7 elements", {"[\"a\"]"}},
        {"invalid length 6, expected struct NodeUpdate with 7 elements", {six + "]"}},
        {"trailing comma", {six + ",]", seven + ",]"}},
        {"trailing characters", {seven + ",null]", seven + ",", seven + " x]", seven + "]x"}},
        {"EOF while parsing a list", {seven, six}},
        {"EOF while parsing a value", {six + ","}},
        {"expected `,` or `]`", {"[null null]"}},
        {"expected value", {"[,null]"}},
        {"invalid type: string \"b\", expected f32", {"[null,\"b\",null,null,null,null,null]"}},
        {"invalid type: sequence, expected a string", {"[[],null,null,null,null,null,null]"}},
        {"invalid value: integer `256`, expected u8", {"[null,null,null,256,null,null,null]"}},
        {"invalid type: integer `0`, expected a boolean", {"[null,null,null,null,null,null,0]"}},
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
        {"EOF while parsing a value", {"{\"x\":" + std::string(depth, '[')}},
        {"EOF while parsing a list", {"{\"x\":" + std::string(depth, '[') + "1"}},
        {"expected `,` or `]`",
         {"{\"x\":" + std::string(depth, '[') + std::string(depth - 1, ']') + "}"}},
        {"expected `,` or `}`", {"{\"x\":" + arrays + "]}"}},
    });
}

}  // namespace
}  // namespace tavro
