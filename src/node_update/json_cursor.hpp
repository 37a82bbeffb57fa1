// A forward-only position in a JSON text with one character of look-ahead.
// Reading stops at the first fault: every reading step reports success as a
// bool, so that a fault unwinds with plain returns and costs nothing while
// none occurs.
#pragma once

#include <string_view>

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
    [[nodiscard]] bool read_literal(std::string_view word) noexcept {
        for (const char expected : word) {
            if (here_ == end_ || *here_ != expected) {
                return false;
            }
            ++here_;
        }
        return true;
    }

  private:
    static bool is_whitespace(char c) noexcept {
        return c == ' ' || c == '\n' || c == '\r' || c == '\t';
    }

    const char* here_;
    const char* end_;
};

inline bool is_number_start(int c) noexcept {
    return c == '-' || (c >= '0' && c <= '9');
}

}  // namespace tavro
