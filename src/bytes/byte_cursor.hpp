// Reads the blocks of the byte form from one cursor that only moves forward.
// Every length and count is compared with the bytes left (never added to the
// position first), so no value a caller can put in the input makes the cursor
// step past the end. A failed read records what went wrong and returns
// false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "bytes/byte_layout.hpp"
#include "common/result.hpp"
#include "common/weight.hpp"

namespace tavro {

class ByteCursor {
  public:
    explicit ByteCursor(std::span<const std::uint8_t> input) noexcept
        : pos_(input.data()), end_(input.data() + input.size()) {}

    std::size_t remaining() const noexcept { return static_cast<std::size_t>(end_ - pos_); }

    // An entry count or a byte length.
    bool read_count(std::uint64_t& out) {
        if (remaining() < byte_layout::kCountSize) {
            return fail(ErrorKind::end_of_data);
        }
        out = byte_layout::load<std::uint64_t>(pos_);
        pos_ += byte_layout::kCountSize;
        return true;
    }

    // The four bytes become the weight bit for bit.
    bool read_weight(Weight& out) {
        if (remaining() < byte_layout::kWeightSize) {
            return fail(ErrorKind::end_of_data);
        }
        out = Weight{byte_layout::load<std::uint32_t>(pos_)};
        pos_ += byte_layout::kWeightSize;
        return true;
    }

    // A length that must be 16, then the id's bytes, which are left where
    // they lie: `out` points at them in the input.
    bool read_id(const std::uint8_t*& out) {
        if (remaining() >= byte_layout::kIdSize &&
            byte_layout::load<std::uint64_t>(pos_) == byte_layout::kIdBytes) {
            out = pos_ + byte_layout::kCountSize;
            pos_ += byte_layout::kIdSize;
            return true;
        }
        return read_odd_id();
    }

    // A target of a pending-edge source: an id, then its weight. The common
    // case takes one check of the bytes left; any other is read the long
    // way, so it fails exactly as the two reads would.
    bool read_weighted_target(const std::uint8_t*& id, Weight& weight) {
        if (remaining() >= byte_layout::kWeightedTargetSize &&
            byte_layout::load<std::uint64_t>(pos_) == byte_layout::kIdBytes) {
            id = pos_ + byte_layout::kCountSize;
            weight = Weight{byte_layout::load<std::uint32_t>(pos_ + byte_layout::kIdSize)};
            pos_ += byte_layout::kWeightedTargetSize;
            return true;
        }
        return read_id(id) && read_weight(weight);
    }

    // A byte length, then that many bytes of UTF-8. The view points into the
    // input, so the input must outlive it.
    bool read_text(std::string_view& out);

    // What made a read fail. Only meaningful after one.
    Error take_error() { return std::move(error_); }

  private:
    // The ids that the fast path does not take: short input or a length
    // other than 16. Always fails.
    bool read_odd_id();
    // Takes `length` bytes, or fails as end of data.
    bool take(std::uint64_t length, const std::uint8_t*& start);

    bool fail(ErrorKind kind, std::string detail = {});

    const std::uint8_t* pos_;
    const std::uint8_t* end_;
    Error error_{ErrorKind::end_of_data};
};

}  // namespace tavro
