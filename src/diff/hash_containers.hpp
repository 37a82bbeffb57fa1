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

// Items that wait kAhead places between being loaded (before push) and being
// visited: a walk over items that point elsewhere in the heap (a table of
// tables, long strings, the heads of scattered targets) misses on each in no
// order the hardware can guess, and loading ahead keeps several misses in
// flight at once. visit returns false to stop.
template <class T, std::size_t kAhead>
class LoadedAhead {
  public:
    // Queues `item`, visiting the one kAhead places before it; false if that
    // visit returned false.
    template <class Visit>
    bool push(const T& item, Visit& visit) {
        T& oldest = waiting_[count_ % kAhead];
        if (count_ >= kAhead && !visit(oldest)) {
            return false;
        }
        oldest = item;
        ++count_;
        return true;
    }

    // Visits the items still waiting, oldest first.
    template <class Visit>
    bool drain(Visit& visit) {
        for (std::size_t i = count_ > kAhead ? count_ - kAhead : 0; i < count_; ++i) {
            if (!visit(waiting_[i % kAhead])) {
                return false;
            }
        }
        return true;
    }

  private:
    T waiting_[kAhead];
    std::size_t count_ = 0;
};

// Calls visit(entry) for every entry in walk order until it returns false,
// and load(entry) kAhead entries before. The walk runs kAhead entries ahead
// of the visits, so visit must not insert into or erase from `table`.
// Returns whether every visit returned true.
template <std::size_t kAhead, class Table, class Load, class Visit>
bool walk_loading_ahead(Table& table, Load load, Visit visit) {
    using Entry = std::remove_reference_t<decltype(*table.begin())>;
    LoadedAhead<Entry*, kAhead> ahead;
    auto visit_entry = [&](Entry* entry) { return visit(*entry); };
    for (auto& entry : table) {
        load(entry);
        if (!ahead.push(&entry, visit_entry)) {
            return false;
        }
    }
    return ahead.drain(visit_entry);
}

}  // namespace tavro
