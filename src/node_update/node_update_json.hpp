// The JSON text in which a NodeUpdate travels inside the byte form.
#pragma once

#include <string>
#include <string_view>

#include "common/result.hpp"
#include "node_update/node_update.hpp"

namespace tavro {

// Appends the exact JSON text of `update` to `out`: members in field order,
// absent fields left out, no whitespace, a non-finite size written as null.
// Writing cannot fail.
void write_node_update_json(const NodeUpdate& update, std::string& out);

// Reads one complete JSON text (already known to be valid UTF-8) as a
// NodeUpdate, in one forward pass without recursion. On failure the error
// gives the kind of the first fault.
Result<NodeUpdate> read_node_update_json(std::string_view text);

// The same, read into `update`, which must be empty; after a failure it holds
// whatever was read before the fault.
Result<void> read_node_update_json(std::string_view text, NodeUpdate& update);

}  // namespace tavro
