// Helpers for the byte form tests: a builder that lays out byte strings block
// by block (remembering where each block lies, so tests can cut or corrupt
// the input at exact places) and a diff comparison that holds weights to
// their bit patterns.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diff/uuid_graph_diff.hpp"

namespace tavro::testing {

class ByteString {
  public:
    // Where each byte came from: a fixed-width number (count, length,
    // weight) or the body of an id or a text.
    enum class Part { kNumber, kBody };

    ByteString& count(std::uint64_t n) {
        count_offsets.push_back(bytes.size());
        return number(n, 8);
    }

    ByteString& id(const Uuid& id) { return id_with_length(16, id.bytes.data(), 16); }

    // An id block whose length field says `length` but which carries
    // `present` bytes (filled with 0x11).
    ByteString& odd_id(std::uint64_t length, std::size_t present) {
        const std::vector<std::uint8_t> fill(present, 0x11);
        return id_with_length(length, fill.data(), present);
    }

    ByteString& text(std::string_view text) {
        length_offsets.push_back(bytes.size());
        number(text.size(), 8);
        return body(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }

    ByteString& weight(float w) { return weight_bits(std::bit_cast<std::uint32_t>(w)); }
    ByteString& weight_bits(std::uint32_t bits) { return number(bits, 4); }

    ByteString& raw(std::vector<std::uint8_t> more) { return body(more.data(), more.size()); }

    // Overwrites the 8-byte field at `offset` with `value`.
    void patch_u64(std::size_t offset, std::uint64_t value) {
        for (std::size_t i = 0; i < 8; ++i) {
            bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }

    std::vector<std::uint8_t> bytes;
    std::vector<Part> parts;  // one per byte
    std::vector<std::size_t> count_offsets;
    std::vector<std::size_t> length_offsets;  // id and text length fields

  private:
    ByteString& number(std::uint64_t value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
            parts.push_back(Part::kNumber);
        }
        return *this;
    }

    ByteString& body(const std::uint8_t* data, std::size_t size) {
        bytes.insert(bytes.end(), data, data + size);
        parts.insert(parts.end(), size, Part::kBody);
        return *this;
    }

    ByteString& id_with_length(std::uint64_t length, const std::uint8_t* data, std::size_t size) {
        length_offsets.push_back(bytes.size());
        number(length, 8);
        return body(data, size);
    }
};

inline std::vector<std::uint8_t> zeros(std::size_t n) {
    return std::vector<std::uint8_t>(n, 0);
}

// Same content, weights compared bit for bit (NaN payloads and the sign of
// zero included); node changes compared field by field.
inline ::testing::AssertionResult same_content(const Diff& expected, const Diff& actual) {
    if (expected.new_or_updated_nodes != actual.new_or_updated_nodes) {
        return ::testing::AssertionFailure() << "node changes differ";
    }
    if (expected.deleted_nodes != actual.deleted_nodes) {
        return ::testing::AssertionFailure() << "deleted nodes differ";
    }
    if (expected.edges.deleted != actual.edges.deleted) {
        return ::testing::AssertionFailure() << "deleted edges differ";
    }
    const auto& want = expected.edges.new_or_updated;
    const auto& got = actual.edges.new_or_updated;
    if (want.size() != got.size()) {
        return ::testing::AssertionFailure() << "pending edge sources differ in number";
    }
    for (const auto& [source, targets] : want) {
        const auto found = got.find(source);
        if (found == got.end() || found->second.size() != targets.size()) {
            return ::testing::AssertionFailure() << "pending edge sources differ";
        }
        for (const auto& [target, weight] : targets) {
            const auto other = found->second.find(target);
            if (other == found->second.end() || std::bit_cast<std::uint32_t>(other->second) !=
                                                    std::bit_cast<std::uint32_t>(weight)) {
                return ::testing::AssertionFailure() << "pending edge or weight differs";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tavro::testing
