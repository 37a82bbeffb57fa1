// Errors as values: an operation that can fail returns either its value or an
// error. The core uses Result<T> (error = Error, a kind); the Python boundary
// reuses Expected with its own error type. Nothing in the core throws for bad
// input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tavro {

// What went wrong in the core. The kinds serve diagnostics and tests: no
// caller shows them to a user (the extension raises fixed messages).
enum class ErrorKind : std::uint8_t {
    endpoint_deleted,  // an edge to or from a node marked deleted

    // Reading the byte form.
    end_of_data,   // a block runs past the end of the input
    id_length,     // an id whose length is not 16
    invalid_utf8,  // a text that is not UTF-8

    // Writing the byte form.
    too_large,  // the byte length does not fit in memory
    changed,    // the diff changed between measuring and writing

    // Reading a node update's JSON text.
    json_eof,           // the text ends inside a value
    json_syntax,        // a character the grammar does not allow where it stands
    json_trailing,      // a trailing comma, or anything after the value
    json_string,        // a bad escape, a raw control character or a lone surrogate
    json_number,        // a number outside the grammar
    json_out_of_range,  // a number too large for a 64-bit float
    json_type,          // a value of the wrong JSON type for its field
    json_value,         // an integer outside 0 to 255 for a colour
    json_length,        // an array form with fewer than seven elements
    json_duplicate,     // a field's key given twice
};

struct Error {
    ErrorKind kind;
    // A short note for diagnostics, for the few kinds where one helps
    // ("duplicate field `label`"); usually empty.
    std::string detail{};
};

template <class T, class E>
class [[nodiscard]] Expected {
  public:
    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Expected(E error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    E& error() & { return std::get<1>(state_); }
    const E& error() const& { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

  private:
    std::variant<T, E> state_;
};

// Success carries nothing; failure carries the error.
template <class E>
class [[nodiscard]] Expected<void, E> {
  public:
    Expected() = default;
    Expected(E error) : error_(std::move(error)) {}

    bool ok() const noexcept { return !error_.has_value(); }
    explicit operator bool() const noexcept { return ok(); }
    E& error() & { return *error_; }
    const E& error() const& { return *error_; }
    E&& error() && { return std::move(*error_); }

  private:
    std::optional<E> error_;
};

template <class T>
using Result = Expected<T, Error>;

}  // namespace tavro

// Propagation of failures, so that a chain of fallible steps reads as a list.
// Both forms evaluate `expr` (an Expected) once; on failure they return its
// error from the enclosing function, whose result type must accept it.
//   TAVRO_TRY(expr);                  -- for steps whose value is not needed
//   TAVRO_TRY_ASSIGN(auto x, expr);   -- declares or assigns the value
#define TAVRO_TRY(expr)                                  \
    do {                                                 \
        auto&& tavro_try_result_ = (expr);               \
        if (!tavro_try_result_) {                        \
            return std::move(tavro_try_result_).error(); \
        }                                                \
    } while (false)

#define TAVRO_TRY_CONCAT_(a, b) a##b
#define TAVRO_TRY_CONCAT(a, b) TAVRO_TRY_CONCAT_(a, b)
#define TAVRO_TRY_ASSIGN(lhs, expr) \
    TAVRO_TRY_ASSIGN_IMPL_(TAVRO_TRY_CONCAT(tavro_try_result_, __LINE__), lhs, expr)
#define TAVRO_TRY_ASSIGN_IMPL_(tmp, lhs, expr) \
    auto tmp = (expr);                         \
    if (!tmp) {                                \
        return std::move(tmp).error();         \
    }                                          \
    lhs = std::move(tmp).value()
