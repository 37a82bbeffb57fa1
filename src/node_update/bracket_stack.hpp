// The containers open around the current point of a skipped JSON value, one
// bit each (object or array). The first levels live inline; deeper ones take
// heap memory proportional to the depth, never call stack.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavro {

class BracketStack {
  public:
    bool empty() const noexcept { return depth_ == 0; }

    void push(bool is_object) {
        const std::size_t word = depth_ / bits_per_word;
        const std::uint64_t bit = std::uint64_t{1} << (depth_ % bits_per_word);
        if (word >= inline_words && word - inline_words == spill_.size()) {
            spill_.push_back(0);
        }
        std::uint64_t& bits = word_at(word);
        bits = is_object ? (bits | bit) : (bits & ~bit);
        ++depth_;
    }

    // The innermost open container; the stack must not be empty.
    bool top_is_object() const noexcept {
        const std::size_t index = depth_ - 1;
        return (word_at(index / bits_per_word) >> (index % bits_per_word) & 1) != 0;
    }

    void pop() noexcept { --depth_; }

  private:
    static constexpr std::size_t bits_per_word = 64;
    static constexpr std::size_t inline_words = 4;

    std::uint64_t& word_at(std::size_t word) noexcept {
        return word < inline_words ? inline_[word] : spill_[word - inline_words];
    }
    const std::uint64_t& word_at(std::size_t word) const noexcept {
        return word < inline_words ? inline_[word] : spill_[word - inline_words];
    }

    std::array<std::uint64_t, inline_words> inline_{};
    std::vector<std::uint64_t> spill_;
    std::size_t depth_ = 0;
};

}  // namespace tavro
