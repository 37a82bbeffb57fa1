// What standard C++20 lacks and compilers offer: a 64x64-bit multiply's full
// product, overflow-checked arithmetic, cache prefetch, byte swap and the scan
// of sixteen bytes at once. This is the one file that names a compiler's
// builtins or a target's intrinsics; everything else uses these functions.
//
// Each has a GCC/Clang branch, an MSVC branch and a standard C++ fallback
// that any other compiler takes. Defining TAVRO_PORTABLE_FALLBACKS (CMake
// option TAVRO_PORTABLE_FALLBACKS) forces the fallbacks everywhere, so that
// the code an unknown compiler takes is built and tested on this one. Every
// branch computes the same values: only speed differs.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#if !defined(TAVRO_PORTABLE_FALLBACKS)
#if defined(__GNUC__) || defined(__clang__)
#define TAVRO_GNU_BUILTINS 1
#elif defined(_MSC_VER)
#define TAVRO_MSVC_INTRINSICS 1
#include <intrin.h>
#endif
#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64) || \
    (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define TAVRO_SSE2 1
#include <emmintrin.h>
#endif
#endif

namespace tavro::portable {

// The 128-bit product a * b as two 64-bit halves.
struct WideProduct {
    std::uint64_t low;
    std::uint64_t high;
};

inline WideProduct multiply_wide(std::uint64_t a, std::uint64_t b) noexcept {
#if defined(TAVRO_GNU_BUILTINS) && defined(__SIZEOF_INT128__)
    __extension__ using U128 = unsigned __int128;
    const U128 product = static_cast<U128>(a) * b;
    return {static_cast<std::uint64_t>(product), static_cast<std::uint64_t>(product >> 64)};
#elif defined(TAVRO_MSVC_INTRINSICS) && (defined(_M_X64) || defined(_M_ARM64))
    return {a * b, __umulh(a, b)};
#else
    // Schoolbook on 32-bit halves; no partial sum below can wrap.
    const std::uint64_t a_low = a & 0xffffffffu;
    const std::uint64_t a_high = a >> 32;
    const std::uint64_t b_low = b & 0xffffffffu;
    const std::uint64_t b_high = b >> 32;
    const std::uint64_t low_low = a_low * b_low;
    const std::uint64_t high_low = a_high * b_low;
    const std::uint64_t low_high = a_low * b_high;
    const std::uint64_t middle = (low_low >> 32) + (high_low & 0xffffffffu) + low_high;
    return {a * b, a_high * b_high + (high_low >> 32) + (middle >> 32)};
#endif
}

// `out` = a + b; true when the exact sum does not fit (`out` then wraps).
template <class UInt>
bool add_overflows(UInt a, UInt b, UInt& out) noexcept {
    static_assert(std::is_unsigned_v<UInt>);
#if defined(TAVRO_GNU_BUILTINS)
    return __builtin_add_overflow(a, b, &out);
#else
    out = static_cast<UInt>(a + b);
    return out < a;
#endif
}

// `out` = a * b; true when the exact product does not fit.
template <class UInt>
bool multiply_overflows(UInt a, UInt b, UInt& out) noexcept {
    static_assert(std::is_unsigned_v<UInt>);
#if defined(TAVRO_GNU_BUILTINS)
    return __builtin_mul_overflow(a, b, &out);
#else
    out = static_cast<UInt>(a * b);
    return a != 0 && b > std::numeric_limits<UInt>::max() / a;
#endif
}

// Starts loading the cache line that holds `address` (for reading). Never
// faults, whatever the address: a null or stale pointer is harmless.
inline void prefetch(const void* address) noexcept {
#if defined(TAVRO_GNU_BUILTINS)
    __builtin_prefetch(address);
#elif defined(TAVRO_MSVC_INTRINSICS) && defined(TAVRO_SSE2)
    _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#elif defined(TAVRO_MSVC_INTRINSICS) && defined(_M_ARM64)
    __prefetch(address);
#else
    static_cast<void>(address);
#endif
}

inline std::uint64_t byte_swap(std::uint64_t value) noexcept {
#if defined(TAVRO_GNU_BUILTINS)
    return __builtin_bswap64(value);
#elif defined(TAVRO_MSVC_INTRINSICS)
    return _byteswap_uint64(value);
#else
    value = (value & 0x00000000ffffffffULL) << 32 | value >> 32;
    value = (value & 0x0000ffff0000ffffULL) << 16 | (value >> 16 & 0x0000ffff0000ffffULL);
    return (value & 0x00ff00ff00ff00ffULL) << 8 | (value >> 8 & 0x00ff00ff00ff00ffULL);
#endif
}

// The eight bytes at `bytes` as a little-endian or a big-endian number,
// whatever the host's byte order.
inline std::uint64_t load_little_endian(const void* bytes) noexcept {
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        value = byte_swap(value);
    }
    return value;
}

inline std::uint64_t load_big_endian(const void* bytes) noexcept {
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::little) {
        value = byte_swap(value);
    }
    return value;
}

// Sixteen signed bytes, loaded unaligned, compared all at once. Each
// comparison returns a mask whose bit i is set when byte i matches.
class Bytes16 {
  public:
    using Mask = std::uint32_t;

#if defined(TAVRO_SSE2)
    explicit Bytes16(const std::int8_t* at) noexcept
        : lanes_(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at))) {}

    Mask equal(std::int8_t value) const noexcept {
        return mask_of(_mm_cmpeq_epi8(_mm_set1_epi8(value), lanes_));
    }
    Mask less(std::int8_t value) const noexcept {
        return mask_of(_mm_cmpgt_epi8(_mm_set1_epi8(value), lanes_));
    }
    Mask negative() const noexcept { return mask_of(lanes_); }

  private:
    static Mask mask_of(__m128i lanes) noexcept {
        return static_cast<Mask>(_mm_movemask_epi8(lanes));
    }
    __m128i lanes_;
#else
    // Two 64-bit words, byte i of the group at bits 8i..8i+7 of its word
    // whatever the host's byte order. Each comparison sets the top bit of
    // every matching byte exactly (no carry crosses from byte to byte) and
    // then gathers the eight top bits of a word into eight adjacent bits.
    explicit Bytes16(const std::int8_t* at) noexcept
        : low_(load_little_endian(at)), high_(load_little_endian(at + 8)) {}

    Mask equal(std::int8_t value) const noexcept {
        const std::uint64_t pattern = kOnes * static_cast<std::uint8_t>(value);
        return gather(zero_bytes(low_ ^ pattern), zero_bytes(high_ ^ pattern));
    }
    // Signed: byte < value.
    Mask less(std::int8_t value) const noexcept {
        return gather(below(low_, value), below(high_, value));
    }
    Mask negative() const noexcept { return gather(low_ & kTops, high_ & kTops); }

  private:
    static constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    static constexpr std::uint64_t kTops = 0x8080808080808080ULL;
    static constexpr std::uint64_t kLows = 0x7f7f7f7f7f7f7f7fULL;

    // The top bit of each byte that is zero.
    static std::uint64_t zero_bytes(std::uint64_t word) noexcept {
        return ~(((word & kLows) + kLows) | word | kLows);
    }

    // The top bit of each byte that is below `value` as signed bytes: with
    // the sign bits flipped the order is the unsigned one, decided by the top
    // bits where they differ and by the low seven bits where they agree.
    static std::uint64_t below(std::uint64_t word, std::int8_t value) noexcept {
        const auto bound = static_cast<std::uint8_t>(static_cast<std::uint8_t>(value) ^ 0x80u);
        const std::uint64_t flipped = word ^ kTops;
        // (low seven bits | 0x80) - bound's low seven bits keeps its top bit
        // exactly when the byte's low bits are not below the bound's.
        const std::uint64_t low_below = ~((flipped | kTops) - kOnes * (bound & 0x7fu)) & kTops;
        return (bound & 0x80u) != 0 ? (~flipped & kTops) | low_below : ~flipped & low_below;
    }

    // Bits 7, 15, ..., 63 of each word become bits 0-7 and 8-15: the
    // multiplier places top bit i at bit 56 + i, and no two partial products
    // meet at one position, so nothing carries.
    static Mask gather(std::uint64_t low_tops, std::uint64_t high_tops) noexcept {
        constexpr std::uint64_t kGather = 0x0102040810204080ULL;
        return static_cast<Mask>(((low_tops >> 7) * kGather) >> 56 |
                                 (((high_tops >> 7) * kGather) >> 56) << 8);
    }

    std::uint64_t low_;
    std::uint64_t high_;
#endif
};

}  // namespace tavro::portable
