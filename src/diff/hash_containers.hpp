// The hash map and set types behind every container of a diff, chosen here in
// one place. The model uses:
//   find, contains, end, try_emplace, insert_or_assign, operator[], insert,
//   erase(key), size, empty, clear, reserve, begin/end iteration (map entries
//   have .first / .second), and moves.
// A table flooded by ids crafted against the hash turns into a tree in byte
// order (see flat_table.hpp).
// Flat tables keep a pending-edge map of a few entries in one small block and
// the map object itself to one pointer; an empty map allocates nothing.
#pragma once

#include <cstddef>
#include <type_traits>

#include "diff/flat_table_map.hpp"
#include "diff/id_hash.hpp"

namespace tavro {

template <class K, class V>
using HashMap = FlatMap<K, V, KeyHash<K>, std::equal_to<K>, KeyOrder<K>>;

template <class K>
using HashSet = FlatSet<K, KeyHash<K>, std::equal_to<K>, KeyOrder<K>>;

// Calls visit(entry) for every entry in walk order until it returns false,
// and load(entry) kAhead entries before: a walk over entries that point
// elsewhere in the heap (a table of tables, long strings) misses on each in
// no order the hardware can guess, and loading ahead keeps several misses
// in flight at once. The walk runs kAhead entries ahead of the visits, so
// visit must not insert into or erase from `table`. Returns whether every
// visit returned true.
template <std::size_t kAhead, class Table, class Load, class Visit>
bool walk_loading_ahead(Table& table, Load load, Visit visit) {
    // Entries loaded and not yet visited; the oldest is at count % kAhead.
    std::remove_reference_t<decltype(*table.begin())>* waiting[kAhead];
    std::size_t count = 0;
    for (auto& entry : table) {
        load(entry);
        auto*& oldest = waiting[count % kAhead];
        if (count >= kAhead && !visit(*oldest)) {
            return false;
        }
        oldest = &entry;
        ++count;
    }
    for (std::size_t i = count > kAhead ? count - kAhead : 0; i < count; ++i) {
        if (!visit(*waiting[i % kAhead])) {
            return false;
        }
    }
    return true;
}

}  // namespace tavro
