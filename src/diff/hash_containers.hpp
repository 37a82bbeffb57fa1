// The hash map and set types behind every container of a diff, chosen here in
// one place. The model uses:
//   find, contains, end, try_emplace, insert_or_assign, operator[], insert,
//   erase(key), size, empty, clear, reserve, begin/end iteration (map entries
//   have .first / .second), copies and content equality.
// Flat tables keep a pending-edge map of a few entries in one small block and
// the map object itself to one pointer; an empty map allocates nothing.
#pragma once

#include "diff/flat_table_map.hpp"
#include "diff/id_hash.hpp"

namespace tavro {

template <class K, class V>
using HashMap = FlatMap<K, V, KeyHash<K>>;

template <class K>
using HashSet = FlatSet<K, KeyHash<K>>;

}  // namespace tavro
