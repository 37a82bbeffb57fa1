#include <gtest/gtest.h>

#include <cmath>

#include "node_update/node_update.hpp"

namespace tavro {
namespace {

NodeUpdate full_update() {
    NodeUpdate u;
    u.label = "label";
    u.size = 2.5f;
    u.url = "http://x";
    u.red = 1;
    u.green = 2;
    u.blue = 3;
    u.show_label = true;
    return u;
}

TEST(NodeUpdateMerge, EmptyUpdateIsIdentityOnBothSides) {
    NodeUpdate left = full_update();
    left += NodeUpdate{};
    EXPECT_EQ(left, full_update());

    NodeUpdate empty;
    empty += full_update();
    EXPECT_EQ(empty, full_update());
}

TEST(NodeUpdateMerge, LaterFieldsWinAndAbsentFieldsStay) {
    NodeUpdate left;
    left.label = "kept";
    left.size = 2.0f;
    NodeUpdate right;
    right.size = 3.0f;
    right.red = 10;
    left += std::move(right);

    NodeUpdate expected;
    expected.label = "kept";
    expected.size = 3.0f;
    expected.red = 10;
    EXPECT_EQ(left, expected);
}

TEST(NodeUpdateMerge, FalsyPresentValuesStillReplace) {
    NodeUpdate left = full_update();
    left.red = 200;
    NodeUpdate right;
    right.label = "";
    right.red = 0;
    right.show_label = false;
    left += std::move(right);
    EXPECT_EQ(left.label, std::optional<std::string>(""));
    EXPECT_EQ(left.red, std::optional<std::uint8_t>(0));
    EXPECT_EQ(left.show_label, std::optional<bool>(false));
}

TEST(NodeUpdateMerge, NanSizeReplaces) {
    NodeUpdate left = full_update();
    NodeUpdate right;
    right.size = std::nanf("");
    left += std::move(right);
    ASSERT_TRUE(left.size.has_value());
    EXPECT_TRUE(std::isnan(*left.size));
}

TEST(NodeUpdateMerge, IsAssociativeButNotCommutative) {
    NodeUpdate a, b, c;
    a.label = "a";
    b.label = "b";
    b.red = 1;
    c.red = 2;
    c.url = "c";

    NodeUpdate left_first = a;
    left_first += NodeUpdate(b);
    left_first += NodeUpdate(c);
    NodeUpdate right_first = b;
    right_first += NodeUpdate(c);
    NodeUpdate grouped = a;
    grouped += std::move(right_first);
    EXPECT_EQ(left_first, grouped);

    NodeUpdate ab = a;
    ab += NodeUpdate(b);
    NodeUpdate ba = b;
    ba += NodeUpdate(a);
    EXPECT_NE(ab, ba);
}

}  // namespace
}  // namespace tavro
