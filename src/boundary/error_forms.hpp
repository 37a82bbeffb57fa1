// The shared forms of the errors that reach Python code. Callers match on
// these classes and messages, so the texts are fixed.
#pragma once

#include <Python.h>

#include <string_view>

#include "boundary/pending_error.hpp"

namespace tavro::py {

// TypeError "'<qualname of type(object)>' object cannot be converted to '<target>'".
PendingError type_mismatch(PyObject* object, std::string_view target);

// A TypeError of exactly that class becomes "argument '<name>': <old message>",
// keeping the old exception's __cause__; any other error passes unchanged.
PendingError reword_argument_error(std::string_view parameter, PendingError error);

// TypeError "failed to extract field <record>.<index>" caused by `error`.
PendingError field_error(std::string_view record, int index, PendingError error);

// RuntimeError "Already mutably borrowed": a shared borrow met a writer.
PendingError shared_borrow_conflict();
// RuntimeError "Already borrowed": an exclusive borrow met any borrow.
PendingError exclusive_borrow_conflict();

}  // namespace tavro::py
