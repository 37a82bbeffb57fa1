// The bytes a JSON string cannot hold as themselves: the quote, the
// backslash and the control characters below 0x20. The reader ends a run of
// plain text at them and the writer escapes them, so both find them here.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tavro::json_string_detail {

constexpr std::array<bool, 256> make_run_stops() {
    std::array<bool, 256> stops{};
    for (std::size_t c = 0; c < 0x20; ++c) {
        stops[c] = true;
    }
    stops['"'] = true;
    stops['\\'] = true;
    return stops;
}

inline constexpr std::array<bool, 256> run_stops = make_run_stops();

inline bool stops_run(char c) noexcept {
    return run_stops[static_cast<std::uint8_t>(c)];
}

// The first byte from `p` on that ends a run of plain text, or `end`. Eight
// bytes at a time where the host is little-endian: in each word, a byte that
// is a quote, a backslash or below 0x20 gets its top bit set in `stops`.
// Bits above the lowest true one may be false alarms (borrows), so only the
// lowest is used.
inline const char* find_run_stop(const char* p, const char* end) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t ones = 0x0101010101010101ULL;
        constexpr std::uint64_t tops = 0x8080808080808080ULL;
        while (end - p >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p, sizeof word);
            const std::uint64_t quotes = word ^ (ones * '"');
            const std::uint64_t backslashes = word ^ (ones * '\\');
            const std::uint64_t stops = ((quotes - ones) & ~quotes) |
                                        ((backslashes - ones) & ~backslashes) |
                                        ((word - ones * 0x20) & ~word);
            if ((stops & tops) != 0) {
                return p + std::countr_zero(stops & tops) / 8;
            }
            p += 8;
        }
    }
    while (p != end && !stops_run(*p)) {
        ++p;
    }
    return p;
}

}  // namespace tavro::json_string_detail
