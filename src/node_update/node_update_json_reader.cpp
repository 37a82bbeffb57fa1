// The reader of the node update JSON text: one forward pass that fills the
// fields as their members arrive. Known members are converted in place;
// unknown ones are passed over by the iterative skipper.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "node_update/json_cursor.hpp"
#include "node_update/json_number.hpp"
#include "node_update/json_string_reader.hpp"
#include "node_update/json_value_skipper.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

constexpr int field_count = static_cast<int>(node_update_fields.size());

// Keys are told apart by their length and first byte: each field's key has a
// slot of its own in a 16-entry table built from the field table, so one
// comparison decides whether a key names a field.
constexpr std::size_t key_slot(std::size_t length, char first) noexcept {
    return (length * 4 + static_cast<unsigned char>(first)) % 16;
}

constexpr std::array<std::int8_t, 16> field_by_key_slot = [] {
    std::array<std::int8_t, 16> slots{};
    slots.fill(-1);
    for (std::size_t i = 0; i < node_update_fields.size(); ++i) {
        const std::string_view key = node_update_fields[i].json_key;
        slots[key_slot(key.size(), key[0])] = static_cast<std::int8_t>(i);
    }
    return slots;
}();

static_assert(std::count_if(field_by_key_slot.begin(), field_by_key_slot.end(),
                            [](std::int8_t field) { return field >= 0; }) == field_count,
              "two field keys share a slot: change the multiplier of key_slot");

// Whether `key`, as long as field I's key, spells it: a compare of constant
// length, which compiles to a few loads rather than a call.
template <std::size_t I>
bool spells_key(const char* key) noexcept {
    constexpr std::string_view known = node_update_fields[I].json_key;
    return std::memcmp(key, known.data(), known.size()) == 0;
}

constexpr auto key_spellers = []<std::size_t... I>(std::index_sequence<I...>) {
    return std::array<bool (*)(const char*) noexcept, field_count>{&spells_key<I>...};
}(std::make_index_sequence<field_count>());

// The field a decoded key names, or -1 for any other key.
int field_of_key(std::string_view key) noexcept {
    if (key.empty()) {
        return -1;
    }
    const int field = field_by_key_slot[key_slot(key.size(), key[0])];
    if (field < 0) {
        return -1;
    }
    const auto index = static_cast<std::size_t>(field);
    return key.size() == node_update_fields[index].json_key.size() &&
                   key_spellers[index](key.data())
               ? field
               : -1;
}

class NodeUpdateReader {
  public:
    NodeUpdateReader(std::string_view text, NodeUpdate& update) noexcept
        : cursor_(text), update_(update) {}

    Result<void> read() {
        const int c = cursor_.peek_token();
        const bool ok = c == '{' ? read_object() : c == '[' ? read_array() : fail_wrong_type(c);
        if (!ok) {
            return cursor_.take_error();
        }
        if (cursor_.peek_token() != JsonCursor::end_of_text) {
            (void)cursor_.fail(ErrorKind::json_trailing);
            return cursor_.take_error();
        }
        return {};
    }

  private:
    bool read_object() {
        cursor_.advance();
        int c = cursor_.peek_token();
        if (c == '}') {
            cursor_.advance();
            return true;
        }
        std::uint8_t seen = 0;
        for (;;) {
            if (c != '"') {
                return cursor_.fail_unexpected(c);
            }
            int field = -1;
            if (!read_key(field)) {
                return false;
            }
            // A key counts as seen even when its value is null.
            if (field >= 0) {
                const auto bit = static_cast<std::uint8_t>(1u << field);
                if ((seen & bit) != 0) {
                    return fail_duplicate(field);
                }
                seen = static_cast<std::uint8_t>(seen | bit);
            }
            const int colon = cursor_.peek_token();
            if (colon != ':') {
                return cursor_.fail_unexpected(colon);
            }
            cursor_.advance();
            const bool value_read =
                field >= 0 ? read_field(field, cursor_.peek_token()) : skip_json_value(cursor_);
            if (!value_read) {
                return false;
            }

            c = cursor_.peek_token();
            if (c == '}') {
                cursor_.advance();
                return true;
            }
            if (c != ',') {
                return cursor_.fail_unexpected(c);
            }
            cursor_.advance();
            c = cursor_.peek_token();
            if (c == '}') {
                return cursor_.fail(ErrorKind::json_trailing);
            }
        }
    }

    // The key whose opening quote is next, as the field it names (-1 for
    // none). A key without escapes is matched where it lies; only one with a
    // backslash (or a fault) is decoded.
    bool read_key(int& field) {
        const char* const text = cursor_.here() + 1;
        const char* const stop = json_string_detail::find_run_stop(text, cursor_.end());
        if (stop != cursor_.end() && *stop == '"') {
            field = field_of_key(std::string_view(text, static_cast<std::size_t>(stop - text)));
            cursor_.move_to(stop + 1);
            return true;
        }
        KeySink key;
        if (!read_json_string(cursor_, key)) {
            return false;
        }
        field = field_of_key(key.view());
        return true;
    }

    bool read_array() {
        cursor_.advance();
        int c = cursor_.peek_token();
        int count = 0;
        if (c != ']') {
            for (;;) {
                if (!read_field(count, c)) {
                    return false;
                }
                ++count;
                c = cursor_.peek_token();
                if (c != ',') {
                    break;
                }
                // The comma after the seventh element is where the array
                // becomes too long.
                cursor_.advance();
                c = cursor_.peek_token();
                if (c == ']' || count == field_count) {
                    return cursor_.fail(ErrorKind::json_trailing);
                }
            }
        }
        if (c == ']') {
            if (count < field_count) {
                return cursor_.fail(ErrorKind::json_length);
            }
            cursor_.advance();
            return true;
        }
        return count == field_count && c != JsonCursor::end_of_text
                   ? cursor_.fail(ErrorKind::json_trailing)
                   : cursor_.fail_unexpected(c);
    }

    // The value of field `field`, its first character `c` peeked. Null leaves
    // the field absent.
    bool read_field(int field, int c) {
        if (c == 'n') {
            return cursor_.read_literal("null");
        }
        bool read = false;
        visit_field(update_, static_cast<std::size_t>(field),
                    [&](auto& value) { read = read_value(value, c); });
        return read;
    }

    bool read_value(std::optional<std::string>& field, int c) {
        if (c != '"') {
            return fail_wrong_type(c);
        }
        StringSink sink{field.emplace()};
        return read_json_string(cursor_, sink);
    }

    bool read_value(std::optional<float>& field, int c) {
        if (!is_number_start(c)) {
            return fail_wrong_type(c);
        }
        NumberToken token;
        if (!scan_number(cursor_, token)) {
            return false;
        }
        float value = 0.0f;
        if (!number_to_f32(token, value)) {
            return cursor_.fail(ErrorKind::json_out_of_range);
        }
        field = value;
        return true;
    }

    // An integer from 0 to 255. Other integers are the wrong value; -0,
    // fractions, exponents and integers beyond 64 bits count as floats, the
    // wrong type.
    bool read_value(std::optional<std::uint8_t>& field, int c) {
        if (read_small_integer(field)) {
            return true;
        }
        if (!is_number_start(c)) {
            return fail_wrong_type(c);
        }
        NumberToken token;
        if (!scan_number(cursor_, token)) {
            return false;
        }
        if (!is_integer(token)) {
            return cursor_.fail(ErrorKind::json_type);
        }
        if (token.negative || token.integer_part > 255) {
            return cursor_.fail(ErrorKind::json_value);
        }
        field = static_cast<std::uint8_t>(token.integer_part);
        return true;
    }

    // The common colour: one to three digits without a leading zero, making
    // at most 255, that end the number. Anything else is left to the general
    // scan (false), the cursor unmoved.
    bool read_small_integer(std::optional<std::uint8_t>& field) noexcept {
        const char* p = cursor_.here();
        const char* const end = cursor_.end();
        unsigned value = 0;
        int digits = 0;
        for (; digits < 4 && p != end && *p >= '0' && *p <= '9'; ++p, ++digits) {
            value = value * 10 + static_cast<unsigned>(*p - '0');
        }
        const bool ends =
            p == end || (*p != '.' && *p != 'e' && *p != 'E' && !(*p >= '0' && *p <= '9'));
        if (digits == 0 || digits > 3 || (digits > 1 && *cursor_.here() == '0') || !ends ||
            value > 255) {
            return false;
        }
        field = static_cast<std::uint8_t>(value);
        cursor_.move_to(p);
        return true;
    }

    bool read_value(std::optional<bool>& field, int c) {
        if (c == 't' || c == 'f') {
            const bool flag = c == 't';
            if (!cursor_.read_literal(flag ? "true" : "false")) {
                return false;
            }
            field = flag;
            return true;
        }
        return fail_wrong_type(c);
    }

    // Fails for a value whose first character `c` shows it cannot be what the
    // field (or the whole text) takes; the value itself is not read.
    bool fail_wrong_type(int c) {
        const bool starts_value = c == '{' || c == '[' || c == '"' || c == 't' || c == 'f' ||
                                  c == 'n' || is_number_start(c);
        return starts_value ? cursor_.fail(ErrorKind::json_type) : cursor_.fail_unexpected(c);
    }

    bool fail_duplicate(int field) {
        std::string detail = "duplicate field `";
        detail += node_update_fields[static_cast<std::size_t>(field)].json_key;
        detail += '`';
        return cursor_.fail(ErrorKind::json_duplicate, std::move(detail));
    }

    JsonCursor cursor_;
    NodeUpdate& update_;
};

}  // namespace

Result<void> read_node_update_json(std::string_view text, NodeUpdate& update) {
    return NodeUpdateReader(text, update).read();
}

Result<NodeUpdate> read_node_update_json(std::string_view text) {
    NodeUpdate update;
    TAVRO_TRY(read_node_update_json(text, update));
    return update;
}

}  // namespace tavro
