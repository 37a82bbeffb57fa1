// Passing over a JSON value that is not kept: it is checked against the JSON
// grammar but neither stored nor converted, and however deeply it nests it
// costs no call stack.
#pragma once

#include "node_update/json_cursor.hpp"

namespace tavro {

// Consumes the value that starts at the next non-whitespace character.
[[nodiscard]] bool skip_json_value(JsonCursor& cursor);

}  // namespace tavro
