// Borrowing an instance for the length of one method call. The counter makes
// a call made from inside another call on the same object (for example from an
// argument's __float__) fail instead of seeing a diff in the middle of a
// change. The receiver's reference count is held up while the borrow lasts.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>

#include "boundary/error_forms.hpp"
#include "extension/py_graph_diff_object.hpp"

namespace tavro::ext {

inline constexpr std::uint64_t kWriterInside = std::numeric_limits<std::uint64_t>::max();

class SharedBorrow {
  public:
    static py::PyResult<SharedBorrow> take(PyGraphDiffObject* object) {
        if (object->borrow_flag == kWriterInside) {
            return py::shared_borrow_conflict();
        }
        ++object->borrow_flag;
        return SharedBorrow(object);
    }
    SharedBorrow(SharedBorrow&& other) noexcept
        : object_(std::exchange(other.object_, nullptr)), hold_(std::move(other.hold_)) {}
    SharedBorrow& operator=(SharedBorrow&&) = delete;
    ~SharedBorrow() {
        if (object_ != nullptr) {
            --object_->borrow_flag;
        }
    }
    const Diff& diff() const noexcept { return object_->diff; }

  private:
    explicit SharedBorrow(PyGraphDiffObject* object)
        : object_(object), hold_(py::OwnedRef::borrow(reinterpret_cast<PyObject*>(object))) {}
    PyGraphDiffObject* object_;
    py::OwnedRef hold_;
};

class ExclusiveBorrow {
  public:
    static py::PyResult<ExclusiveBorrow> take(PyGraphDiffObject* object) {
        if (object->borrow_flag != 0) {
            return py::exclusive_borrow_conflict();
        }
        object->borrow_flag = kWriterInside;
        return ExclusiveBorrow(object);
    }
    ExclusiveBorrow(ExclusiveBorrow&& other) noexcept
        : object_(std::exchange(other.object_, nullptr)), hold_(std::move(other.hold_)) {}
    ExclusiveBorrow& operator=(ExclusiveBorrow&&) = delete;
    ~ExclusiveBorrow() {
        if (object_ != nullptr) {
            object_->borrow_flag = 0;
        }
    }
    Diff& diff() const noexcept { return object_->diff; }

  private:
    explicit ExclusiveBorrow(PyGraphDiffObject* object)
        : object_(object), hold_(py::OwnedRef::borrow(reinterpret_cast<PyObject*>(object))) {}
    PyGraphDiffObject* object_;
    py::OwnedRef hold_;
};

}  // namespace tavro::ext
