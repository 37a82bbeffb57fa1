#include "node_update/json_string_text.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tavro {
namespace {

// For each byte: 0 when it is written as itself, otherwise the character that
// follows the backslash ('u' for the six-character form \u00XX).
constexpr std::array<char, 256> make_escape_table() {
    std::array<char, 256> table{};
    for (std::size_t c = 0; c < 0x20; ++c) {
        table[c] = 'u';
    }
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}

constexpr std::array<char, 256> escape_table = make_escape_table();

char escape_of(char c) noexcept {
    return escape_table[static_cast<std::uint8_t>(c)];
}

// Whether any of the eight bytes of `word` is escaped: below 0x20, a quote or
// a backslash (each test is the word-wise "some byte is below n", exact for
// n <= 0x80, on the word or on the word xor the byte in question).
bool word_has_escape(std::uint64_t word) noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    const auto has_zero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    return (((word - ones * 0x20) & ~word & highs) | has_zero(word ^ (ones * '"')) |
            has_zero(word ^ (ones * '\\'))) != 0;
}

std::size_t escape_extra(const char* text, std::size_t size) noexcept {
    // Every escape adds one or five characters to the byte itself. Most texts
    // have none, so whole words without one are passed over.
    std::size_t extra = 0;
    std::size_t i = 0;
    for (; size - i >= 8; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text + i, sizeof word);
        if (!word_has_escape(word)) {
            continue;
        }
        for (std::size_t j = i; j < i + 8; ++j) {
            const char escape = escape_of(text[j]);
            extra += escape == 0 ? 0 : escape == 'u' ? 5 : 1;
        }
    }
    // The last word, overlapping the one before, settles most tails at once.
    if (i < size && size >= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text + size - 8, sizeof word);
        if (!word_has_escape(word)) {
            return extra;
        }
    }
    for (; i < size; ++i) {
        const char escape = escape_of(text[i]);
        extra += escape == 0 ? 0 : escape == 'u' ? 5 : 1;
    }
    return extra;
}

}  // namespace

std::size_t json_string_size(std::string_view text) noexcept {
    const std::size_t extra = escape_extra(text.data(), text.size());
    constexpr std::size_t limit = std::numeric_limits<std::size_t>::max();
    // extra <= 5 * text.size(), so only the final sums can overflow.
    if (extra > limit - 2 || text.size() > limit - 2 - extra) {
        return limit;
    }
    return text.size() + extra + 2;
}

char* write_json_string(std::string_view text, char* out) noexcept {
    static constexpr char hex_digits[] = "0123456789abcdef";
    *out++ = '"';
    char* const first = out;
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
        // Words without an escape go over whole.
        while (end - p >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p, sizeof word);
            if (word_has_escape(word)) {
                break;
            }
            std::memcpy(out, p, sizeof word);
            p += 8;
            out += 8;
        }
        if (p == end) {
            break;
        }
        // A tail after nothing but plain characters: the last word, which
        // overlaps what is already copied as it is, goes over whole if plain.
        if (end - p < 8 && text.size() >= 8 && out - first == p - text.data()) {
            std::uint64_t word = 0;
            std::memcpy(&word, end - 8, sizeof word);
            if (!word_has_escape(word)) {
                std::memcpy(out + (end - 8 - p), &word, sizeof word);
                out += end - p;
                break;
            }
        }
        // One byte at a time up to the end of the word with an escape (or of
        // the text).
        const char* const stop = end - p >= 8 ? p + 8 : end;
        for (; p != stop; ++p) {
            const char c = *p;
            const char escape = escape_of(c);
            if (escape == 0) {
                *out++ = c;
                continue;
            }
            *out++ = '\\';
            *out++ = escape;
            if (escape == 'u') {
                const auto byte = static_cast<std::uint8_t>(c);
                *out++ = '0';
                *out++ = '0';
                *out++ = hex_digits[byte >> 4];
                *out++ = hex_digits[byte & 0xf];
            }
        }
    }
    *out++ = '"';
    return out;
}

}  // namespace tavro
