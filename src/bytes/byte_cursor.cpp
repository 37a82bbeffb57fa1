#include "bytes/byte_cursor.hpp"

#include <string>
#include <utility>

#include "bytes/utf8_validation.hpp"

namespace tavro {

bool ByteCursor::read_text(std::string_view& out) {
    std::uint64_t length = 0;
    const std::uint8_t* start = nullptr;
    if (!read_count(length) || !take(length, start)) {
        return false;
    }
    // `take` has checked that the length fits in what is left of the input.
    const auto size = static_cast<std::size_t>(length);
    if (!is_utf8(start, size)) {
        return fail(ErrorKind::invalid_utf8);
    }
    out = std::string_view(reinterpret_cast<const char*>(start), size);
    return true;
}

bool ByteCursor::read_odd_id() {
    std::uint64_t length = 0;
    const std::uint8_t* start = nullptr;
    if (!read_count(length) || !take(length, start)) {
        return false;
    }
    // A length that runs past the end has failed above as end of data, even
    // when it is not 16.
    return fail(ErrorKind::id_length,
                "invalid length: expected 16 bytes, found " + std::to_string(length));
}

bool ByteCursor::take(std::uint64_t length, const std::uint8_t*& start) {
    if (length > static_cast<std::uint64_t>(remaining())) {
        return fail(ErrorKind::end_of_data);
    }
    start = pos_;
    pos_ += static_cast<std::size_t>(length);
    return true;
}

bool ByteCursor::fail(ErrorKind kind, std::string detail) {
    error_ = Error{kind, std::move(detail)};
    return false;
}

}  // namespace tavro
