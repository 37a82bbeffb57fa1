// The reader of the node update JSON text: one forward pass that fills the
// fields as their members arrive. Known members are converted in place;
// unknown ones are passed over by the iterative skipper.
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

// Whether `key` is field I's key: a compare of constant length, which
// compiles to a few loads. (The same compare in a loop over the field table
// calls memcmp for every key of the same length: 13% more instructions per
// text.)
template <std::size_t I>
bool is_key(std::string_view key) noexcept {
    constexpr std::string_view known = node_update_fields[I].json_key;
    return key.size() == known.size() && std::memcmp(key.data(), known.data(), known.size()) == 0;
}

// The field a decoded key names, or -1 for any other key: the field table's
// keys in turn.
int field_of_key(std::string_view key) noexcept {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        int field = -1;
        (void)((is_key<I>(key) && (field = static_cast<int>(I), true)) || ...);
        return field;
    }(std::make_index_sequence<field_count>());
}

class NodeUpdateReader {
  public:
    NodeUpdateReader(std::string_view text, NodeUpdate& update) noexcept
        : cursor_(text), update_(update) {}

    bool read() {
        const int c = cursor_.peek_token();
        return (c == '{' ? read_object() : c == '[' && read_array()) &&
               cursor_.peek_token() == JsonCursor::end_of_text;
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
            int field = -1;
            if (c != '"' || !read_key(field)) {
                return false;
            }
            // A key counts as seen even when its value is null.
            if (field >= 0) {
                const auto bit = static_cast<std::uint8_t>(1u << field);
                if ((seen & bit) != 0) {
                    return false;
                }
                seen = static_cast<std::uint8_t>(seen | bit);
            }
            if (cursor_.peek_token() != ':') {
                return false;
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
                return false;
            }
            cursor_.advance();
            c = cursor_.peek_token();
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

    // Exactly one element per field, in field order.
    bool read_array() {
        cursor_.advance();
        int c = cursor_.peek_token();
        for (int field = 0; field < field_count; ++field) {
            if (field > 0) {
                if (c != ',') {
                    return false;
                }
                cursor_.advance();
                c = cursor_.peek_token();
            }
            if (!read_field(field, c)) {
                return false;
            }
            c = cursor_.peek_token();
        }
        if (c != ']') {
            return false;
        }
        cursor_.advance();
        return true;
    }

    // The value of field `field`, its first character `c` peeked. Null leaves
    // the field absent. One copy for the object and the array form: inlined
    // into both, it makes the reader keep its position in memory (about 3%
    // more instructions per text).
    [[gnu::noinline]] bool read_field(int field, int c) {
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
            return false;
        }
        StringSink sink{field.emplace()};
        return read_json_string(cursor_, sink);
    }

    bool read_value(std::optional<float>& field, int c) {
        NumberToken token;
        float value = 0.0f;
        if (!is_number_start(c) || !scan_number(cursor_, token) || !number_to_f32(token, value)) {
            return false;
        }
        field = value;
        return true;
    }

    // A colour: an integer from 0 to 255 written as one to three digits
    // without a leading zero, that end the number. Every other number (-0,
    // 1.0, 1e2, 256) is refused.
    bool read_value(std::optional<std::uint8_t>& field, int) noexcept {
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
        const bool flag = c == 't';
        if ((!flag && c != 'f') || !cursor_.read_literal(flag ? "true" : "false")) {
            return false;
        }
        field = flag;
        return true;
    }

    JsonCursor cursor_;
    NodeUpdate& update_;
};

}  // namespace

bool read_node_update_json(std::string_view text, NodeUpdate& update) {
    return NodeUpdateReader(text, update).read();
}

}  // namespace tavro
