#include "bytes/utf8_validation.hpp"

#include <cstring>

namespace tavro {
namespace {

constexpr std::uint64_t kHighBitOfEveryByte = 0x8080808080808080ULL;

// What a lead byte starts: the total sequence length and the range its second
// byte must lie in (the narrowed ranges are what exclude overlong forms,
// surrogates and code points above U+10FFFF). Length 0 marks a byte that
// cannot start a sequence.
struct LeadRule {
    std::size_t length;
    std::uint8_t second_min;
    std::uint8_t second_max;
};

LeadRule lead_rule(std::uint8_t lead) noexcept {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return {2, 0x80, 0xBF};
    }
    if (lead == 0xE0) {
        return {3, 0xA0, 0xBF};
    }
    if (lead == 0xED) {
        return {3, 0x80, 0x9F};
    }
    if (lead >= 0xE1 && lead <= 0xEF) {
        return {3, 0x80, 0xBF};
    }
    if (lead == 0xF0) {
        return {4, 0x90, 0xBF};
    }
    if (lead >= 0xF1 && lead <= 0xF3) {
        return {4, 0x80, 0xBF};
    }
    if (lead == 0xF4) {
        return {4, 0x80, 0x8F};
    }
    return {0, 0, 0};
}

}  // namespace

bool is_utf8(const std::uint8_t* data, std::size_t size) noexcept {
    std::size_t i = 0;
    while (i < size) {
        // Skip ASCII sixteen, then eight bytes at a time: most texts are
        // mostly ASCII.
        while (size - i >= 16) {
            std::uint64_t words[2];
            std::memcpy(words, data + i, sizeof words);
            if (((words[0] | words[1]) & kHighBitOfEveryByte) != 0) {
                break;
            }
            i += 16;
        }
        while (size - i >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, data + i, sizeof word);
            if ((word & kHighBitOfEveryByte) != 0) {
                break;
            }
            i += 8;
        }
        if (i == size) {
            break;
        }
        const std::uint8_t lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const LeadRule rule = lead_rule(lead);
        if (rule.length == 0 || rule.length > size - i) {
            return false;
        }
        for (std::size_t k = 1; k < rule.length; ++k) {
            const std::uint8_t byte = data[i + k];
            const std::uint8_t min = k == 1 ? rule.second_min : std::uint8_t{0x80};
            const std::uint8_t max = k == 1 ? rule.second_max : std::uint8_t{0xBF};
            if (byte < min || byte > max) {
                return false;
            }
        }
        i += rule.length;
    }
    return true;
}

}  // namespace tavro
