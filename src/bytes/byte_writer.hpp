// Fills a buffer of known room front to back. Each entry first claims its
// whole size, one bounds check per entry, and then writes unchecked into the
// claimed room; a claim past the end fails, so a size that no longer
// matches the data can never write outside the buffer. Every caller stops at
// the first failed claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bytes/byte_layout.hpp"
#include "common/uuid.hpp"
#include "common/weight.hpp"

namespace tavro {

class ByteWriter {
  public:
    ByteWriter(std::uint8_t* begin, std::size_t length) noexcept
        : begin_(begin), pos_(begin), end_(begin + length) {}

    // Room for `bytes` more bytes, or nullptr when fewer are left.
    std::uint8_t* claim(std::size_t bytes) noexcept {
        if (bytes > static_cast<std::size_t>(end_ - pos_)) {
            return nullptr;
        }
        std::uint8_t* room = pos_;
        pos_ += bytes;
        return room;
    }

    // Where the next claim would start, when at least `bytes` bytes are
    // left, so that an entry known only up to that length can be written
    // first and claimed after; nullptr otherwise.
    std::uint8_t* peek(std::size_t bytes) const noexcept {
        return bytes > static_cast<std::size_t>(end_ - pos_) ? nullptr : pos_;
    }

    // The bytes claimed so far.
    std::size_t written() const noexcept { return static_cast<std::size_t>(pos_ - begin_); }

  private:
    std::uint8_t* begin_;
    std::uint8_t* pos_;
    std::uint8_t* end_;
};

// Writers for the blocks of the form into claimed room; each returns the
// position just after what it wrote.
namespace put {

inline std::uint8_t* count(std::uint8_t* dest, std::uint64_t value) noexcept {
    byte_layout::store(dest, value);
    return dest + byte_layout::kCountSize;
}

inline std::uint8_t* id(std::uint8_t* dest, const Uuid& id) noexcept {
    byte_layout::store<std::uint64_t>(dest, byte_layout::kIdBytes);
    std::memcpy(dest + byte_layout::kCountSize, id.bytes.data(), byte_layout::kIdBytes);
    return dest + byte_layout::kIdSize;
}

// The stored bit pattern goes out unchanged: NaN payloads and the sign of
// zero survive.
inline std::uint8_t* weight(std::uint8_t* dest, Weight value) noexcept {
    byte_layout::store(dest, value.bits);
    return dest + byte_layout::kWeightSize;
}

}  // namespace put

}  // namespace tavro
