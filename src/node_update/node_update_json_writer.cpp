// The writer of the node update JSON text. It runs once per node when a diff
// is written, straight into the diff's buffer, so the text is described once
// (emit) and that description is walked by three sinks: one measures it
// exactly, one bounds it for any values and one writes it through a pointer.
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

#include "common/portable.hpp"
#include "node_update/append_room.hpp"
#include "node_update/float_text.hpp"
#include "node_update/json_string_text.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

constexpr std::string_view null_text = "null";

std::string_view bool_text(bool value) noexcept {
    return value ? std::string_view("true") : std::string_view("false");
}

// The text of `update` as a sequence of pieces handed to `sink`: fixed text,
// a JSON string, the size's digits, a colour and a flag. `size_digits` are
// those of the update's size when it is finite. Everything here is inlined
// into each sink's walk, which makes the pieces of fixed text constants.
template <class Sink>
[[gnu::always_inline]] inline void emit(const NodeUpdate& update, const Float32Decimal& size_digits,
                                        Sink& sink) {
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
                sink.decimal(size_digits);
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

// Sums the lengths of the pieces, exactly or (Bound) as the most each piece
// can take whatever its value, leaving out the characters of strings (which
// most() adds). Only strings can be long: the other pieces are summed plainly
// (a few hundred bytes at most), the strings with a check, and a sum that
// would wrap makes the result the largest size_t.
template <bool Bound>
struct MeasureSink {
    std::size_t short_pieces = 0;
    std::size_t strings = 0;
    bool overflowed = false;

    std::size_t result() const noexcept {
        std::size_t total = 0;
        return overflowed || portable::add_overflows(short_pieces, strings, total) ? kMaxSize
                                                                                   : total;
    }

    [[gnu::always_inline]] void fixed(std::string_view text) noexcept {
        short_pieces += text.size();
    }
    [[gnu::always_inline]] void string(std::string_view text) noexcept {
        if constexpr (Bound) {
            short_pieces += 2;  // the quotes
        } else {
            // Saturated when too long to count: the sum then overflows.
            overflowed |= portable::add_overflows(strings, json_string_size(text), strings);
        }
    }
    [[gnu::always_inline]] void decimal(const Float32Decimal& digits) noexcept {
        short_pieces += Bound ? max_float32_text_size : float32_text_size(digits);
    }
    [[gnu::always_inline]] void colour(std::uint8_t value) noexcept {
        short_pieces += Bound ? 3 : 1 + (value >= 10 ? 1u : 0u) + (value >= 100 ? 1u : 0u);
    }
    [[gnu::always_inline]] void flag(bool value) noexcept {
        short_pieces += bool_text(Bound ? false : value).size();  // false is the longer
    }
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
    [[gnu::always_inline]] void decimal(const Float32Decimal& digits) noexcept {
        out = write_float32_text(digits, out);
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

Float32Decimal digits_of_size(const NodeUpdate& update) noexcept {
    return update.size && std::isfinite(*update.size) ? float32_decimal(*update.size)
                                                      : Float32Decimal{};
}

}  // namespace

NodeUpdateJson::NodeUpdateJson(const NodeUpdate& update) noexcept
    : NodeUpdateJson(update, digits_of_size(update)) {}

[[gnu::flatten]] std::size_t NodeUpdateJson::size() const noexcept {
    MeasureSink<false> sink;
    emit(*update_, size_digits_, sink);
    return sink.result();
}

std::size_t NodeUpdateJson::most() const noexcept {
    // Every piece at its longest but the characters of strings, found once
    // from an update with every field present (its size of 0 takes digits,
    // which are longer than null). A character of a string takes at most six
    // more (the escape \u00XX).
    static const std::size_t most_without_characters = [] {
        NodeUpdate every;
        for_each_field(every, [](auto, auto& field) { field.emplace(); });
        MeasureSink<true> sink;
        emit(every, Float32Decimal{}, sink);
        return sink.result();
    }();
    std::size_t characters = 0;
    bool overflowed = false;
    for_each_field(*update_, [&](auto, const auto& value) {
        if constexpr (std::is_same_v<std::decay_t<decltype(*value)>, std::string>) {
            if (value) {
                overflowed |= portable::add_overflows(characters, value->size(), characters);
            }
        }
    });
    std::size_t total = 0;
    overflowed |= portable::multiply_overflows(characters, std::size_t{6}, total);
    overflowed |= portable::add_overflows(total, most_without_characters, total);
    return overflowed ? kMaxSize : total;
}

[[gnu::flatten]] char* NodeUpdateJson::write(char* out) const noexcept {
    WriteSink sink{out};
    emit(*update_, size_digits_, sink);
    return sink.out;
}

void write_node_update_json(const NodeUpdate& update, std::string& out) {
    const NodeUpdateJson json(update);
    json.write(append_room(out, json.size()));
}

}  // namespace tavro
