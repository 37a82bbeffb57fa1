// A text written as a JSON string: quoted, with exactly the characters that
// JSON forbids raw (the quote, the backslash and U+0000 to U+001F) escaped and
// every other byte, non-ASCII and U+007F included, copied as it is.
#pragma once

#include <string_view>

namespace tavro {

// Writes `text` as a JSON string to `out`, which must have room for six
// characters per byte of `text` (\u00XX) and the two quotes; returns the end
// of what was written.
char* write_json_string(std::string_view text, char* out) noexcept;

}  // namespace tavro
