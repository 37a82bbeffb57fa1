// The JSON text in which a NodeUpdate travels inside the byte form: members
// in field order, absent fields left out, no whitespace, a non-finite size
// written as null.
#pragma once

#include <cstddef>
#include <string_view>

#include "node_update/node_update.hpp"

namespace tavro {

// The most characters the text of `update` can take, found from the lengths
// of its strings alone (each character counted as the six of \u00XX);
// saturates at the largest size_t.
std::size_t node_update_json_bound(const NodeUpdate& update) noexcept;

// Writes the text of `update` to `out`, which must have room for
// node_update_json_bound(update) characters, and returns its end.
char* write_node_update_json(const NodeUpdate& update, char* out) noexcept;

// Reads one complete JSON text (already known to be valid UTF-8) into
// `update`, which must be empty, in one forward pass without recursion. False
// for a text that is not a node update; `update` then holds whatever was read
// before the fault.
[[nodiscard]] bool read_node_update_json(std::string_view text, NodeUpdate& update);

}  // namespace tavro
