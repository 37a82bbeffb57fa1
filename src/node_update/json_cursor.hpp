// A forward-only position in a JSON text with one character of look-ahead.
// Reading stops at the first fault: the cursor keeps that fault's kind, and
// every reading step reports success as a bool so that a fault unwinds with
// plain returns and costs nothing while none occurs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "common/result.hpp"

namespace tavro {

class JsonCursor {
  public:
    // What peek_token returns when only whitespace (or nothing) remains.
    static constexpr int end_of_text = -1;

    explicit JsonCursor(std::string_view text) noexcept
        : here_(text.data()), end_(text.data() + text.size()) {}

    // Skips whitespace and returns the next character (0 to 255) without
    // consuming it, or end_of_text.
    int peek_token() noexcept {
        // Compact texts have no whitespace between tokens: a byte above the
        // space is the token itself.
        if (here_ != end_ && static_cast<unsigned char>(*here_) > ' ') {
            return static_cast<unsigned char>(*here_);
        }
        while (here_ != end_ && is_whitespace(*here_)) {
            ++here_;
        }
        return here_ == end_ ? end_of_text : static_cast<unsigned char>(*here_);
    }

    // Consumes the character that peek_token returned.
    void advance() noexcept { ++here_; }

    const char* here() const noexcept { return here_; }
    const char* end() const noexcept { return end_; }

    // Moves forward to `position`, which lies between here() and end().
    void move_to(const char* position) noexcept { here_ = position; }

    // Consumes `word` (true, false or null), whose first character has been
    // peeked.
    [[nodiscard]] bool read_literal(std::string_view word) {
        for (const char expected : word) {
            if (here_ == end_ || *here_ != expected) {
                return fail(here_ == end_ ? ErrorKind::json_eof : ErrorKind::json_syntax);
            }
            ++here_;
        }
        return true;
    }

    // Records the fault and returns false, so that callers can
    // `return fail(...)`.
    [[nodiscard]] bool fail(ErrorKind kind, std::string detail = {}) {
        fault_ = Error{kind, std::move(detail)};
        return false;
    }

    // Fails for a character that cannot stand where `c` was peeked: the end
    // of the text, or one the grammar does not allow there.
    [[nodiscard]] bool fail_unexpected(int c) {
        return fail(c == end_of_text ? ErrorKind::json_eof : ErrorKind::json_syntax);
    }

    // The recorded fault.
    Error take_error() noexcept { return std::move(fault_); }

  private:
    static bool is_whitespace(char c) noexcept {
        return c == ' ' || c == '\n' || c == '\r' || c == '\t';
    }

    const char* here_;
    const char* end_;
    Error fault_{ErrorKind::json_syntax};
};

inline bool is_number_start(int c) noexcept {
    return c == '-' || (c >= '0' && c <= '9');
}

}  // namespace tavro
