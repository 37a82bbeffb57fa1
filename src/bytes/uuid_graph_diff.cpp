// Compiles every operation of the system's one instantiation once, here,
// rather than in each user.
#include "bytes/uuid_graph_diff.hpp"

namespace tavro {

template struct EdgeDiff<Uuid, Weight>;
template struct GraphDiff<Uuid, NodeUpdate, Weight>;

}  // namespace tavro
