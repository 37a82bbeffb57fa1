// Entries in key order in a B+-tree, for hash tables flooded by crafted keys
// (see flat_table.hpp). Leaves hold up to kLeafWidth entries side by side in
// key order and are chained for walks; inner nodes hold up to kFanout children
// and the keys that separate them. Against a node per entry (std::map) this
// follows one pointer per level instead of one per entry, and saves the
// per-node pointers: after random inserts leaves are about 3/4 full (an
// id -> float entry then takes 29 bytes against 64), after a build full.
//
// Worst case, whoever chose the keys, with n entries: find, insert and erase
// cost O(log n) key comparisons and move at most a node's worth of entries
// per level; a walk costs O(n). Nodes split in halves (so every inner node
// but the root has at least kFanout / 2 children) and an insert into a full
// leaf first tries to pass an entry on to its right sibling. An erase never
// merges nodes and may leave leaves empty; once leaves outnumber those of a
// tree a quarter full, the tree is rebuilt packed (O(n), at most once per n/2
// erases). So there are at most n + 1 leaves, the height is at most
// 1 + log(n + 1) / log(kFanout / 2), and leaves are at least half full on
// average while only inserts happen, a quarter full after any erase. A
// rebuild that cannot get memory is skipped and tried again at the next erase.
//
// Iterators are (leaf, index): inserting or erasing invalidates them. Only
// allocation and the entries' own constructors throw, and then the tree is
// as it was.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/portable.hpp"

namespace tavro {

// `Slots` gives key_type (trivially copyable), value_type and key(entry), as
// for FlatTable. Nodes take about kNodeBytes (allocator overhead included).
template <class Slots, class Less, std::size_t kNodeBytes>
class OrderedTree {
  public:
    using key_type = typename Slots::key_type;
    using value_type = typename Slots::value_type;

  private:
    static constexpr std::size_t kAllocatorOverhead = 8;
    static constexpr std::size_t kLeafHeader =
        (sizeof(void*) + sizeof(std::uint32_t) + alignof(value_type) - 1) / alignof(value_type) *
        alignof(value_type);
    static constexpr std::size_t kLeafWidth = std::max<std::size_t>(
        4, (kNodeBytes - kAllocatorOverhead - kLeafHeader) / sizeof(value_type));
    // One key and child more than kFanout fit: an inner node takes the child
    // that overflows it, then splits.
    static constexpr std::size_t kFanout =
        std::max<std::size_t>(4, (kNodeBytes - kAllocatorOverhead - 2 * sizeof(void*)) /
                                     (sizeof(key_type) + sizeof(void*)));
    // Every inner node but the root has two children or more, and there are
    // at most 2^32 leaves.
    static constexpr std::size_t kMaxHeight = 34;

    struct Leaf {
        Leaf* next;
        std::uint32_t count;
        alignas(value_type) unsigned char bytes[kLeafWidth * sizeof(value_type)];

        value_type* entries() noexcept {
            return std::launder(reinterpret_cast<value_type*>(bytes));
        }
        const key_type& key(std::size_t i) noexcept { return Slots::key(entries()[i]); }
    };
    struct Inner {
        std::uint32_t count;  // children; keys[i] separates child[i] from child[i + 1]
        key_type keys[kFanout];
        void* child[kFanout + 1];
    };
    // The inner nodes passed on the way down and the child taken in each,
    // by level (leaves are level 0).
    struct Path {
        Inner* node[kMaxHeight + 1];
        std::uint32_t index[kMaxHeight + 1];
    };

  public:
    template <class Entry>
    class Iterator {
      public:
        Iterator() noexcept = default;
        template <class Other, class = std::enable_if_t<std::is_same_v<const Other, Entry> &&
                                                        !std::is_same_v<Other, Entry>>>
        Iterator(const Iterator<Other>& other) noexcept
            : leaf_(other.leaf_), index_(other.index_) {}

        Entry& operator*() const noexcept { return leaf_->entries()[index_]; }
        Entry* operator->() const noexcept { return &**this; }
        Iterator& operator++() noexcept {
            *this = first_from(leaf_, index_ + 1);
            return *this;
        }
        Iterator operator++(int) noexcept {
            const Iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const Iterator&, const Iterator&) = default;

      private:
        friend class OrderedTree;
        template <class>
        friend class Iterator;
        Iterator(Leaf* leaf, std::uint32_t index) noexcept : leaf_(leaf), index_(index) {}

        // The entry at `index` of `leaf` or the first one after it (skipping
        // leaves left empty by erases), else the end.
        static Iterator first_from(Leaf* leaf, std::uint32_t index) noexcept {
            while (leaf != nullptr && index == leaf->count) {
                leaf = leaf->next;
                index = 0;
            }
            return leaf != nullptr ? Iterator(leaf, index) : Iterator();
        }

        Leaf* leaf_ = nullptr;
        std::uint32_t index_ = 0;
    };
    using iterator = Iterator<value_type>;
    using const_iterator = Iterator<const value_type>;

    OrderedTree() noexcept = default;
    OrderedTree(const OrderedTree&) = delete;
    OrderedTree& operator=(const OrderedTree&) = delete;
    ~OrderedTree() {
        if (root_ != nullptr) {
            free_subtree(root_, height_);
        }
    }

    void swap(OrderedTree& other) noexcept {
        std::swap(root_, other.root_);
        std::swap(first_, other.first_);
        std::swap(height_, other.height_);
        std::swap(leaves_, other.leaves_);
        std::swap(size_, other.size_);
        std::swap(less_, other.less_);
    }

    iterator begin() const noexcept { return iterator::first_from(first_, 0); }
    iterator end() const noexcept { return iterator(); }

    iterator find(const key_type& key) const noexcept {
        const iterator found = lower_bound(key);
        return found != end() && !less_(key, Slots::key(*found)) ? found : end();
    }

    // Inserts the entry built from `args` unless `key` is present. The entry
    // is built before any other moves, so `args` may refer to entries here.
    template <class... Args>
    std::pair<iterator, bool> try_emplace(const key_type& key, Args&&... args) {
        Path path;
        Leaf* leaf = root_ != nullptr ? leaf_for(key, &path) : nullptr;
        const std::uint32_t at = leaf != nullptr ? lower_bound_in(leaf, key) : 0;
        if (leaf != nullptr && at < leaf->count && !less_(key, leaf->key(at))) {
            return {iterator(leaf, at), false};
        }
        value_type entry(std::forward<Args>(args)...);
        if (leaf == nullptr) {
            leaf = new_leaf();
            root_ = first_ = leaf;
            leaves_ = 1;
        }
        iterator placed(leaf, at);
        if (leaf->count < kLeafWidth) {
            insert_at(leaf, at, std::move(entry));
        } else if (height_ == 0 || (placed = pass_right(leaf, at, path, entry)) == end()) {
            placed = split_and_insert(leaf, at, path, std::move(entry));
        }
        ++size_;
        return {placed, true};
    }

    std::size_t erase(const key_type& key) noexcept {
        const iterator found = find(key);
        if (found == end()) {
            return 0;
        }
        remove_at(found.leaf_, found.index_);
        rebuild_if_sparse();
        return 1;
    }

    // Fills the empty tree with `count` entries in key order, each built from
    // what take() returns; leaves are packed. Every node is allocated first, so
    // running out of memory leaves the source untouched.
    template <class Take>
    void build(std::size_t count, Take take) {
        if (count == 0) {
            return;
        }
        std::size_t level_nodes[kMaxHeight + 1];
        std::uint32_t levels = 0;
        std::size_t total = 0;
        for (std::size_t nodes = ceil_div(count, kLeafWidth);; nodes = ceil_div(nodes, kFanout)) {
            level_nodes[levels++] = nodes;
            total += nodes;
            if (nodes == 1) {
                break;
            }
        }
        std::vector<void*> made;
        const auto free_made = [&] {
            for (std::size_t i = 0; i < made.size(); ++i) {
                if (i < level_nodes[0]) {
                    free_leaf(static_cast<Leaf*>(made[i]));
                } else {
                    delete static_cast<Inner*>(made[i]);
                }
            }
        };
        try {
            made.reserve(total);
            for (std::size_t i = 0; i < total; ++i) {
                made.push_back(i < level_nodes[0] ? static_cast<void*>(new_leaf())
                                                  : static_cast<void*>(new Inner));
            }
            for (std::size_t i = 0; i < level_nodes[0]; ++i) {
                auto* leaf = static_cast<Leaf*>(made[i]);
                leaf->next = i + 1 < level_nodes[0] ? static_cast<Leaf*>(made[i + 1]) : nullptr;
                for (std::size_t n = share(count, level_nodes[0], i); leaf->count < n;) {
                    ::new (static_cast<void*>(leaf->entries() + leaf->count)) value_type(take());
                    ++leaf->count;
                }
            }
        } catch (...) {  // out of memory, or a copied entry could not be made
            free_made();
            throw;
        }
        void** below = made.data();
        for (std::uint32_t level = 1; level < levels; ++level) {
            void** nodes = below + level_nodes[level - 1];
            for (std::size_t i = 0, c = 0; i < level_nodes[level]; ++i) {
                auto* inner = static_cast<Inner*>(nodes[i]);
                inner->count = static_cast<std::uint32_t>(
                    share(level_nodes[level - 1], level_nodes[level], i));
                for (std::uint32_t j = 0; j < inner->count; ++j, ++c) {
                    inner->child[j] = below[c];
                    if (j > 0) {
                        inner->keys[j - 1] = min_key(below[c], level - 1);
                    }
                }
            }
            below = nodes;
        }
        root_ = below[0];
        first_ = static_cast<Leaf*>(made[0]);
        height_ = levels - 1;
        leaves_ = level_nodes[0];
        size_ = count;
    }

  private:
    static std::size_t ceil_div(std::size_t a, std::size_t b) noexcept { return (a + b - 1) / b; }
    // How many of `total` items part `i` of `parts` gets, spread evenly.
    static std::size_t share(std::size_t total, std::size_t parts, std::size_t i) noexcept {
        return total / parts + (i < total % parts ? 1 : 0);
    }

    static Leaf* new_leaf() {
        Leaf* leaf = new Leaf;
        leaf->next = nullptr;
        leaf->count = 0;
        return leaf;
    }
    static void free_leaf(Leaf* leaf) noexcept {
        std::destroy_n(leaf->entries(), leaf->count);
        delete leaf;
    }
    static void free_subtree(void* node, std::uint32_t level) noexcept {
        if (level == 0) {
            free_leaf(static_cast<Leaf*>(node));
            return;
        }
        auto* inner = static_cast<Inner*>(node);
        for (std::uint32_t i = 0; i < inner->count; ++i) {
            free_subtree(inner->child[i], level - 1);
        }
        delete inner;
    }
    static const key_type& min_key(void* node, std::uint32_t level) noexcept {
        for (; level > 0; --level) {
            node = static_cast<Inner*>(node)->child[0];
        }
        return static_cast<Leaf*>(node)->key(0);
    }

    // The leaf where `key` is or belongs; `path` (if given) records the way.
    Leaf* leaf_for(const key_type& key, Path* path) const noexcept {
        void* node = root_;
        for (std::uint32_t level = height_; level > 0; --level) {
            auto* inner = static_cast<Inner*>(node);
            const auto index = static_cast<std::uint32_t>(
                std::upper_bound(inner->keys, inner->keys + inner->count - 1, key, less_) -
                inner->keys);
            if (path != nullptr) {
                path->node[level] = inner;
                path->index[level] = index;
            }
            node = inner->child[index];
            prefetch(node, level > 1 ? sizeof(Inner) : sizeof(Leaf));
        }
        return static_cast<Leaf*>(node);
    }

    // Asks for all of a node's cache lines at once: a search in it would
    // otherwise wait for them one at a time.
    static void prefetch(const void* node, std::size_t bytes) noexcept {
        for (std::size_t offset = 0; offset < bytes; offset += 64) {
            portable::prefetch(static_cast<const char*>(node) + offset);
        }
    }

    std::uint32_t lower_bound_in(Leaf* leaf, const key_type& key) const noexcept {
        std::uint32_t lower = 0;
        std::uint32_t upper = leaf->count;
        while (lower < upper) {
            const std::uint32_t middle = (lower + upper) / 2;
            if (less_(leaf->key(middle), key)) {
                lower = middle + 1;
            } else {
                upper = middle;
            }
        }
        return lower;
    }

    iterator lower_bound(const key_type& key) const noexcept {
        if (root_ == nullptr) {
            return end();
        }
        Leaf* leaf = leaf_for(key, nullptr);
        return iterator::first_from(leaf, lower_bound_in(leaf, key));
    }

    // Entries are moved one by one (keys are const, so not assigned).
    static void relocate(value_type* from, value_type* to) noexcept {
        ::new (static_cast<void*>(to)) value_type(std::move(*from));
        from->~value_type();
    }

    static void insert_at(Leaf* leaf, std::uint32_t at, value_type&& entry) noexcept {
        value_type* entries = leaf->entries();
        for (std::uint32_t i = leaf->count; i > at; --i) {
            relocate(entries + i - 1, entries + i);
        }
        ::new (static_cast<void*>(entries + at)) value_type(std::move(entry));
        ++leaf->count;
    }

    void remove_at(Leaf* leaf, std::uint32_t at) noexcept {
        value_type* entries = leaf->entries();
        entries[at].~value_type();
        for (std::uint32_t i = at + 1; i < leaf->count; ++i) {
            relocate(entries + i, entries + i - 1);
        }
        --leaf->count;
        --size_;
    }

    // A full leaf makes room by moving its last entry (or the new one, if it
    // goes last) to the front of its right sibling under the same parent, if
    // that has room: leaves fill up more before they split.
    iterator pass_right(Leaf* leaf, std::uint32_t at, const Path& path,
                        value_type& entry) noexcept {
        Inner* parent = path.node[1];
        const std::uint32_t index = path.index[1];
        if (index + 1 == parent->count) {
            return end();
        }
        auto* right = static_cast<Leaf*>(parent->child[index + 1]);
        if (right->count == kLeafWidth) {
            return end();
        }
        const bool last = at == kLeafWidth;
        if (last) {
            insert_at(right, 0, std::move(entry));
        } else {
            insert_at(right, 0, std::move(leaf->entries()[kLeafWidth - 1]));
            leaf->entries()[kLeafWidth - 1].~value_type();
            --leaf->count;
            insert_at(leaf, at, std::move(entry));
        }
        // The separator only goes down: every key left of it stays left.
        parent->keys[index] = right->key(0);
        return last ? iterator(right, 0) : iterator(leaf, at);
    }

    [[gnu::noinline]] iterator split_and_insert(Leaf* leaf, std::uint32_t at, const Path& path,
                                                value_type&& entry) {
        // Nodes are allocated before anything changes: the full inner nodes
        // above the leaf split too, and a new root if they all do.
        std::uint32_t level = 1;
        while (level <= height_ && path.node[level]->count == kFanout) {
            ++level;
        }
        Inner* spare[kMaxHeight + 1];
        std::uint32_t spares = 0;
        Leaf* right = new_leaf();
        try {
            for (; spares < level - 1 + (level > height_ ? 1 : 0); ++spares) {
                spare[spares] = new Inner;
            }
        } catch (...) {
            delete right;
            while (spares > 0) {
                delete spare[--spares];
            }
            throw;
        }
        // Keys arriving in order fill leaves completely.
        const std::uint32_t keep =
            at == kLeafWidth && leaf->next == nullptr ? kLeafWidth : (kLeafWidth + 1) / 2;
        for (std::uint32_t i = keep; i < kLeafWidth; ++i) {
            relocate(leaf->entries() + i, right->entries() + (i - keep));
        }
        right->count = kLeafWidth - keep;
        leaf->count = keep;
        right->next = leaf->next;
        leaf->next = right;
        ++leaves_;
        const iterator placed = at < keep ? iterator(leaf, at) : iterator(right, at - keep);
        insert_at(placed.leaf_, placed.index_, std::move(entry));

        key_type separator = right->key(0);
        void* child = right;
        for (level = 1; level <= height_; ++level) {
            Inner* node = path.node[level];
            const std::uint32_t index = path.index[level];
            std::copy_backward(node->keys + index, node->keys + node->count - 1,
                               node->keys + node->count);
            std::copy_backward(node->child + index + 1, node->child + node->count,
                               node->child + node->count + 1);
            node->keys[index] = separator;
            node->child[index + 1] = child;
            if (++node->count <= kFanout) {
                return placed;
            }
            // Overflowed by one: the upper half goes to a new sibling, and
            // the key between the halves goes up.
            Inner* sibling = spare[--spares];
            const std::uint32_t stay = (kFanout + 1) / 2;
            sibling->count = kFanout + 1 - stay;
            std::copy(node->keys + stay, node->keys + kFanout, sibling->keys);
            std::copy(node->child + stay, node->child + kFanout + 1, sibling->child);
            separator = node->keys[stay - 1];
            node->count = stay;
            child = sibling;
        }
        Inner* root = spare[--spares];
        root->count = 2;
        root->keys[0] = separator;
        root->child[0] = root_;
        root->child[1] = child;
        root_ = root;
        ++height_;
        return placed;
    }

    // After an erase: rebuilds the tree packed once its leaves outnumber
    // those of a tree a quarter full.
    void rebuild_if_sparse() noexcept {
        if (leaves_ * kLeafWidth <= 4 * size_ + kLeafWidth) {
            return;
        }
        OrderedTree packed;
        packed.less_ = less_;
        try {
            packed.build(size_,
                         [it = begin()]() mutable -> value_type&& { return std::move(*it++); });
        } catch (const std::bad_alloc&) {
            return;
        }
        swap(packed);
    }

    void* root_ = nullptr;
    Leaf* first_ = nullptr;
    // Levels of inner nodes above the leaves.
    std::uint32_t height_ = 0;
    std::size_t leaves_ = 0;
    std::size_t size_ = 0;
    [[no_unique_address]] Less less_;
};

}  // namespace tavro
