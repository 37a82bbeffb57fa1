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

bool read_hex4(JsonCursor& cursor, const char*& p, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (p == cursor.end()) {
            return cursor.fail(ErrorKind::json_eof);
        }
        const int digit = hex_value(*p);
        if (digit < 0) {
            return cursor.fail(ErrorKind::json_string);
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

bool skip_escape(JsonCursor& cursor, const char*& p) {
    ++p;
    if (p == cursor.end()) {
        return cursor.fail(ErrorKind::json_eof);
    }
    const char escaped = *p++;
    if (escaped == 'u') {
        std::uint32_t unit = 0;
        return read_hex4(cursor, p, unit);
    }
    return simple_escape(escaped) != 0 || cursor.fail(ErrorKind::json_string);
}

bool read_escape(JsonCursor& cursor, const char*& p, char (&utf8)[4], std::size_t& length) {
    const char* const end = cursor.end();
    ++p;
    if (p == end) {
        return cursor.fail(ErrorKind::json_eof);
    }
    const char escaped = *p++;
    if (escaped != 'u') {
        utf8[0] = simple_escape(escaped);
        length = 1;
        return utf8[0] != 0 || cursor.fail(ErrorKind::json_string);
    }

    // A \u escape must give a Unicode scalar value: a high surrogate only as
    // the first half of a pair written as two adjacent escapes, a low
    // surrogate never on its own.
    std::uint32_t unit = 0;
    if (!read_hex4(cursor, p, unit)) {
        return false;
    }
    if (is_low_surrogate(unit)) {
        return cursor.fail(ErrorKind::json_string);
    }
    if (!is_high_surrogate(unit)) {
        length = encode_utf8(unit, utf8);
        return true;
    }
    for (const char expected : {'\\', 'u'}) {
        if (p == end) {
            return cursor.fail(ErrorKind::json_eof);
        }
        if (*p != expected) {
            return cursor.fail(ErrorKind::json_string);
        }
        ++p;
    }
    std::uint32_t low = 0;
    if (!read_hex4(cursor, p, low)) {
        return false;
    }
    if (!is_low_surrogate(low)) {
        return cursor.fail(ErrorKind::json_string);
    }
    length = encode_utf8(0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00), utf8);
    return true;
}

}  // namespace tavro::json_string_detail
