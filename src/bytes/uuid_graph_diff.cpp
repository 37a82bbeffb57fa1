// Compiles every operation of the system's one instantiation once, here,
// rather than in each user.
#include "bytes/uuid_graph_diff.hpp"

namespace tavro {

template struct EdgeDiff<Uuid, float>;
template struct GraphDiff<Uuid, NodeUpdate, float>;

}  // namespace tavro
