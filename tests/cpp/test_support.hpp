// Helpers shared by the C++ tests: readable ids and small diff builders.
#pragma once

#include <cstdint>

#include "diff/uuid.hpp"
#include "diff/uuid_graph_diff.hpp"

namespace tavro::testing {

// An id whose 16 bytes are all `fill`, or that carries `n` in its last bytes.
inline Uuid id_of(std::uint8_t fill) {
    Uuid id;
    id.bytes.fill(fill);
    return id;
}

inline Uuid counter_id(std::uint64_t n) {
    Uuid id;
    for (std::size_t i = 0; i < 8; ++i) {
        id.bytes[15 - i] = static_cast<std::uint8_t>(n >> (8 * i));
    }
    return id;
}

inline NodeUpdate label_update(const char* label) {
    NodeUpdate update;
    update.label = label;
    return update;
}

}  // namespace tavro::testing
