// Borrowing an instance for the length of one method call. The counter makes
// a call made from inside another call on the same object (for example from an
// argument's __float__) fail instead of seeing a diff in the middle of a
// change. The receiver's reference count is held up while the borrow lasts.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "boundary/error_forms.hpp"
#include "extension/py_graph_diff_object.hpp"

namespace tavro::ext {

inline constexpr std::uint64_t kWriterInside = std::numeric_limits<std::uint64_t>::max();

enum class BorrowMode {
    shared,     // readers: any number, while no writer is inside
    exclusive,  // one writer, while nobody else is inside
};

template <BorrowMode Mode>
class Borrow {
  public:
    using DiffRef = std::conditional_t<Mode == BorrowMode::shared, const Diff&, Diff&>;

    static py::PyResult<Borrow> take(PyGraphDiffObject* object) {
        if constexpr (Mode == BorrowMode::shared) {
            if (object->borrow_flag == kWriterInside) {
                return py::shared_borrow_conflict();
            }
            ++object->borrow_flag;
        } else {
            if (object->borrow_flag != 0) {
                return py::exclusive_borrow_conflict();
            }
            object->borrow_flag = kWriterInside;
        }
        return Borrow(object);
    }
    Borrow(Borrow&& other) noexcept
        : object_(std::exchange(other.object_, nullptr)), hold_(std::move(other.hold_)) {}
    Borrow& operator=(Borrow&&) = delete;
    ~Borrow() {
        if (object_ == nullptr) {
            return;
        }
        if constexpr (Mode == BorrowMode::shared) {
            --object_->borrow_flag;
        } else {
            object_->borrow_flag = 0;
        }
    }
    DiffRef diff() const noexcept { return object_->diff; }

  private:
    explicit Borrow(PyGraphDiffObject* object)
        : object_(object), hold_(py::OwnedRef::borrow(reinterpret_cast<PyObject*>(object))) {}
    PyGraphDiffObject* object_;
    py::OwnedRef hold_;
};

using SharedBorrow = Borrow<BorrowMode::shared>;
using ExclusiveBorrow = Borrow<BorrowMode::exclusive>;

}  // namespace tavro::ext
