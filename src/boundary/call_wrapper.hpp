// The frame around every entry from the interpreter into the module (the init
// function, the constructor, each method, the destructor).
//
// A body returns PyResult<OwnedRef>: the result object, or a PendingError that
// the wrapper raises; a body that cannot fail returns the OwnedRef itself. A C++ exception escaping
// the body is a panic and becomes PanicException. If handling a failure itself fails, the process
// aborts with "uncaught panic at ffi boundary": no exception ever crosses into C.
#pragma once

#include <Python.h>

#include <exception>
#include <type_traits>
#include <utility>

#include "boundary/pending_error.hpp"
#include "boundary/py_ref.hpp"

namespace tavro::py {

namespace call_wrapper_detail {

// Aborts with "uncaught panic at ffi boundary".
[[noreturn]] void abort_uncaught() noexcept;
// Raises the error of a body as the current exception.
void raise_error(PendingError&& error) noexcept;
// Turns the exception in flight into PanicException and raises it.
void raise_panic(std::exception_ptr panic) noexcept;
// Reports the current exception as unraisable (no context object).
void write_unraisable() noexcept;

}  // namespace call_wrapper_detail

// The number of wrapper entries active on this thread. The module is loaded
// once per process and never unloaded, so the counter can sit in the static
// thread-local block (initial-exec): every entry reaches it with one
// %fs-relative access instead of a call to __tls_get_addr.
inline constinit thread_local long t_entry_depth [[gnu::tls_model("initial-exec")]] = 0;

// Counts one entry for its lifetime. The count never goes negative: the
// module never forbids Python access on a thread.
class EntryScope {
  public:
    EntryScope() noexcept {
        if (t_entry_depth < 0) [[unlikely]] {
            call_wrapper_detail::abort_uncaught();
        }
        ++t_entry_depth;
    }
    ~EntryScope() { --t_entry_depth; }
    EntryScope(const EntryScope&) = delete;
    EntryScope& operator=(const EntryScope&) = delete;
};

template <class Body>
PyObject* call_entry(Body&& body) noexcept {
    EntryScope scope;
    try {
        auto result = std::forward<Body>(body)();
        if constexpr (std::is_same_v<decltype(result), OwnedRef>) {
            // A body that cannot fail (it can only panic) returns its object.
            return result.release();
        } else {
            if (result.ok()) {
                return std::move(result).value().release();
            }
            call_wrapper_detail::raise_error(std::move(result).error());
        }
    } catch (...) {
        call_wrapper_detail::raise_panic(std::current_exception());
    }
    return nullptr;
}

// The destructor's variant: nothing may propagate, so a failure is reported
// with PyErr_WriteUnraisable.
template <class Body>
void call_entry_unraisable(Body&& body) noexcept {
    EntryScope scope;
    try {
        PyResult<void> result = std::forward<Body>(body)();
        if (result.ok()) {
            return;
        }
        call_wrapper_detail::raise_error(std::move(result).error());
    } catch (...) {
        call_wrapper_detail::raise_panic(std::current_exception());
    }
    call_wrapper_detail::write_unraisable();
}

}  // namespace tavro::py
