#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes/utf8_validation.hpp"

namespace tavro {
namespace {

struct Utf8Case {
    const char* name;
    std::vector<std::uint8_t> text;
    // Empty for valid text.
    std::string fault;
};

std::string fault_of(const std::vector<std::uint8_t>& text) {
    const std::optional<Utf8Fault> fault = find_utf8_fault(text.data(), text.size());
    return fault ? describe_utf8_fault(*fault) : std::string();
}

std::string invalid(int length, int index) {
    return "invalid utf-8 sequence of " + std::to_string(length) + " bytes from index " +
           std::to_string(index);
}

std::string incomplete(int index) {
    return "incomplete utf-8 byte sequence from index " + std::to_string(index);
}

TEST(Utf8Validation, AcceptsEveryBoundaryOfTheValidRanges) {
    const std::vector<Utf8Case> cases = {
        {"empty", {}, ""},
        {"ascii incl. nul and del", {0x00, 0x41, 0x7f}, ""},
        {"two-byte lowest", {0xc2, 0x80}, ""},
        {"two-byte highest", {0xdf, 0xbf}, ""},
        {"three-byte lowest", {0xe0, 0xa0, 0x80}, ""},
        {"just below surrogates", {0xed, 0x9f, 0xbf}, ""},
        {"just above surrogates", {0xee, 0x80, 0x80}, ""},
        {"three-byte highest", {0xef, 0xbf, 0xbf}, ""},
        {"four-byte lowest", {0xf0, 0x90, 0x80, 0x80}, ""},
        {"highest code point", {0xf4, 0x8f, 0xbf, 0xbf}, ""},
        {"mixed after an ascii run", {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 0xc3, 0xa9}, ""},
    };
    for (const Utf8Case& c : cases) {
        EXPECT_EQ(fault_of(c.text), c.fault) << c.name;
    }
}

// A sequence is measured by its longest valid prefix: the byte that makes it
// overlong, a surrogate or too large is the byte that breaks it.
TEST(Utf8Validation, InvalidSequenceLengthIsTheValidPrefix) {
    const std::vector<Utf8Case> cases = {
        {"lone continuation", {0x80}, invalid(1, 0)},
        {"continuation after ascii", {'a', 0xbf}, invalid(1, 1)},
        {"overlong two-byte lead c0", {0xc0, 0x80}, invalid(1, 0)},
        {"overlong two-byte lead c1", {0xc1, 0xbf}, invalid(1, 0)},
        {"overlong three-byte", {0xe0, 0x80, 0x80}, invalid(1, 0)},
        {"overlong three-byte top", {0xe0, 0x9f, 0xbf}, invalid(1, 0)},
        {"overlong four-byte", {0xf0, 0x80, 0x80, 0x80}, invalid(1, 0)},
        {"overlong four-byte top", {0xf0, 0x8f, 0xbf, 0xbf}, invalid(1, 0)},
        {"lowest surrogate", {0xed, 0xa0, 0x80}, invalid(1, 0)},
        {"highest surrogate", {0xed, 0xbf, 0xbf}, invalid(1, 0)},
        {"above U+10FFFF", {0xf4, 0x90, 0x80, 0x80}, invalid(1, 0)},
        {"lead f5", {0xf5, 0x80, 0x80, 0x80}, invalid(1, 0)},
        {"byte fe", {0xfe}, invalid(1, 0)},
        {"byte ff", {0xff}, invalid(1, 0)},
        {"two-byte broken at second", {0xc2, 0x41}, invalid(1, 0)},
        {"three-byte broken at third", {0xe1, 0x80, 0x41}, invalid(2, 0)},
        {"three-byte broken by a new lead", {0xe1, 0x80, 0xc2, 0x80}, invalid(2, 0)},
        {"four-byte broken at fourth", {0xf1, 0x80, 0x80, 0x41}, invalid(3, 0)},
        {"four-byte broken at third", {0xf4, 0x8f, 0xc0, 0x80}, invalid(2, 0)},
        {"first fault wins", {0xc3, 0xa9, 0xff, 0xc2}, invalid(1, 2)},
        {"fault after the word-wise ascii skip",
         {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 0x80},
         invalid(1, 10)},
    };
    for (const Utf8Case& c : cases) {
        EXPECT_EQ(fault_of(c.text), c.fault) << c.name;
    }
}

// "Incomplete" only when the text stops inside a prefix that could still have
// become valid; a bad byte right before the end is an invalid sequence.
TEST(Utf8Validation, IncompleteOnlyWhenTheTextEndsInsideAValidPrefix) {
    const std::vector<Utf8Case> cases = {
        {"two-byte lead alone", {0xc2}, incomplete(0)},
        {"three-byte lead alone", {0xe0}, incomplete(0)},
        {"three-byte missing last", {'a', 'b', 0xe1, 0x80}, incomplete(2)},
        {"four-byte missing last", {0xf0, 0x90, 0x80}, incomplete(0)},
        {"highest plane missing two", {0xf4, 0x8f}, incomplete(0)},
        {"overlong prefix at end", {0xe0, 0x80}, invalid(1, 0)},
        {"surrogate prefix at end", {0xed, 0xa0}, invalid(1, 0)},
        {"too-large prefix at end", {0xf4, 0x90}, invalid(1, 0)},
        {"bad lead at end", {'a', 0xf8}, invalid(1, 1)},
    };
    for (const Utf8Case& c : cases) {
        EXPECT_EQ(fault_of(c.text), c.fault) << c.name;
    }
}

}  // namespace
}  // namespace tavro
