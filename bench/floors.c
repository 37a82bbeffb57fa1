/* _tavro_floors: what the interpreter charges for the work tavro_api does,
 * measured in the same run as tavro_api itself. bench/run.py compiles this
 * file at run time with the interpreter's own compiler flags; it is never
 * installed.
 *
 *   noop(*args, **kwargs)             a method with add_edge's calling
 *                                     convention (METH_FASTCALL |
 *                                     METH_KEYWORDS) that returns None
 *   id_list(ids)                      list of the ids' texts
 *   edge_dict(sources, counts, targets, weights)
 *                                     {source text: {target text: float}}
 *   id_list_dict(sources, counts, targets)
 *                                     {source text: [target text, ...]}
 *   node_dict(ids, updates)           {id text: new dict with the same items}
 *
 * `ids`, `sources` and `targets` are bytes holding 16-byte ids back to back,
 * `counts` an array('I') of targets per source, `weights` an array('f').
 * Each builds the same Python objects a listing builds (a new 36-character
 * str per id, a new float per weight, a new dict or list per entry) from
 * flat arrays, so the time left is allocation and filling: the floor of any
 * listing. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyObject *noop(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    (void)self;
    (void)args;
    (void)nargs;
    (void)kwnames;
    Py_RETURN_NONE;
}

static PyObject *id_text(const unsigned char *id) {
    static const char digits[] = "0123456789abcdef";
    PyObject *text = PyUnicode_New(36, 127);
    if (text == NULL) {
        return NULL;
    }
    Py_UCS1 *out = PyUnicode_1BYTE_DATA(text);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            *out++ = '-';
        }
        *out++ = (Py_UCS1)digits[id[i] >> 4];
        *out++ = (Py_UCS1)digits[id[i] & 0xf];
    }
    return text;
}

static PyObject *texts_into_list(const unsigned char *ids, Py_ssize_t n) {
    PyObject *list = PyList_New(n);
    if (list == NULL) {
        return NULL;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *text = id_text(ids + 16 * i);
        if (text == NULL) {
            Py_DECREF(list);
            return NULL;
        }
        PyList_SET_ITEM(list, i, text);
    }
    return list;
}

static PyObject *id_list(PyObject *self, PyObject *ids) {
    (void)self;
    Py_buffer view;
    if (PyObject_GetBuffer(ids, &view, PyBUF_SIMPLE) != 0) {
        return NULL;
    }
    PyObject *list = texts_into_list(view.buf, view.len / 16);
    PyBuffer_Release(&view);
    return list;
}

/* Sets dict[key] = value and drops both references. */
static int set_new_item(PyObject *dict, PyObject *key, PyObject *value) {
    int failed = key == NULL || value == NULL || PyDict_SetItem(dict, key, value) != 0;
    Py_XDECREF(key);
    Py_XDECREF(value);
    return failed ? -1 : 0;
}

static PyObject *edge_listing(PyObject *const *args, Py_ssize_t nargs, int with_weights) {
    if (nargs != 3 + with_weights) {
        PyErr_SetString(PyExc_TypeError, "wrong number of arguments");
        return NULL;
    }
    Py_buffer views[4];
    int got = 0;
    PyObject *result = NULL;
    for (; got < nargs; ++got) {
        if (PyObject_GetBuffer(args[got], &views[got], PyBUF_SIMPLE) != 0) {
            goto done;
        }
    }
    const unsigned char *sources = views[0].buf;
    const unsigned int *counts = views[1].buf;
    const unsigned char *targets = views[2].buf;
    const float *weights = with_weights ? views[3].buf : NULL;
    const Py_ssize_t n = views[0].len / 16;
    result = PyDict_New();
    if (result == NULL) {
        goto done;
    }
    Py_ssize_t t = 0;
    for (Py_ssize_t s = 0; s < n; ++s) {
        const Py_ssize_t m = (Py_ssize_t)counts[s];
        PyObject *inner;
        if (with_weights) {
            inner = PyDict_New();
            for (Py_ssize_t k = 0; inner != NULL && k < m; ++k, ++t) {
                if (set_new_item(inner, id_text(targets + 16 * t),
                                 PyFloat_FromDouble((double)weights[t])) != 0) {
                    Py_CLEAR(inner);
                }
            }
        } else {
            inner = texts_into_list(targets + 16 * t, m);
            t += m;
        }
        if (set_new_item(result, id_text(sources + 16 * s), inner) != 0) {
            Py_CLEAR(result);
            goto done;
        }
    }
done:
    while (got-- > 0) {
        PyBuffer_Release(&views[got]);
    }
    return result;
}

static PyObject *edge_dict(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    (void)self;
    return edge_listing(args, nargs, 1);
}

static PyObject *id_list_dict(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    (void)self;
    return edge_listing(args, nargs, 0);
}

/* A new object equal to `value`: a str is copied, a float made anew; ints
 * of 0 to 255 and bools are the interpreter's shared objects anyway. */
static PyObject *fresh_value(PyObject *value) {
    if (PyUnicode_CheckExact(value)) {
        Py_ssize_t size;
        const char *utf8 = PyUnicode_AsUTF8AndSize(value, &size);
        return utf8 == NULL ? NULL : PyUnicode_DecodeUTF8(utf8, size, NULL);
    }
    if (PyFloat_CheckExact(value)) {
        return PyFloat_FromDouble(PyFloat_AS_DOUBLE(value));
    }
    return Py_NewRef(value);
}

static PyObject *node_dict(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    (void)self;
    if (nargs != 2 || !PyList_Check(args[1])) {
        PyErr_SetString(PyExc_TypeError, "node_dict(ids, updates)");
        return NULL;
    }
    Py_buffer ids;
    if (PyObject_GetBuffer(args[0], &ids, PyBUF_SIMPLE) != 0) {
        return NULL;
    }
    PyObject *updates = args[1];
    PyObject *result = PyDict_New();
    for (Py_ssize_t i = 0; result != NULL && i < PyList_GET_SIZE(updates); ++i) {
        PyObject *source = PyList_GET_ITEM(updates, i);
        PyObject *fields = PyDict_New();
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (fields != NULL && PyDict_Next(source, &pos, &key, &value)) {
            if (set_new_item(fields, Py_NewRef(key), fresh_value(value)) != 0) {
                Py_CLEAR(fields);
            }
        }
        if (set_new_item(result, id_text((const unsigned char *)ids.buf + 16 * i), fields) != 0) {
            Py_CLEAR(result);
        }
    }
    PyBuffer_Release(&ids);
    return result;
}

static PyMethodDef methods[] = {
    {"noop", (PyCFunction)(void (*)(void))noop, METH_FASTCALL | METH_KEYWORDS, NULL},
    {"id_list", id_list, METH_O, NULL},
    {"edge_dict", (PyCFunction)(void (*)(void))edge_dict, METH_FASTCALL, NULL},
    {"id_list_dict", (PyCFunction)(void (*)(void))id_list_dict, METH_FASTCALL, NULL},
    {"node_dict", (PyCFunction)(void (*)(void))node_dict, METH_FASTCALL, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "_tavro_floors", NULL, 0, methods,
                                    NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit__tavro_floors(void) {
    return PyModule_Create(&module);
}
