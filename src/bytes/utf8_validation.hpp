// Whether a byte string is UTF-8. A sequence is judged by its longest valid
// prefix: overlong forms, surrogates (ED A0..BF) and code points above
// U+10FFFF are refused at the first byte that makes them so, exactly as a
// truncated sequence is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavro {

bool is_utf8(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace tavro
