// The frame around every entry from the interpreter into the module (the init
// function, the constructor, each method, the destructor).
//
// A body returns PyResult<OwnedRef>: the result object, or a PendingError that
// the wrapper raises. A C++ exception escaping the body is a panic and becomes
// PanicException. If handling a failure itself fails, the process aborts with
// "uncaught panic at ffi boundary": no exception ever crosses into C.
#pragma once

#include <Python.h>

#include <exception>
#include <utility>

#include "boundary/pending_error.hpp"
#include "boundary/py_ref.hpp"

namespace tavro::py {

// Counts the wrapper entries active on this thread for the lifetime of one
// entry. The count never goes negative: the module never forbids Python access.
class EntryScope {
  public:
    EntryScope() noexcept;
    ~EntryScope();
    EntryScope(const EntryScope&) = delete;
    EntryScope& operator=(const EntryScope&) = delete;

    static long depth() noexcept;
};

namespace call_wrapper_detail {

// Raises the error of a body as the current exception.
void raise_error(PendingError&& error) noexcept;
// Turns the exception in flight into PanicException and raises it.
void raise_panic(std::exception_ptr panic) noexcept;
// Reports the current exception as unraisable (no context object).
void write_unraisable() noexcept;

}  // namespace call_wrapper_detail

template <class Body>
PyObject* call_entry(Body&& body) noexcept {
    EntryScope scope;
    try {
        PyResult<OwnedRef> result = std::forward<Body>(body)();
        if (result.ok()) {
            return std::move(result).value().release();
        }
        call_wrapper_detail::raise_error(std::move(result).error());
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
