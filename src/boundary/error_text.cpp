#include "boundary/error_text.hpp"

#include "boundary/py_ref.hpp"

namespace tavro::py {

namespace {

bool append_utf8(PyObject* text, std::string& out) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (utf8 == nullptr) {
        return false;
    }
    out.append(utf8, static_cast<std::size_t>(size));
    return true;
}

}  // namespace

std::string str_for_message(PyObject* object) {
    std::string out;
    OwnedRef text = OwnedRef::steal(PyObject_Str(object));
    if (text && append_utf8(text.get(), out)) {
        return out;
    }
    PyErr_WriteUnraisable(object);
    out = "<unprintable ";
    OwnedRef name = OwnedRef::steal(PyType_GetName(Py_TYPE(object)));
    if (!name || !append_utf8(name.get(), out)) {
        PyErr_Clear();
        return "<unprintable object>";
    }
    out += " object>";
    return out;
}

std::string type_qualname(PyObject* object) {
    std::string out;
    OwnedRef name = OwnedRef::steal(PyType_GetQualName(Py_TYPE(object)));
    if (name && append_utf8(name.get(), out)) {
        return out;
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

}  // namespace tavro::py
