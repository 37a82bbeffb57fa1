// A text written as a JSON string: quoted, with exactly the characters that
// JSON forbids raw (the quote, the backslash and U+0000 to U+001F) escaped and
// every other byte, non-ASCII and U+007F included, copied as it is.
#pragma once

#include <cstddef>
#include <string_view>

namespace tavro {

// Characters needed for `text` written as a JSON string, quotes included.
// Saturates at the largest size_t instead of wrapping.
std::size_t json_string_size(std::string_view text) noexcept;

// Writes `text` as a JSON string to `out`, which must have room for
// json_string_size(text) characters; returns the end of what was written.
char* write_json_string(std::string_view text, char* out) noexcept;

}  // namespace tavro
