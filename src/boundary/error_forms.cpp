#include "boundary/error_forms.hpp"

#include <string>

#include "boundary/error_text.hpp"

namespace tavro::py {

PendingError type_mismatch(PyObject* object, std::string_view target) {
    std::string message = "'";
    message += type_qualname(object);
    message += "' object cannot be converted to '";
    message += target;
    message += "'";
    return type_error(std::move(message));
}

PendingError reword_argument_error(std::string_view parameter, PendingError error) {
    if (error.type() != PyExc_TypeError) {
        return error;
    }
    std::string message = "argument '";
    message += parameter;
    message += "': ";
    message += error.text();
    return type_error(std::move(message), error.cause());
}

PendingError field_error(std::string_view record, int index, PendingError error) {
    std::string message = "failed to extract field ";
    message += record;
    message += ".";
    message += std::to_string(index);
    return type_error(std::move(message), std::move(error).into_exception());
}

PendingError shared_borrow_conflict() {
    return PendingError::lazy(PyExc_RuntimeError, "Already mutably borrowed");
}

PendingError exclusive_borrow_conflict() {
    return PendingError::lazy(PyExc_RuntimeError, "Already borrowed");
}

}  // namespace tavro::py
