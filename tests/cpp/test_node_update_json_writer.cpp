#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

std::string json_of(const NodeUpdate& update) {
    std::string text;
    write_node_update_json(update, text);
    return text;
}

NodeUpdate full_update() {
    NodeUpdate u;
    u.label = "L";
    u.size = 2.5f;
    u.url = "http://x/y";
    u.red = 0;
    u.green = 9;
    u.blue = 255;
    u.show_label = true;
    return u;
}

TEST(NodeUpdateJsonWriter, EmptyUpdateIsTwoBraces) {
    EXPECT_EQ(json_of(NodeUpdate{}), "{}");
}

TEST(NodeUpdateJsonWriter, AllFieldsInPositionOrderWithoutWhitespace) {
    EXPECT_EQ(json_of(full_update()),
              R"({"label":"L","size":2.5,"url":"http://x/y","red":0,"green":9,"blue":255,)"
              R"("showLabel":true})");
}

TEST(NodeUpdateJsonWriter, FourFieldsAreFiftyThreeCharacters) {
    NodeUpdate u;
    u.label = "Ab";
    u.size = 1.5f;
    u.red = 255;
    u.show_label = false;
    const std::string text = json_of(u);
    EXPECT_EQ(text, R"({"label":"Ab","size":1.5,"red":255,"showLabel":false})");
    EXPECT_EQ(text.size(), 53u);
}

TEST(NodeUpdateJsonWriter, FirstPresentMemberHasNoComma) {
    NodeUpdate only_last;
    only_last.show_label = false;
    EXPECT_EQ(json_of(only_last), R"({"showLabel":false})");
    NodeUpdate middle;
    middle.url = "";
    middle.green = 100;
    EXPECT_EQ(json_of(middle), R"({"url":"","green":100})");
}

TEST(NodeUpdateJsonWriter, AppendsAfterWhatTheBufferHolds) {
    std::string text = "prefix";
    write_node_update_json(full_update(), text);
    write_node_update_json(NodeUpdate{}, text);
    EXPECT_EQ(text, "prefix" + json_of(full_update()) + "{}");
}

TEST(NodeUpdateJsonWriter, NonFiniteSizeIsWrittenAsNull) {
    for (const float size :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity()}) {
        NodeUpdate u;
        u.size = size;
        u.red = 1;
        EXPECT_EQ(json_of(u), R"({"size":null,"red":1})");
        const auto read = read_node_update_json(json_of(u));
        ASSERT_TRUE(read.ok());
        EXPECT_FALSE(read.value().size.has_value());
    }
}

TEST(NodeUpdateJsonWriterStrings, EscapeTableForEveryAsciiCharacter) {
    static const char* const control_escapes[32] = {
        "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
        "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
        "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
        "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f"};
    for (int c = 0; c < 128; ++c) {
        NodeUpdate u;
        u.label = std::string(1, static_cast<char>(c));
        std::string expected = c < 32      ? control_escapes[c]
                               : c == '"'  ? "\\\""
                               : c == '\\' ? "\\\\"
                                           : std::string(1, static_cast<char>(c));
        EXPECT_EQ(json_of(u), R"({"label":")" + expected + "\"}") << "character " << c;
    }
}

TEST(NodeUpdateJsonWriterStrings, SolidusDeleteAndNonAsciiStayRaw) {
    NodeUpdate u;
    u.url = "a/b\x7f\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    EXPECT_EQ(json_of(u), "{\"url\":\"a/b\x7f\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"}");
}

TEST(NodeUpdateJsonWriterStrings, QuoteBackslashTabControlAndAccentRoundTrip) {
    NodeUpdate u;
    u.label = "\"\\\t\x01\xc3\xa9";
    const std::string text = json_of(u);
    EXPECT_EQ(text, "{\"label\":\"\\\"\\\\\\t\\u0001\xc3\xa9\"}");
    const auto read = read_node_update_json(text);
    ASSERT_TRUE(read.ok()) << read.error().description;
    EXPECT_EQ(read.value(), u);
}

TEST(NodeUpdateJsonWriterStrings, EveryByteValueRoundTrips) {
    // All 256 byte values in one text, made valid UTF-8 by pairing the high
    // bytes as two-byte sequences of U+0080 to U+00FF.
    std::string all;
    for (int c = 0; c < 128; ++c) {
        all += static_cast<char>(c);
    }
    for (int c = 128; c < 256; ++c) {
        all += static_cast<char>(0xc0 | (c >> 6));
        all += static_cast<char>(0x80 | (c & 0x3f));
    }
    NodeUpdate u = full_update();
    u.label = all;
    u.url = all + all;
    const auto read = read_node_update_json(json_of(u));
    ASSERT_TRUE(read.ok()) << read.error().description;
    EXPECT_EQ(read.value(), u);
}

TEST(NodeUpdateJsonWriter, ColoursInPlainDecimalRoundTrip) {
    for (int v = 0; v < 256; ++v) {
        NodeUpdate u;
        u.red = static_cast<std::uint8_t>(v);
        u.green = static_cast<std::uint8_t>(255 - v);
        u.blue = static_cast<std::uint8_t>(v / 3);
        const std::string text = json_of(u);
        EXPECT_EQ(text, "{\"red\":" + std::to_string(v) + ",\"green\":" + std::to_string(255 - v) +
                            ",\"blue\":" + std::to_string(v / 3) + "}");
        const auto read = read_node_update_json(text);
        ASSERT_TRUE(read.ok()) << text;
        EXPECT_EQ(read.value(), u) << text;
    }
}

}  // namespace
}  // namespace tavro
