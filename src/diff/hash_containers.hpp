// The hash map and set types behind every container of a diff, chosen here in
// one place. The model uses:
//   find, contains, end, try_emplace, insert_or_assign, operator[], insert,
//   erase(key), size, empty, clear, reserve, begin/end iteration (map entries
//   have .first / .second), copies and content equality.
// A table flooded by ids crafted against the hash turns into a tree in byte
// order (see flat_table.hpp).
// Flat tables keep a pending-edge map of a few entries in one small block and
// the map object itself to one pointer; an empty map allocates nothing.
#pragma once

#include "diff/flat_table_map.hpp"
#include "diff/id_hash.hpp"

namespace tavro {

template <class K, class V>
using HashMap = FlatMap<K, V, KeyHash<K>, std::equal_to<K>, KeyOrder<K>>;

template <class K>
using HashSet = FlatSet<K, KeyHash<K>, std::equal_to<K>, KeyOrder<K>>;

}  // namespace tavro
