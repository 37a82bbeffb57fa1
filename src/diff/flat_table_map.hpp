// Flat hash map and set: FlatTable with entries std::pair<const K, V> (map)
// or K (set), and the insertion calls of the standard unordered containers.
// The hasher must spread keys over all 64 bits: positions come from the high
// bits, the control byte from the low ones.
#pragma once

#include <functional>
#include <tuple>
#include <utility>

#include "diff/flat_table.hpp"

namespace tavro {

namespace flat_table_detail {

template <class K, class V>
struct MapSlots {
    using key_type = K;
    using value_type = std::pair<const K, V>;
    static constexpr bool kKeysOnly = false;
    static const K& key(const value_type& entry) noexcept { return entry.first; }
};

template <class K>
struct SetSlots {
    using key_type = K;
    using value_type = K;
    static constexpr bool kKeysOnly = true;
    static const K& key(const value_type& entry) noexcept { return entry; }
};

}  // namespace flat_table_detail

// Less orders keys in the ordered mode a flooded table moves into; Limits
// says when it moves (FloodLimits; tests lower it to reach that mode soon).
template <class K, class V, class Hash, class Eq = std::equal_to<K>, class Less = std::less<K>,
          class Limits = flat_table_detail::FloodLimits>
class FlatMap : public FlatTable<flat_table_detail::MapSlots<K, V>, Hash, Eq, Less, Limits> {
    using Base = FlatTable<flat_table_detail::MapSlots<K, V>, Hash, Eq, Less, Limits>;

  public:
    using Base::Base;
    using typename Base::iterator;
    using typename Base::value_type;

    // Builds V from `args` only if `key` is absent.
    template <class... Args>
    std::pair<iterator, bool> try_emplace(const K& key, Args&&... args) {
        return this->emplace_with_key(key, std::piecewise_construct, std::forward_as_tuple(key),
                                      std::forward_as_tuple(std::forward<Args>(args)...));
    }

    template <class M>
    std::pair<iterator, bool> insert_or_assign(const K& key, M&& value) {
        auto result = try_emplace(key, std::forward<M>(value));
        if (!result.second) {
            // Not inserted, so `value` was not consumed.
            result.first->second = std::forward<M>(value);
        }
        return result;
    }
};

template <class K, class Hash, class Eq = std::equal_to<K>, class Less = std::less<K>,
          class Limits = flat_table_detail::FloodLimits>
class FlatSet : public FlatTable<flat_table_detail::SetSlots<K>, Hash, Eq, Less, Limits> {
    using Base = FlatTable<flat_table_detail::SetSlots<K>, Hash, Eq, Less, Limits>;

  public:
    using Base::Base;
    using typename Base::iterator;

    std::pair<iterator, bool> insert(const K& key) { return this->emplace_with_key(key, key); }
};

}  // namespace tavro
