#include "extension/py_graph_diff_methods.hpp"

namespace tavro::ext {

PyMethodDef* py_graph_diff_methods() {
    static PyMethodDef methods[] = {
        {nullptr, nullptr, 0, nullptr},
    };
    return methods;
}

}  // namespace tavro::ext
