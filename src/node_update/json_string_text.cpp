#include "node_update/json_string_text.hpp"

#include <array>
#include <cstdint>
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

}  // namespace

std::size_t json_string_size(std::string_view text) noexcept {
    // Every escape adds one or five characters to the byte itself.
    std::size_t extra = 0;
    for (const char c : text) {
        const char escape = escape_of(c);
        if (escape != 0) {
            extra += escape == 'u' ? 5 : 1;
        }
    }
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
    for (const char c : text) {
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
    *out++ = '"';
    return out;
}

}  // namespace tavro
