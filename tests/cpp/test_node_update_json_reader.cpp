#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

// The fault's description without its place, or "" when reading succeeds.
std::string fault_of(std::string_view text) {
    const auto read = read_node_update_json(text);
    if (read.ok()) {
        return "";
    }
    const std::string& description = read.error().description;
    const std::size_t place = description.rfind(" at line ");
    EXPECT_NE(place, std::string::npos) << description;
    return description.substr(0, place);
}

std::string place_of(std::string_view text) {
    const auto read = read_node_update_json(text);
    if (read.ok()) {
        return "";
    }
    const std::string& description = read.error().description;
    return description.substr(description.rfind(" at line ") + 1);
}

NodeUpdate read_ok(std::string_view text) {
    auto read = read_node_update_json(text);
    EXPECT_TRUE(read.ok()) << text << ": " << read.error().description;
    return read.ok() ? std::move(read).value() : NodeUpdate{};
}

struct Case {
    std::string text;
    std::string fault;  // "" when the text is accepted
};

void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(fault_of(c.text), c.fault) << "text: " << c.text;
    }
}

std::string member(std::string_view key, std::string_view value) {
    return "{\"" + std::string(key) + "\":" + std::string(value) + "}";
}

TEST(NodeUpdateJsonReaderStructure, AcceptAndRejectTable) {
    check({
        {"{}", ""},
        {" \t\r\n{}\n\t ", ""},
        {"{ \"label\" : \"a\" , \"size\" : 1 }", ""},
        {"", "EOF while parsing a value"},
        {" \n\t\r", "EOF while parsing a value"},
        {"{", "EOF while parsing an object"},
        {"{\"label\"", "EOF while parsing an object"},
        {"{\"label\":\"a\"", "EOF while parsing an object"},
        {"{\"label\":", "EOF while parsing a value"},
        {"{\"label\" 1}", "expected `:`"},
        {"{\"label\":\"a\" \"size\":1}", "expected `,` or `}`"},
        {"{\"label\":\"a\",}", "trailing comma"},
        {"{1:2}", "key must be a string"},
        {"{,}", "key must be a string"},
        {"{\"x\":1,,}", "key must be a string"},
        {"{}x", "trailing characters"},
        {"{} {}", "trailing characters"},
        {std::string("{}\0", 3), "trailing characters"},
        {"[", "EOF while parsing a list"},
        {"x", "expected value"},
        {"}", "expected value"},
        {"\"a\"", "invalid type: string \"a\", expected struct NodeUpdate"},
        {"5", "invalid type: integer `5`, expected struct NodeUpdate"},
        {"-1.5", "invalid type: floating point `-1.5`, expected struct NodeUpdate"},
        {"true", "invalid type: boolean `true`, expected struct NodeUpdate"},
        {"false", "invalid type: boolean `false`, expected struct NodeUpdate"},
        {" null ", "invalid type: null, expected struct NodeUpdate"},
        {"nul", "EOF while parsing a value"},
        {"nulL", "expected ident"},
        // Faults inside a skipped value.
        {"{\"x\":}", "expected value"},
        {"{\"x\":tru}", "expected ident"},
        {"{\"x\":True}", "expected value"},
        {"{\"x\":NULL}", "expected value"},
        {"{\"x\":/*c*/1}", "expected value"},
        {"{\"x\":1}//", "trailing characters"},
        {"{\"x\":[1 2]}", "expected `,` or `]`"},
        {"{\"x\":[1,]}", "trailing comma"},
        {"{\"x\":[1,2}", "expected `,` or `]`"},
        {"{\"x\":[,1]}", "expected value"},
        {"{\"x\":[", "EOF while parsing a value"},
        {"{\"x\":[1", "EOF while parsing a list"},
        {"{\"x\":{", "EOF while parsing an object"},
        {"{\"x\":{\"a\"", "EOF while parsing an object"},
        {"{\"x\":{\"a\" 1}}", "expected `:`"},
        {"{\"x\":{\"a\":1,}}", "trailing comma"},
        {"{\"x\":{\"a\":1 \"b\":2}}", "expected `,` or `}`"},
        {"{\"x\":{1:1}}", "key must be a string"},
        {"{\"x\":{\"a\":1]}", "expected `,` or `}`"},
        {"{\"x\":[1}]}", "expected `,` or `]`"},
    });
}

TEST(NodeUpdateJsonReaderStructure, PlaceIsLineAndCharacterColumn) {
    EXPECT_EQ(place_of(""), "at line 1 column 1");
    EXPECT_EQ(place_of("{"), "at line 1 column 2");
    EXPECT_EQ(place_of("{\n  \"red\": 300\n}"), "at line 2 column 10");
    EXPECT_EQ(place_of("{}\r\n\r\n x"), "at line 3 column 2");
    // Columns count characters: each accented letter is two bytes.
    EXPECT_EQ(place_of("{\"label\":\"\xc3\xa9\xc3\xa9\" x}"), "at line 1 column 15");
    EXPECT_EQ(place_of("{\"label\":\"a\",}"), "at line 1 column 13");
}

TEST(NodeUpdateJsonReaderStrings, EscapesDecode) {
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
        const NodeUpdate u = read_ok(member("label", row.json));
        ASSERT_TRUE(u.label.has_value()) << row.json;
        EXPECT_EQ(*u.label, row.text) << row.json;
    }
    EXPECT_EQ(*read_ok(R"({"label":"\u0061\u0000"})").label, std::string("a\0", 2));
}

TEST(NodeUpdateJsonReaderStrings, RejectTable) {
    const std::string control = "control character (\\u0000-\\u001F) found while parsing a string";
    check({
        {R"({"label":"a)", "EOF while parsing a string"},
        {R"({"label":"a\)", "EOF while parsing a string"},
        {R"({"label":"\u12)", "EOF while parsing a string"},
        {R"({"label":"\x"})", "invalid escape"},
        {R"({"label":"\U0041"})", "invalid escape"},
        {R"({"label":"\'"})", "invalid escape"},
        {R"({"label":"\u12"})", "invalid escape"},
        {R"({"label":"\u12g4"})", "invalid escape"},
        {"{\"label\":\"a\nb\"}", control},
        {std::string("{\"label\":\"a\0b\"}", 15), control},
        {"{\"label\":\"\x1f\"}", control},
        {"{\"label\":\"\t\"}", control},
        // Surrogates: a high one must be followed at once by \u and a low one;
        // a low one may not stand alone.
        {R"({"label":"\ud800"})", "unexpected end of hex escape"},
        {R"({"label":"\ud800x"})", "unexpected end of hex escape"},
        {R"({"label":"\ud800\n"})", "unexpected end of hex escape"},
        {R"({"label":"\ud800 \udc00"})", "unexpected end of hex escape"},
        {R"({"label":"\ud800\u0041"})", "lone leading surrogate in hex escape"},
        {R"({"label":"\ud800\ud800"})", "lone leading surrogate in hex escape"},
        {R"({"label":"\udc00"})", "lone leading surrogate in hex escape"},
        {R"({"label":"a\udfffb"})", "lone leading surrogate in hex escape"},
        {R"({"label":"\ud800)", "EOF while parsing a string"},
        {R"({"label":"\ud800\u)", "EOF while parsing a string"},
        // The same rules hold in keys and in skipped values.
        {R"({"la\qbel":1})", "invalid escape"},
        {R"({"x":["\udc00"]})", "lone leading surrogate in hex escape"},
        {"{\"x\":{\"\n\":1}}", control},
        // Type of the label and url values.
        {member("label", "5"), "invalid type: integer `5`, expected a string"},
        {member("url", "true"), "invalid type: boolean `true`, expected a string"},
        {member("url", "{}"), "invalid type: map, expected a string"},
        {member("label", "[\"a\"]"), "invalid type: sequence, expected a string"},
    });
}

TEST(NodeUpdateJsonReaderNumbers, SizeValues) {
    const struct {
        const char* json;
        float size;
    } rows[] = {
        {"3", 3.0f},
        {"-3", -3.0f},
        {"1.5", 1.5f},
        {"1E2", 100.0f},
        {"1e+2", 100.0f},
        {"25e-1", 2.5f},
        {"0.1", 0.1f},
        {"1e-45", std::bit_cast<float>(1u)},
        {"3.4028235e38", std::numeric_limits<float>::max()},
        {"3.40282356779733e38", std::numeric_limits<float>::max()},
        {"18446744073709551615", 0x1p64f},
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
    };
    for (const auto& row : rows) {
        const NodeUpdate u = read_ok(member("size", row.json));
        ASSERT_TRUE(u.size.has_value()) << row.json;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(*u.size), std::bit_cast<std::uint32_t>(row.size))
            << row.json;
    }
}

TEST(NodeUpdateJsonReaderNumbers, SignedZerosAndUnderflow) {
    const struct {
        const char* json;
        bool negative;
    } rows[] = {{"0", false},   {"-0", true},      {"0.0", false},    {"-0.0", true},
                {"0e5", false}, {"1e-400", false}, {"-1e-400", true}, {"2e-324", false}};
    for (const auto& row : rows) {
        const NodeUpdate u = read_ok(member("size", row.json));
        ASSERT_TRUE(u.size.has_value()) << row.json;
        EXPECT_EQ(*u.size, 0.0f) << row.json;
        EXPECT_EQ(std::signbit(*u.size), row.negative) << row.json;
    }
}

TEST(NodeUpdateJsonReaderNumbers, RejectTable) {
    check({
        {member("size", "1e400"), "number out of range"},
        {member("size", "-1e400"), "number out of range"},
        {member("size", "1" + std::string(400, '0')), "number out of range"},
        {member("size", "0.00001e99999999999999999999"), "number out of range"},
        {member("size", "01"), "invalid number"},
        {member("size", "00"), "invalid number"},
        {member("size", "-01"), "invalid number"},
        {member("size", "-"), "invalid number"},
        {member("size", "-a"), "invalid number"},
        {member("size", "--1"), "invalid number"},
        {member("size", "1."), "invalid number"},
        {member("size", "1.e5"), "invalid number"},
        {member("size", "1e"), "invalid number"},
        {member("size", "1e+"), "invalid number"},
        {member("size", "1E-x"), "invalid number"},
        {member("size", "-Infinity"), "invalid number"},
        {member("size", ".5"), "expected value"},
        {member("size", "+1"), "expected value"},
        {member("size", "NaN"), "expected value"},
        {member("size", "0x10"), "expected `,` or `}`"},
        {member("size", "1.5.5"), "expected `,` or `}`"},
        {member("size", "\"5\""), "invalid type: string \"5\", expected f32"},
        {member("size", "true"), "invalid type: boolean `true`, expected f32"},
        {member("size", "[]"), "invalid type: sequence, expected f32"},
        // Skipped numbers are checked for form only.
        {member("x", "1e400"), ""},
        {member("x", "-0.5E-7"), ""},
        {member("x", "01"), "invalid number"},
        {member("x", "1."), "invalid number"},
    });
}

TEST(NodeUpdateJsonReaderNumbers, ColourTable) {
    for (const char* key : {"red", "green", "blue"}) {
        check({
            {member(key, "0"), ""},
            {member(key, "255"), ""},
            {member(key, "null"), ""},
            {member(key, "256"), "invalid value: integer `256`, expected u8"},
            {member(key, "-1"), "invalid value: integer `-1`, expected u8"},
            {member(key, "18446744073709551615"),
             "invalid value: integer `18446744073709551615`, expected u8"},
            {member(key, "-9223372036854775808"),
             "invalid value: integer `-9223372036854775808`, expected u8"},
            {member(key, "1.0"), "invalid type: floating point `1.0`, expected u8"},
            {member(key, "1e2"), "invalid type: floating point `100.0`, expected u8"},
            {member(key, "-0"), "invalid type: floating point `-0.0`, expected u8"},
            {member(key, "18446744073709551616"),
             "invalid type: floating point `18446744073709551616.0`, expected u8"},
            {member(key, "-9223372036854775809"),
             "invalid type: floating point `-9223372036854775808.0`, expected u8"},
            {member(key, "1e400"), "number out of range"},
            {member(key, "\"5\""), "invalid type: string \"5\", expected u8"},
            {member(key, "true"), "invalid type: boolean `true`, expected u8"},
            {member(key, "{\"a\":1}"), "invalid type: map, expected u8"},
        });
    }
    const NodeUpdate u = read_ok(R"({"red":255,"green":0,"blue":7})");
    EXPECT_EQ(u.red, 255);
    EXPECT_EQ(u.green, 0);
    EXPECT_EQ(u.blue, 7);
}

TEST(NodeUpdateJsonReaderRecord, ShowLabelValues) {
    EXPECT_EQ(read_ok(member("showLabel", "true")).show_label, true);
    EXPECT_EQ(read_ok(member("showLabel", "false")).show_label, false);
    EXPECT_FALSE(read_ok(member("showLabel", "null")).show_label.has_value());
    check({
        {member("showLabel", "1"), "invalid type: integer `1`, expected a boolean"},
        {member("showLabel", "\"true\""), "invalid type: string \"true\", expected a boolean"},
        {member("showLabel", "True"), "expected value"},
        {"{\"showLabel\":fals", "EOF while parsing a value"},
        {member("showLabel", "falsy"), "expected ident"},
    });
}

TEST(NodeUpdateJsonReaderRecord, KeysMatchExactlyAfterDecoding) {
    NodeUpdate u = read_ok(R"({"show_label":true,"Label":"x","":1,"labels":2,"url ":3,)"
                           R"("a_key_much_longer_than_any_field_key":{"label":"no"}})");
    EXPECT_EQ(u, NodeUpdate{});

    u = read_ok(R"({"l\u0061bel":"a","show\u004cabel":true,"\u0073ize":1})");
    EXPECT_EQ(u.label, "a");
    EXPECT_EQ(u.show_label, true);
    EXPECT_EQ(u.size, 1.0f);
}

TEST(NodeUpdateJsonReaderRecord, NullLeavesAbsentAndOrderIsFree) {
    EXPECT_EQ(read_ok(R"({"label":null,"size":null,"url":null,"red":null,"green":null,)"
                      R"("blue":null,"showLabel":null})"),
              NodeUpdate{});
    const NodeUpdate u =
        read_ok(R"({"showLabel":false,"blue":3,"url":"u","x":[],"label":"l","size":-2,"red":1})");
    EXPECT_EQ(u.label, "l");
    EXPECT_EQ(u.size, -2.0f);
    EXPECT_EQ(u.url, "u");
    EXPECT_EQ(u.red, 1);
    EXPECT_FALSE(u.green.has_value());
    EXPECT_EQ(u.blue, 3);
    EXPECT_EQ(u.show_label, false);
}

TEST(NodeUpdateJsonReaderRecord, DuplicateKeys) {
    check({
        {R"({"label":"a","label":"b"})", "duplicate field `label`"},
        {R"({"label":null,"label":"b"})", "duplicate field `label`"},
        {R"({"size":1,"red":2,"size":null})", "duplicate field `size`"},
        {R"({"url":"","url":"")", "duplicate field `url`"},
        {R"({"red":1,"red":1})", "duplicate field `red`"},
        {R"({"green":1,"green":1})", "duplicate field `green`"},
        {R"({"blue":1,"blue":1})", "duplicate field `blue`"},
        {R"({"showLabel":true,"show\u004cabel":false})", "duplicate field `showLabel`"},
        {R"({"x":1,"x":2,"show_label":1,"show_label":2})", ""},
    });
    EXPECT_EQ(place_of(R"({"red":1, "red":1})"), "at line 1 column 11");
}

TEST(NodeUpdateJsonReaderArrayForm, AcceptAndRejectTable) {
    EXPECT_EQ(read_ok("[null,null,null,null,null,null,null]"), NodeUpdate{});
    const NodeUpdate u = read_ok(" [ \"a\" , 2.5 , null , 1 , 2 , 3 , true ] ");
    NodeUpdate expected;
    expected.label = "a";
    expected.size = 2.5f;
    expected.red = 1;
    expected.green = 2;
    expected.blue = 3;
    expected.show_label = true;
    EXPECT_EQ(u, expected);

    const std::string six = "[null,null,null,null,null,null";
    const std::string seven = six + ",null";
    check({
        {"[]", "invalid length 0, expected struct NodeUpdate with 7 elements"},
        {"[\"a\"]", "invalid length 1, expected struct NodeUpdate with 7 elements"},
        {six + "]", "invalid length 6, expected struct NodeUpdate with 7 elements"},
        {six + ",]", "trailing comma"},
        {seven + ",null]", "trailing characters"},
        {seven + ",]", "trailing comma"},
        {seven + ",", "trailing characters"},
        {seven + " x]", "trailing characters"},
        {seven, "EOF while parsing a list"},
        {six, "EOF while parsing a list"},
        {six + ",", "EOF while parsing a value"},
        {"[null null]", "expected `,` or `]`"},
        {"[,null]", "expected value"},
        {"[null,\"b\",null,null,null,null,null]", "invalid type: string \"b\", expected f32"},
        {"[[],null,null,null,null,null,null]", "invalid type: sequence, expected a string"},
        {"[null,null,null,256,null,null,null]", "invalid value: integer `256`, expected u8"},
        {"[null,null,null,null,null,null,0]", "invalid type: integer `0`, expected a boolean"},
        {seven + "]x", "trailing characters"},
    });
    // The eighth element is refused at the comma that introduces it.
    EXPECT_EQ(place_of(seven + ",null]"), "at line 1 column 36");
}

TEST(NodeUpdateJsonReaderSkipping, TenLevelsOfMixedNestingAreSkipped) {
    const NodeUpdate u = read_ok(
        R"({"label":"a","x":[{"b":[{"c":[{"d":[{"e":[1,"s",true,null,{}]}]}]}]}],"red":5})");
    EXPECT_EQ(u.label, "a");
    EXPECT_EQ(u.red, 5);
}

TEST(NodeUpdateJsonReaderSkipping, AMillionLevelsCostNoStack) {
    constexpr std::size_t depth = 1'000'000;
    const std::string arrays = std::string(depth, '[') + std::string(depth, ']');
    EXPECT_EQ(read_ok("{\"x\":" + arrays + ",\"red\":1}").red, 1);

    std::string objects;
    objects.reserve(depth * 7);
    for (std::size_t i = 0; i < depth; ++i) {
        objects += "{\"k\":";
    }
    objects += "0";
    objects.append(depth, '}');
    EXPECT_EQ(read_ok("{\"x\":" + objects + ",\"blue\":2}").blue, 2);

    std::string mixed;
    for (std::size_t i = 0; i < depth / 2; ++i) {
        mixed += "[{\"k\":";
    }
    mixed += "\"v\"";
    for (std::size_t i = 0; i < depth / 2; ++i) {
        mixed += "}]";
    }
    EXPECT_EQ(fault_of("{\"x\":" + mixed + "}"), "");

    // Faults deep inside still surface, and an unclosed depth ends at EOF.
    EXPECT_EQ(fault_of("{\"x\":" + std::string(depth, '[')), "EOF while parsing a value");
    EXPECT_EQ(fault_of("{\"x\":" + std::string(depth, '[') + "1"), "EOF while parsing a list");
    EXPECT_EQ(fault_of("{\"x\":" + std::string(depth, '[') + std::string(depth - 1, ']') + "}"),
              "expected `,` or `]`");
    EXPECT_EQ(fault_of("{\"x\":" + arrays + "]}"), "expected `,` or `}`");
}

}  // namespace
}  // namespace tavro
