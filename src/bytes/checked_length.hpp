// A byte length summed from parts, where any sum or product that would wrap
// around std::size_t turns the whole length invalid instead of silently
// becoming a small number (which would make the writer run past its buffer).
#pragma once

#include <cstddef>

namespace tavro {

class CheckedLength {
  public:
    explicit CheckedLength(std::size_t start) noexcept : total_(start) {}

    void add(std::size_t bytes) noexcept {
        overflowed_ |= __builtin_add_overflow(total_, bytes, &total_);
    }

    // Adds `count` blocks of `block_size` bytes each.
    void add_blocks(std::size_t count, std::size_t block_size) noexcept {
        std::size_t product = 0;
        overflowed_ |= __builtin_mul_overflow(count, block_size, &product);
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
