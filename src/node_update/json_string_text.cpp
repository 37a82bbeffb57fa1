#include "node_update/json_string_text.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "node_update/json_string_bytes.hpp"

namespace tavro {
namespace {

using json_string_detail::find_run_stop;

// For each byte: 0 when it is written as itself, otherwise the character that
// follows the backslash ('u' for the six-character form \u00XX): nonzero for
// the bytes that end a run of plain text.
constexpr std::array<char, 256> make_escape_table() {
    std::array<char, 256> table{};
    for (std::size_t c = 0; c < table.size(); ++c) {
        table[c] = json_string_detail::run_stops[c] ? 'u' : 0;
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

char* write_json_string(std::string_view text, char* out) noexcept {
    static constexpr char hex_digits[] = "0123456789abcdef";
    *out++ = '"';
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
        // A run of bytes written as themselves, then the one that ends it.
        const char* const stop = find_run_stop(p, end);
        std::memcpy(out, p, static_cast<std::size_t>(stop - p));
        out += stop - p;
        if (stop == end) {
            break;
        }
        const char escape = escape_of(*stop);
        *out++ = '\\';
        *out++ = escape;
        if (escape == 'u') {
            const auto byte = static_cast<std::uint8_t>(*stop);
            *out++ = '0';
            *out++ = '0';
            *out++ = hex_digits[byte >> 4];
            *out++ = hex_digits[byte & 0xf];
        }
        p = stop + 1;
    }
    *out++ = '"';
    return out;
}

}  // namespace tavro
