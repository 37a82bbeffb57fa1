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

// Each member's name with its quotes and colon, and the comma that precedes
// every member but the first.
constexpr std::string_view label_name = "\"label\":";
constexpr std::string_view size_name = "\"size\":";
constexpr std::string_view url_name = "\"url\":";
constexpr std::string_view red_name = "\"red\":";
constexpr std::string_view green_name = "\"green\":";
constexpr std::string_view blue_name = "\"blue\":";
constexpr std::string_view show_label_name = "\"showLabel\":";

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

// Opens the next member: the comma unless it is the first, then its name.
char* open_member(char* out, char* const first, std::string_view name) noexcept {
    if (out != first) {
        *out++ = ',';
    }
    return put(out, name);
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

}  // namespace

void write_node_update_json(const NodeUpdate& update, std::string& out) {
    SizeText size{};
    if (update.size) {
        size = size_text(*update.size);
    }

    // An upper bound: braces plus, per member, a comma, the name and the
    // longest value text. The first member has no comma and small numbers
    // are shorter; the unused tail is cut off at the end.
    std::size_t total = 2;
    if (update.label) {
        total = add_saturating(total, 1 + label_name.size());
        total = add_saturating(total, json_string_size(*update.label));
    }
    if (update.size) {
        total = add_saturating(total, 1 + size_name.size() + size.length);
    }
    if (update.url) {
        total = add_saturating(total, 1 + url_name.size());
        total = add_saturating(total, json_string_size(*update.url));
    }
    if (update.red) {
        total = add_saturating(total, 1 + red_name.size() + max_u8_text_size);
    }
    if (update.green) {
        total = add_saturating(total, 1 + green_name.size() + max_u8_text_size);
    }
    if (update.blue) {
        total = add_saturating(total, 1 + blue_name.size() + max_u8_text_size);
    }
    if (update.show_label) {
        total = add_saturating(total, 1 + show_label_name.size() + max_bool_text_size);
    }

    const std::size_t start = out.size();
    char* const begin = append_room(out, total);
    char* p = begin;
    *p++ = '{';
    char* const first = p;
    if (update.label) {
        p = open_member(p, first, label_name);
        p = write_json_string(*update.label, p);
    }
    if (update.size) {
        p = open_member(p, first, size_name);
        p = put(p, std::string_view(size.chars, size.length));
    }
    if (update.url) {
        p = open_member(p, first, url_name);
        p = write_json_string(*update.url, p);
    }
    if (update.red) {
        p = open_member(p, first, red_name);
        p = put_u8(p, *update.red);
    }
    if (update.green) {
        p = open_member(p, first, green_name);
        p = put_u8(p, *update.green);
    }
    if (update.blue) {
        p = open_member(p, first, blue_name);
        p = put_u8(p, *update.blue);
    }
    if (update.show_label) {
        p = open_member(p, first, show_label_name);
        p = put(p, *update.show_label ? std::string_view("true") : std::string_view("false"));
    }
    *p++ = '}';
    out.resize(start + static_cast<std::size_t>(p - begin));
}

}  // namespace tavro
