// The writer of the node update JSON text. It runs once per node when a diff
// is written, straight into the diff's buffer, so the text is described once
// (emit) and that description is walked by two sinks: one bounds it for any
// values and one writes it through a pointer.
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

#include "common/portable.hpp"
#include "node_update/float_text.hpp"
#include "node_update/json_string_text.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

constexpr std::string_view null_text = "null";

std::string_view bool_text(bool value) noexcept {
    return value ? std::string_view("true") : std::string_view("false");
}

// The text of `update` as a sequence of pieces handed to `sink`: fixed text,
// a JSON string, a finite size, a colour and a flag. Everything here is
// inlined into each sink's walk, which makes the pieces of fixed text
// constants.
template <class Sink>
[[gnu::always_inline]] inline void emit(const NodeUpdate& update, Sink& sink) {
    sink.fixed("{");
    bool first = true;
    for_each_field(update, [&](auto index, const auto& value) {
        if (!value) {
            return;
        }
        if (!first) {
            sink.fixed(",");
        }
        first = false;
        constexpr std::string_view member = node_update_fields[index].json_member;
        sink.fixed(member);
        using Value = std::decay_t<decltype(*value)>;
        if constexpr (std::is_same_v<Value, std::string>) {
            sink.string(*value);
        } else if constexpr (std::is_same_v<Value, float>) {
            if (std::isfinite(*value)) {
                sink.number(*value);
            } else {
                sink.fixed(null_text);
            }
        } else if constexpr (std::is_same_v<Value, std::uint8_t>) {
            sink.colour(*value);
        } else {
            sink.flag(*value);
        }
    });
    sink.fixed("}");
}

// The most each piece can take whatever its value, but for the characters
// of strings, which node_update_json_bound adds.
struct BoundSink {
    std::size_t total = 0;

    void fixed(std::string_view text) noexcept { total += text.size(); }
    void string(std::string_view) noexcept { total += 2; }  // the quotes
    void number(float) noexcept { total += max_float32_text_size; }
    void colour(std::uint8_t) noexcept { total += 3; }
    void flag(bool) noexcept { total += bool_text(false).size(); }  // the longer
};

struct WriteSink {
    char* out;

    [[gnu::always_inline]] void fixed(std::string_view text) noexcept {
        std::memcpy(out, text.data(), text.size());
        out += text.size();
    }
    [[gnu::always_inline]] void string(std::string_view text) noexcept {
        out = write_json_string(text, out);
    }
    [[gnu::always_inline]] void number(float value) noexcept {
        out = write_float32_text(value, out);
    }
    [[gnu::always_inline]] void flag(bool value) noexcept { fixed(bool_text(value)); }
    [[gnu::always_inline]] void colour(std::uint8_t value) noexcept {
        unsigned rest = value;
        if (rest >= 100) {
            const bool two_hundred = rest >= 200;
            *out++ = two_hundred ? '2' : '1';
            rest -= two_hundred ? 200u : 100u;
        } else if (rest < 10) {
            *out++ = static_cast<char>('0' + rest);
            return;
        }
        std::memcpy(out, digit_pairs + 2 * rest, 2);
        out += 2;
    }
};

}  // namespace

std::size_t node_update_json_bound(const NodeUpdate& update) noexcept {
    // Every piece at its longest but the characters of strings, found once
    // from an update with every field present (its size of 0 takes digits,
    // which are longer than null). A character of a string takes at most six
    // (the escape \u00XX).
    static const std::size_t most_without_characters = [] {
        NodeUpdate every;
        for_each_field(every, [](auto, auto& field) { field.emplace(); });
        BoundSink sink;
        emit(every, sink);
        return sink.total;
    }();
    std::size_t characters = 0;
    bool overflowed = false;
    for_each_field(update, [&](auto, const auto& value) {
        if constexpr (std::is_same_v<std::decay_t<decltype(*value)>, std::string>) {
            if (value) {
                overflowed |= portable::add_overflows(characters, value->size(), characters);
            }
        }
    });
    std::size_t total = 0;
    overflowed |= portable::multiply_overflows(characters, std::size_t{6}, total);
    overflowed |= portable::add_overflows(total, most_without_characters, total);
    return overflowed ? std::numeric_limits<std::size_t>::max() : total;
}

[[gnu::flatten]] char* write_node_update_json(const NodeUpdate& update, char* out) noexcept {
    WriteSink sink{out};
    emit(update, sink);
    return sink.out;
}

}  // namespace tavro
