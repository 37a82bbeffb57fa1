// A node id: 16 bytes kept in the order the caller gave them. No bit of it is
// interpreted; ids are equal exactly when all 16 bytes are equal.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace tavro {

struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    static Uuid from_bytes(const void* sixteen_bytes) noexcept {
        Uuid id;
        std::memcpy(id.bytes.data(), sixteen_bytes, 16);
        return id;
    }

    friend bool operator==(const Uuid& a, const Uuid& b) noexcept {
        return std::memcmp(a.bytes.data(), b.bytes.data(), 16) == 0;
    }
};

static_assert(sizeof(Uuid) == 16 && alignof(Uuid) == 1, "ids are stored as plain byte arrays");

}  // namespace tavro
