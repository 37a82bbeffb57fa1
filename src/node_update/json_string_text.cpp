#include "node_update/json_string_text.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

std::uint64_t word_at(const char* p) noexcept {
    std::uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Whether any byte of the text must be escaped. Most texts have none, and
// are looked at a block at a time, the last block overlapping the one
// before: 16 bytes with SSE2, otherwise one 8-byte word.
#if defined(__SSE2__)
bool block_has_escape(__m128i block) noexcept {
    const __m128i highest_control = _mm_set1_epi8(0x1f);
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(block, highest_control), highest_control);
    const __m128i quote = _mm_cmpeq_epi8(block, _mm_set1_epi8('"'));
    const __m128i backslash = _mm_cmpeq_epi8(block, _mm_set1_epi8('\\'));
    return _mm_movemask_epi8(_mm_or_si128(control, _mm_or_si128(quote, backslash))) != 0;
}

bool has_escape(const char* text, std::size_t size) noexcept {
    const auto block_at = [](const char* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    if (size >= 16) {
        for (std::size_t i = 0; size - i > 16; i += 16) {
            if (block_has_escape(block_at(text + i))) {
                return true;
            }
        }
        return block_has_escape(block_at(text + size - 16));
    }
    if (size >= 8) {
        const auto word_block = [](const char* p) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        };
        return block_has_escape(_mm_unpacklo_epi64(word_block(text), word_block(text + size - 8)));
    }
#else
bool has_escape(const char* text, std::size_t size) noexcept {
    if (size >= 8) {
        for (std::size_t i = 0; size - i > 8; i += 8) {
            if (word_has_escape(word_at(text + i))) {
                return true;
            }
        }
        return word_has_escape(word_at(text + size - 8));
    }
#endif
    for (std::size_t i = 0; i < size; ++i) {
        if (escape_of(text[i]) != 0) {
            return true;
        }
    }
    return false;
}

std::size_t escape_extra(const char* text, std::size_t size) noexcept {
    // Every escape adds one or five characters to the byte itself. Most texts
    // have none, so whole words without one are passed over.
    std::size_t extra = 0;
    std::size_t i = 0;
    for (; size - i >= 8; i += 8) {
        if (!word_has_escape(word_at(text + i))) {
            continue;
        }
        for (std::size_t j = i; j < i + 8; ++j) {
            const char escape = escape_of(text[j]);
            extra += escape == 0 ? 0 : escape == 'u' ? 5 : 1;
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
    const std::size_t extra =
        has_escape(text.data(), text.size()) ? escape_extra(text.data(), text.size()) : 0;
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
    if (!has_escape(text.data(), text.size())) {
        std::memcpy(out, text.data(), text.size());
        out += text.size();
        *out++ = '"';
        return out;
    }
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
        // Words without an escape go over whole.
        while (end - p >= 8) {
            if (word_has_escape(word_at(p))) {
                break;
            }
            std::memcpy(out, p, 8);
            p += 8;
            out += 8;
        }
        if (p == end) {
            break;
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
