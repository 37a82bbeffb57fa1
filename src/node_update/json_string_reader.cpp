#include "node_update/json_string_reader.hpp"

namespace tavro::json_string_detail {
namespace {

int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::size_t encode_utf8(std::uint32_t code_point, char (&utf8)[4]) noexcept {
    const auto byte = [](std::uint32_t bits) { return static_cast<char>(bits); };
    if (code_point < 0x80) {
        utf8[0] = byte(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        utf8[0] = byte(0xc0 | (code_point >> 6));
        utf8[1] = byte(0x80 | (code_point & 0x3f));
        return 2;
    }
    if (code_point < 0x10000) {
        utf8[0] = byte(0xe0 | (code_point >> 12));
        utf8[1] = byte(0x80 | ((code_point >> 6) & 0x3f));
        utf8[2] = byte(0x80 | (code_point & 0x3f));
        return 3;
    }
    utf8[0] = byte(0xf0 | (code_point >> 18));
    utf8[1] = byte(0x80 | ((code_point >> 12) & 0x3f));
    utf8[2] = byte(0x80 | ((code_point >> 6) & 0x3f));
    utf8[3] = byte(0x80 | (code_point & 0x3f));
    return 4;
}

bool is_high_surrogate(std::uint32_t u) noexcept {
    return u >= 0xd800 && u <= 0xdbff;
}
bool is_low_surrogate(std::uint32_t u) noexcept {
    return u >= 0xdc00 && u <= 0xdfff;
}

}  // namespace

bool read_hex4(const char*& p, const char* end, std::uint32_t& value) noexcept {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = p == end ? -1 : hex_value(*p);
        if (digit < 0) {
            return false;
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
        ++p;
    }
    return true;
}

char simple_escape(char c) noexcept {
    switch (c) {
        case '"':
        case '\\':
        case '/':
            return c;
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        default:
            return 0;
    }
}

bool skip_escape(const char*& p, const char* end) noexcept {
    ++p;
    if (p == end) {
        return false;
    }
    const char escaped = *p++;
    std::uint32_t unit = 0;
    return escaped == 'u' ? read_hex4(p, end, unit) : simple_escape(escaped) != 0;
}

bool read_escape(const char*& p, const char* end, char (&utf8)[4], std::size_t& length) noexcept {
    ++p;
    if (p == end) {
        return false;
    }
    const char escaped = *p++;
    if (escaped != 'u') {
        utf8[0] = simple_escape(escaped);
        length = 1;
        return utf8[0] != 0;
    }

    // A \u escape must give a Unicode scalar value: a high surrogate only as
    // the first half of a pair written as two adjacent escapes, a low
    // surrogate never on its own.
    std::uint32_t unit = 0;
    if (!read_hex4(p, end, unit) || is_low_surrogate(unit)) {
        return false;
    }
    if (!is_high_surrogate(unit)) {
        length = encode_utf8(unit, utf8);
        return true;
    }
    std::uint32_t low = 0;
    if (end - p < 2 || p[0] != '\\' || p[1] != 'u') {
        return false;
    }
    p += 2;
    if (!read_hex4(p, end, low) || !is_low_surrogate(low)) {
        return false;
    }
    length = encode_utf8(0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00), utf8);
    return true;
}

}  // namespace tavro::json_string_detail
