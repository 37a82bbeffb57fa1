// Control bytes of the flat hash table and the 16-byte groups in which they
// are scanned. Every slot has one control byte: a full slot holds the low 7
// bits of its key's hash (0..127), anything else is negative, so "full" is a
// clear sign bit.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/portable.hpp"

namespace tavro::flat_table_detail {

using Ctrl = std::int8_t;

// Never used: a lookup may stop at the first window that holds one.
inline constexpr Ctrl kEmpty = -128;
// Erased, but a probe may have passed over it: lookups go on past it.
inline constexpr Ctrl kDeleted = -2;
// Filler after the control bytes of a table of at most one group, written
// where the window reads past them: neither full nor free.
inline constexpr Ctrl kPad = -1;

inline constexpr std::size_t kGroupWidth = 16;

// The part of the hash kept in the control byte. The home position is taken
// from the high bits (see home_of), so the two parts are independent.
inline Ctrl h2_of(std::uint64_t hash) noexcept {
    return static_cast<Ctrl>(hash & 0x7f);
}

// Maps the hash onto [0, capacity) for any capacity (multiply-shift range
// reduction), so capacities need not be powers of two.
//
// A table is walked in slot order, which follows home positions. Were the
// home the plain multiply-shift of the hash, inserting one table's walk into
// a smaller table that grows as it goes would feed it keys sorted by home
// and pile them all up at its start: quadratic time. So the hash is first
// scrambled by a bijection keyed on the capacity, which makes the home
// positions of tables of different sizes unrelated while staying a pure
// function of key and capacity (walk order still depends on history only).
inline std::size_t home_of(std::uint64_t hash, std::size_t capacity) noexcept {
    std::uint64_t scrambled = hash ^ (static_cast<std::uint64_t>(capacity) * 0x9e3779b97f4a7c15ULL);
    scrambled *= 0xbf58476d1ce4e5b9ULL;
    scrambled ^= scrambled >> 31;
    return static_cast<std::size_t>(portable::multiply_wide(scrambled, capacity).high);
}

// Bit i set = byte i of the group matched.
using Mask = portable::Bytes16::Mask;

inline std::size_t lowest_bit(Mask mask) noexcept {
    return static_cast<std::size_t>(std::countr_zero(mask));
}

// Sixteen consecutive control bytes, loaded unaligned.
class Group {
  public:
    explicit Group(const Ctrl* at) noexcept : bytes_(at) {}

    Mask match(Ctrl h2) const noexcept { return bytes_.equal(h2); }
    Mask match_empty() const noexcept { return bytes_.equal(kEmpty); }
    // Empty or deleted: the signed bytes below kPad.
    Mask match_free() const noexcept { return bytes_.less(kPad); }
    // Full: the bytes with a clear sign bit.
    Mask match_full() const noexcept { return ~bytes_.negative() & 0xffffu; }

  private:
    portable::Bytes16 bytes_;
};

}  // namespace tavro::flat_table_detail
