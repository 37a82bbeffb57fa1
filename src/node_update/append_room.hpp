// Room at the end of a text buffer, made once and then filled through a
// pointer, so that a writer that knows its size up front pays for one growth.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace tavro {

// Extends `out` by `count` characters and returns where they start. A count
// that cannot fit is the same condition as a failed allocation.
inline char* append_room(std::string& out, std::size_t count) {
    const std::size_t start = out.size();
    if (count > out.max_size() - start) {
        throw std::length_error("text buffer would exceed its maximum size");
    }
    out.resize(start + count);
    return out.data() + start;
}

}  // namespace tavro
