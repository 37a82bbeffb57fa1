#include "node_update/json_value_skipper.hpp"

#include "node_update/bracket_stack.hpp"
#include "node_update/json_number.hpp"
#include "node_update/json_string_reader.hpp"

namespace tavro {
namespace {

// A scalar, whose first character `c` has been peeked.
bool skip_scalar(JsonCursor& cursor, int c) {
    switch (c) {
        case '"': {
            DiscardSink discard;
            return read_json_string(cursor, discard);
        }
        case 't':
            return cursor.read_literal("true");
        case 'f':
            return cursor.read_literal("false");
        case 'n':
            return cursor.read_literal("null");
        default:
            break;
    }
    if (is_number_start(c)) {
        NumberToken token;
        return scan_number(cursor, token);
    }
    return false;
}

// A member's key and colon, the key's first character `c` peeked.
bool skip_key(JsonCursor& cursor, int c) {
    if (c != '"') {
        return false;
    }
    DiscardSink discard;
    if (!read_json_string(cursor, discard) || cursor.peek_token() != ':') {
        return false;
    }
    cursor.advance();
    return true;
}

}  // namespace

bool skip_json_value(JsonCursor& cursor) {
    // Two states alternate: a value is expected, or one has just ended and
    // the innermost open container decides what may follow.
    BracketStack open;
    bool value_expected = true;
    for (;;) {
        if (value_expected) {
            const int c = cursor.peek_token();
            if (c == '{' || c == '[') {
                cursor.advance();
                const int next = cursor.peek_token();
                if (next == (c == '{' ? '}' : ']')) {
                    cursor.advance();
                    value_expected = false;
                    continue;
                }
                open.push(c == '{');
                if (c == '{' && !skip_key(cursor, next)) {
                    return false;
                }
                continue;
            }
            if (!skip_scalar(cursor, c)) {
                return false;
            }
            value_expected = false;
            continue;
        }

        if (open.empty()) {
            return true;
        }
        const bool in_object = open.top_is_object();
        const char close = in_object ? '}' : ']';
        const int c = cursor.peek_token();
        if (c == close) {
            cursor.advance();
            open.pop();
            continue;
        }
        if (c != ',') {
            return false;
        }
        cursor.advance();
        const int next = cursor.peek_token();
        if (next == close || (in_object && !skip_key(cursor, next))) {
            return false;
        }
        value_expected = true;
    }
}

}  // namespace tavro
