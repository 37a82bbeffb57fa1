// The method table of PyGraphDiff.
#pragma once

#include <Python.h>

namespace tavro::ext {

// Null-terminated table of the class's methods, in the order the class
// exposes them.
PyMethodDef* py_graph_diff_methods();

}  // namespace tavro::ext
