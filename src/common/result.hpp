// Errors as values at the Python boundary: a call that can fail returns
// either its value or the error it will raise, Expected<T, PendingError>.
// The core has nothing to tell a reader about a failure (Python sees fixed
// messages): it fails with an empty std::optional or a false.
#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace tavro {

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
