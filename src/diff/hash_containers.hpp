// The hash map and set types behind every container of a diff. The model only
// uses the operations listed below, so the implementation can be swapped here
// in one place:
//   find, contains, end, try_emplace, insert_or_assign, erase(key),
//   size, empty, clear, reserve, begin/end iteration (map entries have
//   .first / .second).
#pragma once

#include <unordered_map>
#include <unordered_set>

#include "diff/id_hash.hpp"

namespace tavro {

template <class K, class V>
using HashMap = std::unordered_map<K, V, KeyHash<K>>;

template <class K>
using HashSet = std::unordered_set<K, KeyHash<K>>;

}  // namespace tavro
