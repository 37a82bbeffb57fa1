// The one instantiation the system uses: Uuid ids, NodeUpdate changes and
// 32-bit float weights.
#pragma once

#include "common/uuid.hpp"
#include "diff/graph_diff.hpp"
#include "node_update/node_update.hpp"

namespace tavro {

using Diff = GraphDiff<Uuid, NodeUpdate, float>;

}  // namespace tavro

namespace tavro {

extern template struct EdgeDiff<Uuid, float>;
extern template struct GraphDiff<Uuid, NodeUpdate, float>;

}  // namespace tavro
