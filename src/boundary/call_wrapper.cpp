#include "boundary/call_wrapper.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "boundary/panic.hpp"

namespace tavro::py {

namespace {

std::string panic_message(std::exception_ptr panic) {
    try {
        std::rethrow_exception(std::move(panic));
    } catch (const Panic& p) {
        return p.message;
    } catch (const std::bad_alloc&) {
        std::fputs("tavro_api panicked: memory allocation failed\n", stderr);
        return "memory allocation failed";
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavro_api panicked: %s\n", e.what());
        return e.what();
    } catch (...) {
        std::fputs("tavro_api panicked with a non-standard exception\n", stderr);
    }
    return "native code panicked";
}

}  // namespace

namespace call_wrapper_detail {

void abort_uncaught() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
}

void raise_error(PendingError&& error) noexcept {
    try {
        std::move(error).raise();
    } catch (...) {
        // Converting an error must not fail; if it does there is no sound
        // state to report from.
        abort_uncaught();
    }
}

void raise_panic(std::exception_ptr panic) noexcept {
    try {
        std::string message = panic_message(std::move(panic));
        PendingError::lazy(panic_exception_type(), std::move(message)).raise();
    } catch (...) {
        abort_uncaught();
    }
}

void write_unraisable() noexcept {
    PyErr_WriteUnraisable(nullptr);
}

}  // namespace call_wrapper_detail

}  // namespace tavro::py
