#include "boundary/pending_error.hpp"

#include <cstdio>

#include "boundary/error_text.hpp"
#include "boundary/panic.hpp"

namespace tavro::py {

PendingError PendingError::lazy(PyObject* type, std::string message, OwnedRef cause) {
    PendingError error;
    error.type_ = OwnedRef::borrow(type);
    error.message_ = std::move(message);
    error.cause_ = std::move(cause);
    return error;
}

PendingError PendingError::made(OwnedRef exception) {
    PendingError error;
    error.exception_ = std::move(exception);
    return error;
}

PyObject* PendingError::type() const noexcept {
    return exception_ ? reinterpret_cast<PyObject*>(Py_TYPE(exception_.get())) : type_.get();
}

std::string PendingError::text() const {
    if (exception_) {
        return str_for_message(exception_.get());
    }
    return message_;
}

OwnedRef PendingError::cause() const {
    if (exception_) {
        // PyException_GetCause returns a new reference (or null).
        return OwnedRef::steal(PyException_GetCause(exception_.get()));
    }
    if (cause_) {
        return OwnedRef::borrow(cause_.get());
    }
    return {};
}

OwnedRef PendingError::into_exception() && {
    if (exception_) {
        return std::move(exception_);
    }
    std::move(*this).raise();
    return OwnedRef::steal(PyErr_GetRaisedException());
}

void PendingError::raise() && {
    if (exception_) {
        PyErr_SetRaisedException(exception_.release());
        return;
    }
    OwnedRef message = created(
        PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
    PyErr_SetObject(type_.get(), message.get());
    if (cause_) {
        PyObject* raised = PyErr_GetRaisedException();
        if (raised != nullptr) {
            PyException_SetCause(raised, cause_.release());  // steals the cause
            PyErr_SetRaisedException(raised);
        }
    }
}

PendingError fetch_error() {
    OwnedRef raised = OwnedRef::steal(PyErr_GetRaisedException());
    if (!raised) {
        return PendingError::lazy(PyExc_SystemError,
                                  "attempted to fetch exception but none was set");
    }
    if (reinterpret_cast<PyObject*>(Py_TYPE(raised.get())) == panic_exception_type()) {
        // A panic crossed into Python and came back: carry on panicking.
        std::string message = "Unwrapped panic from Python code";
        if (OwnedRef text = OwnedRef::steal(PyObject_Str(raised.get()))) {
            Py_ssize_t size = 0;
            if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size)) {
                message.assign(utf8, static_cast<std::size_t>(size));
            }
        }
        PyErr_Clear();
        std::fputs(
            "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n",
            stderr);
        std::fputs("Python stack trace below:\n", stderr);
        PyErr_SetRaisedException(raised.release());
        PyErr_PrintEx(0);
        throw Panic{std::move(message)};
    }
    return PendingError::made(std::move(raised));
}

PendingError type_error(std::string message, OwnedRef cause) {
    return PendingError::lazy(PyExc_TypeError, std::move(message), std::move(cause));
}

}  // namespace tavro::py
