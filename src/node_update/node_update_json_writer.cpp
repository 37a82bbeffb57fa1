// The writer of the node update JSON text. It sizes the whole text first, then
// grows the caller's buffer once and fills it through a pointer: this runs
// once per node when a diff is written, so it avoids per-member appends.
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "node_update/append_room.hpp"
#include "node_update/float_text.hpp"
#include "node_update/json_string_text.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

constexpr std::size_t max_u8_text_size = 3;
constexpr std::size_t max_bool_text_size = 5;

std::size_t add_saturating(std::size_t a, std::size_t b) noexcept {
    constexpr std::size_t limit = std::numeric_limits<std::size_t>::max();
    return b > limit - a ? limit : a + b;
}

char* put(char* out, std::string_view text) noexcept {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char* put_u8(char* out, std::uint8_t value) noexcept {
    if (value >= 100) {
        *out++ = static_cast<char>('0' + value / 100);
    }
    if (value >= 10) {
        *out++ = static_cast<char>('0' + value / 10 % 10);
    }
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

// Opens the next member: the comma unless it is the first, then its key.
char* open_member(char* out, char* const first, std::string_view json_member) noexcept {
    if (out != first) {
        *out++ = ',';
    }
    return put(out, json_member);
}

// The float's text goes to a small array first: its length is only known once
// the shortest digits are found, and the buffer is sized before filling.
struct SizeText {
    char chars[max_float32_text_size];
    std::size_t length;
};

SizeText size_text(float value) noexcept {
    SizeText text{};
    if (std::isfinite(value)) {
        text.length = write_float32_text(value, text.chars);
    } else {
        std::memcpy(text.chars, "null", 4);
        text.length = 4;
    }
    return text;
}

// The longest text of each kind of value. A size's text is made here, while
// measuring, and kept for writing.
std::size_t max_value_size(const std::string& text, SizeText&) noexcept {
    return json_string_size(text);
}
std::size_t max_value_size(float value, SizeText& size) noexcept {
    size = size_text(value);
    return size.length;
}
std::size_t max_value_size(std::uint8_t, SizeText&) noexcept {
    return max_u8_text_size;
}
std::size_t max_value_size(bool, SizeText&) noexcept {
    return max_bool_text_size;
}

char* put_value(char* out, const std::string& text, const SizeText&) noexcept {
    return write_json_string(text, out);
}
char* put_value(char* out, float, const SizeText& size) noexcept {
    return put(out, std::string_view(size.chars, size.length));
}
char* put_value(char* out, std::uint8_t value, const SizeText&) noexcept {
    return put_u8(out, value);
}
char* put_value(char* out, bool value, const SizeText&) noexcept {
    return put(out, value ? std::string_view("true") : std::string_view("false"));
}

}  // namespace

void write_node_update_json(const NodeUpdate& update, std::string& out) {
    SizeText size{};
    // An upper bound: braces plus, per member, a comma, the key and the
    // longest value text. The first member has no comma and small numbers
    // are shorter; the unused tail is cut off at the end.
    std::size_t total = 2;
    for_each_field(update, [&](const NodeUpdateField& field, const auto& value) {
        if (value) {
            total = add_saturating(total, 1 + field.json_member.size());
            total = add_saturating(total, max_value_size(*value, size));
        }
    });

    const std::size_t start = out.size();
    char* const begin = append_room(out, total);
    char* p = begin;
    *p++ = '{';
    char* const first = p;
    for_each_field(update, [&](const NodeUpdateField& field, const auto& value) {
        if (value) {
            p = put_value(open_member(p, first, field.json_member), *value, size);
        }
    });
    *p++ = '}';
    out.resize(start + static_cast<std::size_t>(p - begin));
}

}  // namespace tavro
