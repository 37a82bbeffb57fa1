// The one instantiation the system uses: Uuid ids, NodeUpdate changes and
// 32-bit float weights. It lives with the byte form, the first layer that
// knows both the model and the node update, so that neither of those two
// includes the other.
#pragma once

#include "common/uuid.hpp"
#include "common/weight.hpp"
#include "diff/graph_diff.hpp"
#include "node_update/node_update.hpp"

namespace tavro {

using Diff = GraphDiff<Uuid, NodeUpdate, Weight>;

extern template struct EdgeDiff<Uuid, Weight>;
extern template struct GraphDiff<Uuid, NodeUpdate, Weight>;

}  // namespace tavro
