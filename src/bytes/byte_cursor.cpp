#include "bytes/byte_cursor.hpp"

#include "bytes/utf8_validation.hpp"

namespace tavro {

bool ByteCursor::read_text(std::string_view& out) noexcept {
    std::uint64_t length = 0;
    if (!read_count(length) || length > static_cast<std::uint64_t>(remaining())) {
        return false;
    }
    const auto size = static_cast<std::size_t>(length);
    if (!is_utf8(pos_, size)) {
        return false;
    }
    out = std::string_view(reinterpret_cast<const char*>(pos_), size);
    pos_ += size;
    return true;
}

}  // namespace tavro
