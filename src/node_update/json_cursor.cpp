#include "node_update/json_cursor.hpp"

#include <charconv>
#include <cstdint>

namespace tavro {

bool JsonCursor::read_literal(std::string_view word) {
    for (const char expected : word) {
        if (here_ == end_) {
            return fail("EOF while parsing a value");
        }
        if (*here_ != expected) {
            return fail("expected ident");
        }
        ++here_;
    }
    return true;
}

bool JsonCursor::fail_at(const char* at, std::string_view description) {
    fault_.assign(description);
    fault_at_ = at;
    return false;
}

Error JsonCursor::error() const {
    // Lines are counted by line feeds; columns count characters, not bytes,
    // from the start of the line, both from 1.
    std::size_t line = 1;
    std::size_t column = 1;
    for (const char* p = begin_; p != fault_at_; ++p) {
        const auto byte = static_cast<std::uint8_t>(*p);
        if (byte == '\n') {
            ++line;
            column = 1;
        } else if ((byte & 0xc0) != 0x80) {
            ++column;
        }
    }
    Error error{fault_};
    char digits[24];
    error.description += " at line ";
    error.description.append(digits, std::to_chars(digits, digits + sizeof digits, line).ptr);
    error.description += " column ";
    error.description.append(digits, std::to_chars(digits, digits + sizeof digits, column).ptr);
    return error;
}

}  // namespace tavro
