// Writing objects into error messages.
#pragma once

#include <Python.h>

#include <string>

namespace tavro::py {

// str() of `object` as UTF-8. If str() fails, the failure is reported with
// PyErr_WriteUnraisable and "<unprintable T object>" stands in its place.
std::string str_for_message(PyObject* object);

// The __qualname__ of the object's type, or "<failed to extract type name>".
std::string type_qualname(PyObject* object);

}  // namespace tavro::py
