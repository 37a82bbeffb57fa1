// A byte length summed from parts, where any sum or product that would wrap
// around std::size_t turns the whole length invalid instead of silently
// becoming a small number (which would make the writer run past its buffer).
#pragma once

#include <cstddef>

#include "common/portable.hpp"

namespace tavro {

class CheckedLength {
  public:
    explicit CheckedLength(std::size_t start) noexcept : total_(start) {}

    void add(std::size_t bytes) noexcept {
        overflowed_ |= portable::add_overflows(total_, bytes, total_);
    }

    // Adds `count` blocks of `block_size` bytes each.
    void add_blocks(std::size_t count, std::size_t block_size) noexcept {
        std::size_t product = 0;
        overflowed_ |= portable::multiply_overflows(count, block_size, product);
        add(product);
    }

    bool overflowed() const noexcept { return overflowed_; }
    // Meaningful only when nothing overflowed.
    std::size_t total() const noexcept { return total_; }

  private:
    std::size_t total_;
    bool overflowed_ = false;
};

}  // namespace tavro
