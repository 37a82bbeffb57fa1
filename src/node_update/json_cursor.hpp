// A forward-only position in a JSON text with one character of look-ahead.
// Reading stops at the first fault: the cursor keeps that fault's description
// and place, and every reading step reports success as a bool so that a fault
// unwinds with plain returns and costs nothing while none occurs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/result.hpp"

namespace tavro {

class JsonCursor {
  public:
    // What peek_token returns when only whitespace (or nothing) remains.
    static constexpr int end_of_text = -1;

    explicit JsonCursor(std::string_view text) noexcept
        : begin_(text.data()), here_(text.data()), end_(text.data() + text.size()) {}

    // Skips whitespace and returns the next character (0 to 255) without
    // consuming it, or end_of_text.
    int peek_token() noexcept {
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
    // peeked: "expected ident" at the first character that differs.
    [[nodiscard]] bool read_literal(std::string_view word);

    // Records the fault `description` found at `at` (here() for the plain
    // form) and returns false, so that callers can `return fail(...)`.
    [[nodiscard]] bool fail(std::string_view description) { return fail_at(here_, description); }
    [[nodiscard]] bool fail_at(const char* at, std::string_view description);

    // The recorded fault with its place: "... at line L column C".
    Error error() const;

  private:
    static bool is_whitespace(char c) noexcept {
        return c == ' ' || c == '\n' || c == '\r' || c == '\t';
    }

    const char* begin_;
    const char* here_;
    const char* end_;
    std::string fault_;
    const char* fault_at_ = nullptr;
};

inline bool is_number_start(int c) noexcept {
    return c == '-' || (c >= '0' && c <= '9');
}

}  // namespace tavro
