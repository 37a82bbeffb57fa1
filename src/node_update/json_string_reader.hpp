// Reading a JSON string: escapes decoded, raw control characters refused, and
// the text handed to a sink in runs, so a string without escapes reaches its
// destination in one copy. The sink decides where the text goes: into a
// field, into a small key buffer, or nowhere when a value is skipped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "node_update/json_cursor.hpp"
#include "node_update/json_string_bytes.hpp"

namespace tavro {

// Collects the text into a std::string.
struct StringSink {
    std::string& text;
    void append(const char* chars, std::size_t count) { text.append(chars, count); }
};

// Drops the text; used for values that are only checked.
struct DiscardSink {
    void append(const char*, std::size_t) noexcept {}
};

// Keeps a key of up to `capacity` bytes without allocating. A longer key can
// be none of the known ones and is only marked too long.
struct KeySink {
    static constexpr std::size_t capacity = 16;
    std::array<char, capacity> chars{};
    std::size_t length = 0;
    bool too_long = false;

    void append(const char* text, std::size_t count) noexcept {
        if (too_long || count > capacity - length) {
            too_long = true;
            return;
        }
        std::memcpy(chars.data() + length, text, count);
        length += count;
    }

    // The key, or an empty view when it is too long to be a known one.
    std::string_view view() const noexcept {
        return too_long ? std::string_view() : std::string_view(chars.data(), length);
    }
};

namespace json_string_detail {

// Decodes the four hex digits of a \u escape that start at `p`; on success
// moves `p` past them.
bool read_hex4(const char*& p, const char* end, std::uint32_t& value) noexcept;

// Reads the escape whose backslash is at `p`; on success moves `p` past it and
// leaves its UTF-8 bytes in `utf8`. A \u escape must give a Unicode scalar
// value.
bool read_escape(const char*& p, const char* end, char (&utf8)[4], std::size_t& length) noexcept;

// Checks the escape whose backslash is at `p` against the JSON grammar alone,
// which takes any four hex digits after \u, and moves `p` past it.
bool skip_escape(const char*& p, const char* end) noexcept;
}  // namespace json_string_detail

// Reads the string whose opening quote is the next character and passes its
// decoded text to `sink`; the cursor ends after the closing quote. Only texts
// that are kept must be Unicode: a string that is discarded may hold a lone
// surrogate escape, as the JSON grammar allows.
template <class Sink>
bool read_json_string(JsonCursor& cursor, Sink& sink) {
    const char* p = cursor.here() + 1;
    const char* const end = cursor.end();
    for (;;) {
        const char* const run = p;
        p = json_string_detail::find_run_stop(p, end);
        sink.append(run, static_cast<std::size_t>(p - run));
        if (p != end && *p == '"') {
            cursor.move_to(p + 1);
            return true;
        }
        if (p == end || *p != '\\') {
            return false;
        }
        if constexpr (std::is_same_v<Sink, DiscardSink>) {
            if (!json_string_detail::skip_escape(p, end)) {
                return false;
            }
        } else {
            char utf8[4];
            std::size_t length = 0;
            if (!json_string_detail::read_escape(p, end, utf8, length)) {
                return false;
            }
            sink.append(utf8, length);
        }
    }
}

}  // namespace tavro
