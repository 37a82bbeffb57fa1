// Reads the blocks of the byte form from one cursor that only moves forward.
// Every length and count is compared with the bytes left (never added to the
// position first), so no value a caller can put in the input makes the cursor
// step past the end. A failed read returns false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "bytes/byte_layout.hpp"
#include "common/weight.hpp"

namespace tavro {

class ByteCursor {
  public:
    explicit ByteCursor(std::span<const std::uint8_t> input) noexcept
        : pos_(input.data()), end_(input.data() + input.size()) {}

    std::size_t remaining() const noexcept { return static_cast<std::size_t>(end_ - pos_); }

    // An entry count or a byte length.
    bool read_count(std::uint64_t& out) noexcept {
        if (remaining() < byte_layout::kCountSize) {
            return false;
        }
        out = byte_layout::load<std::uint64_t>(pos_);
        pos_ += byte_layout::kCountSize;
        return true;
    }

    // A length that must be 16, then the id's bytes, which are left where
    // they lie: `out` points at them in the input.
    bool read_id(const std::uint8_t*& out) noexcept {
        if (remaining() < byte_layout::kIdSize ||
            byte_layout::load<std::uint64_t>(pos_) != byte_layout::kIdBytes) {
            return false;
        }
        out = pos_ + byte_layout::kCountSize;
        pos_ += byte_layout::kIdSize;
        return true;
    }

    // A target of a pending-edge source: an id, then its weight, whose four
    // bytes become the weight bit for bit; one check of the bytes left.
    bool read_weighted_target(const std::uint8_t*& id, Weight& weight) noexcept {
        if (remaining() < byte_layout::kWeightedTargetSize ||
            byte_layout::load<std::uint64_t>(pos_) != byte_layout::kIdBytes) {
            return false;
        }
        id = pos_ + byte_layout::kCountSize;
        weight = Weight{byte_layout::load<std::uint32_t>(pos_ + byte_layout::kIdSize)};
        pos_ += byte_layout::kWeightedTargetSize;
        return true;
    }

    // A byte length, then that many bytes of UTF-8. The view points into the
    // input, so the input must outlive it.
    bool read_text(std::string_view& out) noexcept;

  private:
    const std::uint8_t* pos_;
    const std::uint8_t* end_;
};

}  // namespace tavro
