// The reader of the node update JSON text: one forward pass that fills the
// fields as their members arrive. Known members are converted in place;
// unknown ones are passed over by the iterative skipper.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "node_update/json_cursor.hpp"
#include "node_update/json_number.hpp"
#include "node_update/json_string_reader.hpp"
#include "node_update/json_string_text.hpp"
#include "node_update/json_value_skipper.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

// Keys in field order, which is also the element order of the array form.
constexpr std::array<std::string_view, 7> field_keys = {"label", "size", "url",      "red",
                                                        "green", "blue", "showLabel"};
constexpr int field_count = static_cast<int>(field_keys.size());

enum FieldIndex : int { label, size, url, red, green, blue, show_label };

// The field a decoded key names, or -1 for any other key.
int field_of_key(std::string_view key) noexcept {
    for (int i = 0; i < field_count; ++i) {
        if (key == field_keys[static_cast<std::size_t>(i)]) {
            return i;
        }
    }
    return -1;
}

class NodeUpdateReader {
  public:
    explicit NodeUpdateReader(std::string_view text) noexcept : cursor_(text) {}

    Result<NodeUpdate> read() {
        const int c = cursor_.peek_token();
        const bool ok = c == '{'   ? read_object()
                        : c == '[' ? read_array()
                                   : fail_invalid_type(c, "struct NodeUpdate");
        if (!ok) {
            return cursor_.error();
        }
        if (cursor_.peek_token() != JsonCursor::end_of_text) {
            (void)cursor_.fail("trailing characters");
            return cursor_.error();
        }
        return std::move(update_);
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
                return c == JsonCursor::end_of_text ? cursor_.fail("EOF while parsing an object")
                                                    : cursor_.fail("key must be a string");
            }
            const char* const key_at = cursor_.here();
            KeySink key;
            if (!read_json_string(cursor_, key)) {
                return false;
            }
            // A key counts as seen even when its value is null.
            const int field = field_of_key(key.view());
            if (field >= 0) {
                const auto bit = static_cast<std::uint8_t>(1u << field);
                if ((seen & bit) != 0) {
                    return fail_duplicate(key_at, field);
                }
                seen = static_cast<std::uint8_t>(seen | bit);
            }
            const int colon = cursor_.peek_token();
            if (colon != ':') {
                return colon == JsonCursor::end_of_text
                           ? cursor_.fail("EOF while parsing an object")
                           : cursor_.fail("expected `:`");
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
                return c == JsonCursor::end_of_text ? cursor_.fail("EOF while parsing an object")
                                                    : cursor_.fail("expected `,` or `}`");
            }
            const char* const comma = cursor_.here();
            cursor_.advance();
            c = cursor_.peek_token();
            if (c == '}') {
                return cursor_.fail_at(comma, "trailing comma");
            }
        }
    }

    bool read_array() {
        cursor_.advance();
        int c = cursor_.peek_token();
        if (c == JsonCursor::end_of_text) {
            return cursor_.fail("EOF while parsing a list");
        }
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
                const char* const comma = cursor_.here();
                cursor_.advance();
                c = cursor_.peek_token();
                if (c == ']') {
                    return cursor_.fail_at(comma, "trailing comma");
                }
                if (count == field_count) {
                    return cursor_.fail_at(comma, "trailing characters");
                }
            }
        }
        if (c == ']') {
            if (count < field_count) {
                return cursor_.fail("invalid length " + std::to_string(count) +
                                    ", expected struct NodeUpdate with 7 elements");
            }
            cursor_.advance();
            return true;
        }
        if (c == JsonCursor::end_of_text) {
            return cursor_.fail("EOF while parsing a list");
        }
        return cursor_.fail(count == field_count ? "trailing characters" : "expected `,` or `]`");
    }

    // The value of field `field`, its first character `c` peeked. Null leaves
    // the field absent.
    bool read_field(int field, int c) {
        if (c == 'n') {
            return cursor_.read_literal("null");
        }
        switch (field) {
            case label:
                return read_text(update_.label, c);
            case size:
                return read_size(c);
            case url:
                return read_text(update_.url, c);
            case red:
                return read_channel(update_.red, c);
            case green:
                return read_channel(update_.green, c);
            case blue:
                return read_channel(update_.blue, c);
            default:
                return read_flag(c);
        }
    }

    bool read_text(std::optional<std::string>& field, int c) {
        if (c != '"') {
            return fail_invalid_type(c, "a string");
        }
        StringSink sink{field.emplace()};
        return read_json_string(cursor_, sink);
    }

    bool read_size(int c) {
        if (!is_number_start(c)) {
            return fail_invalid_type(c, "f32");
        }
        NumberToken token;
        if (!scan_number(cursor_, token)) {
            return false;
        }
        float value = 0.0f;
        if (!number_to_f32(token, value)) {
            return cursor_.fail_at(token.begin, "number out of range");
        }
        update_.size = value;
        return true;
    }

    bool read_channel(std::optional<std::uint8_t>& field, int c) {
        if (!is_number_start(c)) {
            return fail_invalid_type(c, "u8");
        }
        const char* const at = cursor_.here();
        NumberValue value;
        if (!read_number(value)) {
            return false;
        }
        switch (value.kind) {
            case NumberValue::Kind::unsigned_integer:
                if (value.magnitude <= 255) {
                    field = static_cast<std::uint8_t>(value.magnitude);
                    return true;
                }
                [[fallthrough]];
            case NumberValue::Kind::negative_integer:
                return cursor_.fail_at(
                    at, "invalid value: " + describe_number(value) + ", expected u8");
            case NumberValue::Kind::floating:
                break;
        }
        return cursor_.fail_at(at, "invalid type: " + describe_number(value) + ", expected u8");
    }

    bool read_flag(int c) {
        if (c == 't' || c == 'f') {
            const bool flag = c == 't';
            if (!cursor_.read_literal(flag ? "true" : "false")) {
                return false;
            }
            update_.show_label = flag;
            return true;
        }
        return fail_invalid_type(c, "a boolean");
    }

    bool read_number(NumberValue& value) {
        NumberToken token;
        if (!scan_number(cursor_, token)) {
            return false;
        }
        if (!evaluate_number(token, value)) {
            return cursor_.fail_at(token.begin, "number out of range");
        }
        return true;
    }

    // Fails with "invalid type: <what was found>, expected <expected>" for the
    // value whose first character `c` has been peeked. Scalars are read first
    // so the description can show them, and a fault inside one wins.
    bool fail_invalid_type(int c, std::string_view expected) {
        const char* const at = cursor_.here();
        std::string found;
        switch (c) {
            case '{':
                found = "map";
                break;
            case '[':
                found = "sequence";
                break;
            case '"': {
                std::string text;
                StringSink sink{text};
                if (!read_json_string(cursor_, sink)) {
                    return false;
                }
                found = "string ";
                append_json_string(text, found);
                break;
            }
            case 't':
            case 'f':
                if (!cursor_.read_literal(c == 't' ? "true" : "false")) {
                    return false;
                }
                found = c == 't' ? "boolean `true`" : "boolean `false`";
                break;
            case 'n':
                if (!cursor_.read_literal("null")) {
                    return false;
                }
                found = "null";
                break;
            case JsonCursor::end_of_text:
                return cursor_.fail("EOF while parsing a value");
            default: {
                if (!is_number_start(c)) {
                    return cursor_.fail("expected value");
                }
                NumberValue value;
                if (!read_number(value)) {
                    return false;
                }
                found = describe_number(value);
                break;
            }
        }
        std::string description = "invalid type: ";
        description += found;
        description += ", expected ";
        description += expected;
        return cursor_.fail_at(at, description);
    }

    bool fail_duplicate(const char* at, int field) {
        std::string description = "duplicate field `";
        description += field_keys[static_cast<std::size_t>(field)];
        description += '`';
        return cursor_.fail_at(at, description);
    }

    JsonCursor cursor_;
    NodeUpdate update_;
};

}  // namespace

Result<NodeUpdate> read_node_update_json(std::string_view text) {
    return NodeUpdateReader(text).read();
}

}  // namespace tavro
