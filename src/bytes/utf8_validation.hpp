// Finds the first fault in a byte string that should be UTF-8, and describes
// it. A sequence is judged by its longest valid prefix: overlong forms,
// surrogates (ED A0..BF) and code points above U+10FFFF are caught at the
// first byte that makes them so, exactly as a truncated sequence is caught at
// the byte that breaks it off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tavro {

struct Utf8Fault {
    enum class Kind {
        // A byte that cannot continue (or start) the sequence at `index`.
        kInvalidSequence,
        // The text ends inside an otherwise valid sequence at `index`.
        kIncompleteSequence,
    };
    Kind kind;
    // Offset of the first byte of the bad sequence.
    std::size_t index;
    // For kInvalidSequence: how many bytes of the sequence were valid before
    // the offending byte, at least 1 (a bad lead byte counts as one), at most
    // 3. Zero for kIncompleteSequence.
    std::size_t valid_prefix_length;
};

// The first fault in `data`, or nothing when all `size` bytes are UTF-8.
std::optional<Utf8Fault> find_utf8_fault(const std::uint8_t* data, std::size_t size) noexcept;

// "invalid utf-8 sequence of K bytes from index I" or
// "incomplete utf-8 byte sequence from index I".
std::string describe_utf8_fault(const Utf8Fault& fault);

}  // namespace tavro
