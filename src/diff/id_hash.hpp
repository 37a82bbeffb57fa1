// The one hash every container of a diff uses for ids. Its keys are fixed
// constants, never seeded per process, diff or container, so the walk order of
// a container depends on nothing but the history of operations on it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/portable.hpp"
#include "common/uuid.hpp"

namespace tavro {

namespace id_hash_detail {

// 64x64 -> 128 multiply folded to 64 bits: every input bit reaches the middle
// of the product, so ids that differ only in one byte (counters, time-ordered
// ids with shared prefixes) still land far apart.
inline std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) noexcept {
    const portable::WideProduct product = portable::multiply_wide(a, b);
    return product.low ^ product.high;
}

inline constexpr std::uint64_t kKey0 = 0x2d358dccaa6c78a5ULL;
inline constexpr std::uint64_t kKey1 = 0x8bb84b93962eacc9ULL;
inline constexpr std::uint64_t kKey2 = 0x4b33a62ed433d4a3ULL;
inline constexpr std::uint64_t kKey3 = 0x4d5a2da51de1aa47ULL;

}  // namespace id_hash_detail

// Keyed 64-bit hash of all 16 bytes of an id, taken as two 8-byte halves
// read little-endian, so that every host computes the same hash and walks its
// tables in the same order.
inline std::uint64_t hash_id(const Uuid& id) noexcept {
    using namespace id_hash_detail;
    const std::uint64_t low = portable::load_little_endian(id.bytes.data());
    const std::uint64_t high = portable::load_little_endian(id.bytes.data() + 8);
    // Each half is mixed against a constant (never against the other half, so
    // no input can zero a multiplicand and collapse the hash).
    const std::uint64_t mixed_low = fold_multiply(low ^ kKey0, kKey1);
    const std::uint64_t mixed_high = fold_multiply(high ^ kKey2, kKey3);
    return fold_multiply(mixed_low ^ (mixed_high << 32 | mixed_high >> 32), kKey1 ^ kKey3);
}

// Hasher for the containers. Generic code names KeyHash<Id>; the system's one
// id type is Uuid.
template <class Id>
struct KeyHash;

template <>
struct KeyHash<Uuid> {
    std::uint64_t operator()(const Uuid& id) const noexcept { return hash_id(id); }
};

// Key order of a table in the ordered mode: ids in byte (memcmp) order, the
// same in every process. Compared as two big-endian halves: a memcmp call
// per comparison would cost more than the rest of a tree step.
template <class Id>
struct KeyOrder;

template <>
struct KeyOrder<Uuid> {
    bool operator()(const Uuid& a, const Uuid& b) const noexcept {
        const std::uint64_t a_high = big_endian_half(a, 0);
        const std::uint64_t b_high = big_endian_half(b, 0);
        if (a_high != b_high) {
            return a_high < b_high;
        }
        return big_endian_half(a, 8) < big_endian_half(b, 8);
    }

  private:
    static std::uint64_t big_endian_half(const Uuid& id, std::size_t offset) noexcept {
        return portable::load_big_endian(id.bytes.data() + offset);
    }
};

}  // namespace tavro
