#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "node_update/float_text.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

std::string text_of(float value) {
    char chars[max_float32_text_size];
    return std::string(chars, write_float32_text(value, chars));
}

float from_bits(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

TEST(FloatTextLayout, EachRowOfTheLayoutTable) {
    const struct {
        float value;
        const char* text;
    } rows[] = {
        // Digits then zeros then ".0": e >= 0 and k <= 13.
        {1.0f, "1.0"},
        {100.0f, "100.0"},
        {16777216.0f, "16777216.0"},
        {1e12f, "1000000000000.0"},
        {1.2e12f, "1200000000000.0"},
        // Point inside the digits: 0 < k <= 13.
        {1.5f, "1.5"},
        {123.25f, "123.25"},
        {8388607.5f, "8388607.5"},
        // Leading "0.": -6 < k <= 0.
        {0.5f, "0.5"},
        {0.1f, "0.1"},
        {0.001f, "0.001"},
        {0.000001f, "0.000001"},
        {0.0000015f, "0.0000015"},
        // One digit with an exponent.
        {1e-7f, "1e-7"},
        {1e13f, "1e13"},
        {1e-45f, "1e-45"},
        {2e20f, "2e20"},
        // Several digits with an exponent.
        {1.5e-7f, "1.5e-7"},
        {1.5e13f, "1.5e13"},
        {std::numeric_limits<float>::max(), "3.4028235e38"},
        {std::numeric_limits<float>::min(), "1.1754944e-38"},
        // Signs and zeros.
        {0.0f, "0.0"},
        {-0.0f, "-0.0"},
        {-1.5f, "-1.5"},
        {-1e-7f, "-1e-7"},
        {-0.000001f, "-0.000001"},
        {-std::numeric_limits<float>::max(), "-3.4028235e38"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(text_of(row.value), row.text) << row.text;
    }
}

TEST(FloatTextLayout, LongestTextFitsTheBuffer) {
    // Nine digits behind five zeros, negative: the longest layout.
    const float value = -std::nextafter(0.00001f, 0.0f);
    const std::string text = text_of(value);
    EXPECT_EQ(text.rfind("-0.00000", 0), 0u) << text;
    EXPECT_LE(text.size(), max_float32_text_size);
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

std::size_t shortest_digit_count(float value) {
    char chars[64];
    const auto end =
        std::to_chars(chars, chars + sizeof chars, std::fabs(value), std::chars_format::scientific)
            .ptr;
    return significant_digits(std::string(chars, end)).size();
}

float parse_float(const std::string& text) {
    float value = 0.0f;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// Every written size must read back, through the node update reader, as the
// same 32-bit pattern.
void expect_reads_back(float value, std::string& buffer) {
    NodeUpdate update;
    update.size = value;
    buffer.clear();
    write_node_update_json(update, buffer);
    const auto read = read_node_update_json(buffer);
    ASSERT_TRUE(read.ok()) << buffer << ": " << read.error().description;
    ASSERT_TRUE(read.value().size.has_value()) << buffer;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(*read.value().size), std::bit_cast<std::uint32_t>(value))
        << buffer;
}

std::vector<float> sweep_values() {
    std::vector<float> values;
    // Every exponent, with the smallest, largest and a middle significand.
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
    for (int p = -149; p <= 127; ++p) {
        values.push_back(std::ldexp(1.0f, p));
    }
    values.push_back(std::numeric_limits<float>::max());
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

TEST(FloatTextSweep, WrittenSizesReadBackBitExactAndShortest) {
    std::string buffer;
    for (const float value : sweep_values()) {
        expect_reads_back(value, buffer);
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
        // Strip the member around the size: {"size": and }.
        const std::string text = buffer.substr(8, buffer.size() - 9);
        if (value != 0.0f) {
            ASSERT_EQ(significant_digits(text).size(), shortest_digit_count(value)) << buffer;
        }
    }
}

// Among equally short digit strings that read back as the value, the written
// one is the nearest: check its same-length neighbours d-1 and d+1.
TEST(FloatTextSweep, TiesGoToTheCandidateNearestTheExactValue) {
    int contested = 0;
    for (const float value : sweep_values()) {
        if (value <= 0.0f || !std::isfinite(value)) {
            continue;
        }
        char chars[64];
        const auto end =
            std::to_chars(chars, chars + sizeof chars, value, std::chars_format::scientific).ptr;
        const std::string scientific(chars, end);
        const std::string digits = significant_digits(text_of(value));
        const int k = std::stoi(scientific.substr(scientific.find('e') + 1)) + 1;
        const int e = k - static_cast<int>(digits.size());
        const long long d = std::stoll(digits);
        const long double exact = value;
        const long double chosen =
            std::strtold((digits + "e" + std::to_string(e)).c_str(), nullptr);
        for (const long long neighbour : {d - 1, d + 1}) {
            const std::string text = std::to_string(neighbour) + "e" + std::to_string(e);
            if (neighbour == 0 || std::to_string(neighbour).size() != digits.size() ||
                parse_float(text) != value) {
                continue;
            }
            ++contested;
            const long double other = std::strtold(text.c_str(), nullptr);
            EXPECT_LE(std::fabs(chosen - exact), std::fabs(other - exact))
                << "value " << scientific << " written with digits " << digits << ", but " << text
                << " is nearer";
        }
    }
    // The smallest subnormal alone has two: 1e-45 and 2e-45 both read back.
    EXPECT_GT(contested, 0);
    EXPECT_EQ(text_of(from_bits(1)), "1e-45");
}

// All 2^32 patterns read back; opt in with TAVRO_EXHAUSTIVE=1 (some tens of
// minutes of one core).
TEST(FloatTextSweep, EveryBitPatternWhenRequested) {
    const char* flag = std::getenv("TAVRO_EXHAUSTIVE");
    if (flag == nullptr || std::string(flag) != "1") {
        GTEST_SKIP() << "set TAVRO_EXHAUSTIVE=1 to check all 2^32 patterns";
    }
    std::string buffer;
    std::uint32_t bits = 0;
    do {
        const float value = from_bits(bits);
        if (std::isfinite(value)) {
            expect_reads_back(value, buffer);
            if (::testing::Test::HasFatalFailure()) {
                return;
            }
        }
    } while (++bits != 0);
}

}  // namespace
}  // namespace tavro
