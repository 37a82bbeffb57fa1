// Sizes of the blocks the byte form is made of, and little-endian access to
// its fixed-width numbers. Every multi-byte number in the form is
// little-endian whatever the host's byte order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tavro::byte_layout {

inline constexpr std::size_t kCountSize = 8;                   // entry counts and byte lengths
inline constexpr std::size_t kIdBytes = 16;                    // the id itself
inline constexpr std::size_t kIdSize = kCountSize + kIdBytes;  // length 16, then the id
inline constexpr std::size_t kWeightSize = 4;                  // IEEE 754 binary32

// The four section counts of an empty diff.
inline constexpr std::size_t kSectionCountsSize = 4 * kCountSize;
// A node entry before its text bytes: id, then the text length.
inline constexpr std::size_t kNodeEntryHeadSize = kIdSize + kCountSize;
// A source entry of the edge sections before its targets: id, then the count.
inline constexpr std::size_t kSourceHeadSize = kIdSize + kCountSize;
// One target of a pending-edge source: id, then weight.
inline constexpr std::size_t kWeightedTargetSize = kIdSize + kWeightSize;

// Writes the unsigned integer `value` to `dest` and reads one from `src`,
// little-endian, whatever the host's byte order.
template <class UInt>
void store(std::uint8_t* dest, UInt value) noexcept {
    static_assert(std::is_unsigned_v<UInt>);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(dest, &value, sizeof value);
    } else {
        for (std::size_t i = 0; i < sizeof value; ++i) {
            dest[i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
}

template <class UInt>
UInt load(const std::uint8_t* src) noexcept {
    static_assert(std::is_unsigned_v<UInt>);
    UInt value = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&value, src, sizeof value);
    } else {
        for (std::size_t i = 0; i < sizeof value; ++i) {
            value |= static_cast<UInt>(static_cast<UInt>(src[i]) << (8 * i));
        }
    }
    return value;
}

}  // namespace tavro::byte_layout
