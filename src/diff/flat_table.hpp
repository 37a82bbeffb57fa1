// A flat open-addressing hash table: one heap block per table holding a small
// header, one control byte per slot and the slots themselves; the table object
// is a single pointer to that block, and an empty table owns no block.
//
// Two shapes share the block layout:
//   - up to 16 slots: all control bytes fit one group, so a lookup scans the
//     whole table at once and the table may be filled completely; an erase
//     simply frees the slot.
//   - more slots: a key starts at its home position (multiply-shift of the
//     hash, so any capacity works) and probes window by window (16 bytes at a
//     time, wrapping). At most 7/8 of the slots are used. An erase leaves a
//     tombstone unless no probe can have passed the slot.
// Capacities grow by about 1.25x while a table is filled, 1.5x under churn (by
// smaller steps up to one group), and are rounded up to use every byte of the
// allocation the allocator hands out anyway.
//
// The walk order depends only on the sequence of operations: hashes come from
// the key bytes alone and capacities from the sizes alone. Inserting into or
// erasing from a table may invalidate every iterator into it. clear()
// releases the block, leaving the table as if newly made.
//
// Flooding: the hash's keys are public, so ids can be crafted whose home
// positions pile up in one stretch, making every probe walk past all of them.
// Each probe counts its 16-slot windows; one probe past FloodLimits::
// kMaxWindows, or long probes far more frequent than in any benign table,
// move the table for good (until clear()) into an ordered mode: a B+-tree
// keyed by Less (for ids, byte order; see ordered_tree.hpp), O(log n) per
// operation whoever chose the keys. Its walk order is key order, so it too
// depends on the history alone.
//
// Rehashing copies const keys (entries are std::pair<const K, V>) and moves
// values. Allocation failures and impossible sizes throw (std::bad_alloc,
// std::length_error) as the standard containers do; nothing else throws.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/portable.hpp"
#include "diff/flat_table_ctrl.hpp"
#include "diff/ordered_tree.hpp"

namespace tavro {

namespace flat_table_detail {

struct Header {
    std::uint32_t size;
    // 0 marks the ordered mode: the block is then an OrderedBlock. To a
    // probe it looks like a one-group table whose window holds no control
    // byte: neither entries nor room, so lookups and inserts test the mode
    // only when the probe finds neither the key nor a free slot.
    std::uint32_t capacity;
    // Empty slots that may still be filled before the table must rehash.
    std::uint32_t growth_left;
    // Inserts that probed more than kLongWindows windows, less one per
    // tombstone left by an erase, since this block was made.
    std::uint32_t long_probes;
};
static_assert(sizeof(Header) == 16, "slots right after header and control bytes stay aligned");

inline constexpr std::size_t kMaxCapacity = UINT32_MAX;
// Typical allocator chunk: the request plus 8 bytes, rounded up to 16. Only
// used to choose capacities; any allocator works.
inline constexpr std::size_t kAllocatorOverhead = 8;
inline constexpr std::size_t kAllocatorGranule = 16;

constexpr std::size_t align_up(std::size_t n, std::size_t alignment) noexcept {
    return (n + alignment - 1) / alignment * alignment;
}

constexpr bool is_single_group(std::size_t capacity) noexcept {
    return capacity <= kGroupWidth;
}

constexpr std::size_t max_load(std::size_t capacity) noexcept {
    return is_single_group(capacity) ? capacity : capacity - capacity / 8;
}

// A probe window may start at any slot, so the first 15 control bytes are
// repeated after the last one. A table of one group has just its own: its
// window is loaded from the first control byte and whatever follows it (a
// block is never shorter than a window loaded from its last control byte),
// and the bytes past the capacity are masked off.
constexpr std::size_t ctrl_bytes(std::size_t capacity) noexcept {
    return is_single_group(capacity) ? capacity : capacity + kGroupWidth - 1;
}

// The first `count` bytes of a window (count <= 16): those of a one-group
// table that are control bytes (none for an ordered block), or those of the
// last group of a walk that are not the mirror.
constexpr Mask window_mask(std::size_t count) noexcept {
    return static_cast<Mask>((Mask{1} << count) - 1);
}

// When a table stops trusting the hash. Benign tables at 7/8 load peak at
// 38-52 windows for 1e5-1e7 keys and probe past 16 windows on about 2e-4 of
// their inserts; ids crafted against the hash exceed either by far.
struct FloodLimits {
    // One probe (insert or lookup) past this many windows switches at once.
    static constexpr std::uint32_t kMaxWindows = 128;
    // Probes longer than this count as long...
    static constexpr std::uint32_t kLongWindows = 16;
    // ...and more than kLongAllowance + size / kLongShare of them switch.
    static constexpr std::uint32_t kLongAllowance = 64;
    static constexpr std::uint32_t kLongShare = 64;
    // Bytes per node of the ordered mode's tree: wide enough that the levels
    // above the leaves stay few and in cache.
    static constexpr std::size_t kTreeNodeBytes = 1024;
};

// What a probe is for: a lookup, an insert (the key's slot, else the first
// free slot on its path), or placing a key known to be absent.
enum class ProbeFor { kFind, kInsert, kPlace };

// How a probe ends: the key is in `slot`; it is absent and `slot` is the
// first free slot on its path (inserts and placing); it is absent and no
// slot on its path is free (or the probe did not look for one); or the table
// no longer trusts the hash (see FloodLimits).
enum class Probed { kFound, kFree, kAbsent, kFlooded };

struct ProbeResult {
    Probed outcome;
    std::size_t slot;
};

}  // namespace flat_table_detail

// `Slots` says what a slot holds: key_type, value_type (the stored entry),
// kKeysOnly (entries may not be modified through iterators) and key(entry).
template <class Slots, class Hash, class Eq, class Less,
          class Limits = flat_table_detail::FloodLimits>
class FlatTable {
    using Header = flat_table_detail::Header;
    using Ctrl = flat_table_detail::Ctrl;
    using ProbeFor = flat_table_detail::ProbeFor;
    using Probed = flat_table_detail::Probed;
    using ProbeResult = flat_table_detail::ProbeResult;
    using Tree = OrderedTree<Slots, Less, Limits::kTreeNodeBytes>;

    struct OrderedBlock : Header {
        Tree tree;
    };
    static_assert(sizeof(OrderedBlock) >= sizeof(Header) + flat_table_detail::kGroupWidth,
                  "a probe of an ordered block loads one window after its header");

  public:
    using key_type = typename Slots::key_type;
    using value_type = typename Slots::value_type;
    using size_type = std::size_t;
    using hasher = Hash;

    static_assert(std::is_nothrow_move_constructible_v<value_type>,
                  "rehashing moves entries and must not fail halfway");
    static_assert(std::is_trivially_copyable_v<key_type>,
                  "a moved-from entry keeps its key, so a failed move can be undone");
    static_assert(alignof(value_type) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    static_assert(sizeof(value_type) <= (std::size_t{1} << 24), "block sizes must not overflow");

    // A walk takes the control bytes a group at a time: `full_` holds the
    // full slots of the group at `group_` not yet passed (the current entry
    // is the lowest), and `next_` is where the next group starts.
    template <class Entry>
    class Iterator {
        using Node = std::conditional_t<std::is_const_v<Entry>, typename Tree::const_iterator,
                                        typename Tree::iterator>;

      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::remove_const_t<Entry>;
        using difference_type = std::ptrdiff_t;
        using pointer = Entry*;
        using reference = Entry&;

        Iterator() noexcept = default;

        reference operator*() const noexcept { return *entry_; }
        pointer operator->() const noexcept { return entry_; }

        Iterator& operator++() noexcept {
            // In the ordered mode full_ stays 0.
            full_ &= full_ - 1;
            if (full_ != 0) [[likely]] {
                entry_ = group_entry_ + flat_table_detail::lowest_bit(full_);
            } else if (tree_ != nullptr) [[unlikely]] {
                *this = Iterator(++node_, tree_);
            } else {
                *this = first_from(next_, group_, group_entry_, ctrl_end_);
            }
            return *this;
        }

        friend bool operator==(const Iterator& a, const Iterator& b) noexcept {
            return a.entry_ == b.entry_;
        }

      private:
        friend class FlatTable;

        Iterator(Entry* entry, flat_table_detail::Mask full, const Ctrl* group, Entry* group_entry,
                 const Ctrl* next, const Ctrl* ctrl_end) noexcept
            : entry_(entry),
              full_(full),
              group_(group),
              group_entry_(group_entry),
              next_(next),
              ctrl_end_(ctrl_end) {}
        Iterator(Node node, const Tree* tree) noexcept {
            if (node != tree->end()) {
                entry_ = &*node;
                node_ = node;
                tree_ = tree;
            }
        }

        // The first entry from the group at `group` on, else the end. `ctrl`
        // is any control byte and `entry` its slot. The last group stops at
        // `ctrl_end`, before the mirror or the filler after it.
        static Iterator first_from(const Ctrl* group, const Ctrl* ctrl, Entry* entry,
                                   const Ctrl* ctrl_end) noexcept {
            using namespace flat_table_detail;
            for (; group < ctrl_end; group += kGroupWidth) {
                Mask full = Group(group).match_full();
                if (ctrl_end - group < static_cast<std::ptrdiff_t>(kGroupWidth)) {
                    full &= window_mask(static_cast<std::size_t>(ctrl_end - group));
                }
                if (full != 0) {
                    Entry* group_entry = entry + (group - ctrl);
                    return Iterator(group_entry + lowest_bit(full), full, group, group_entry,
                                    group + kGroupWidth, ctrl_end);
                }
            }
            return Iterator();
        }

        Entry* entry_ = nullptr;
        // Flat mode only.
        flat_table_detail::Mask full_ = 0;
        const Ctrl* group_ = nullptr;
        Entry* group_entry_ = nullptr;
        const Ctrl* next_ = nullptr;
        const Ctrl* ctrl_end_ = nullptr;
        // Ordered mode only.
        Node node_{};
        const Tree* tree_ = nullptr;
    };

    using iterator = Iterator<std::conditional_t<Slots::kKeysOnly, const value_type, value_type>>;
    using const_iterator = Iterator<const value_type>;

    FlatTable() noexcept = default;
    explicit FlatTable(const Hash& hash, const Eq& eq = Eq()) : hash_(hash), eq_(eq) {}
    // Nothing copies a table. Hasher and key-equal objects travel with the
    // entries they placed.
    FlatTable(const FlatTable&) = delete;
    FlatTable(FlatTable&& other) noexcept
        : block_(std::exchange(other.block_, nullptr)), hash_(other.hash_), eq_(other.eq_) {}
    FlatTable& operator=(const FlatTable& other) = delete;
    FlatTable& operator=(FlatTable&& other) noexcept {
        if (this != &other) {
            release();
            block_ = std::exchange(other.block_, nullptr);
            hash_ = other.hash_;
            eq_ = other.eq_;
        }
        return *this;
    }
    ~FlatTable() { release(); }

    size_type size() const noexcept { return block_ != nullptr ? block_->size : 0; }
    bool empty() const noexcept { return size() == 0; }
    // Slots in the current block (0 when the table owns none, or is ordered).
    size_type capacity() const noexcept { return block_ != nullptr ? block_->capacity : 0; }
    bool is_ordered() const noexcept { return block_ != nullptr && block_->capacity == 0; }

    // Starts loading the header and the first group of control bytes (all
    // that a lookup in a one-group table reads before the slot it matches),
    // which may straddle two cache lines: for a walk over a table of tables,
    // a few entries ahead (see walk_loading_ahead). An empty table may own
    // no block: there is nothing to load, and no address to compute.
    void load_block() const noexcept {
        if (block_ != nullptr) {
            portable::prefetch(block_);
            portable::prefetch(reinterpret_cast<const char*>(block_) + 31);
        }
    }

    // Starts loading the control bytes and the slot where a probe for `key`
    // begins, for a caller that knows its next keys a few steps ahead (as
    // a reader does), so that their misses overlap. Changes nothing. Always
    // inlined: GCC otherwise finds a call with no effects but prefetches and
    // drops it.
    [[gnu::always_inline]] void load_home(const key_type& key) const noexcept {
        if (block_ == nullptr || flat_table_detail::is_single_group(block_->capacity)) {
            return;
        }
        const std::size_t home = flat_table_detail::home_of(hash_of(key), block_->capacity);
        portable::prefetch(ctrl_of(block_) + home);
        portable::prefetch(slots_of(block_) + home);
    }

    iterator begin() noexcept {
        if (is_ordered()) {
            return iterator(tree().begin(), &tree());
        }
        return empty() ? end() : first<iterator>();
    }
    iterator end() noexcept { return iterator(); }
    const_iterator begin() const noexcept {
        if (is_ordered()) {
            return const_iterator(tree().begin(), &tree());
        }
        return empty() ? end() : first<const_iterator>();
    }
    const_iterator end() const noexcept { return const_iterator(); }

    // A lookup may move a flooded table into the ordered mode.
    iterator find(const key_type& key) {
        return block_ != nullptr ? find(key, hash_of(key)) : end();
    }
    // The same, for a caller that looks one key up in many tables (as
    // delete_node does in every source's map) and so hashes it once: `hash`
    // must be hasher()(key).
    iterator find(const key_type& key, std::uint64_t hash) {
        if (block_ == nullptr) {
            return end();
        }
        const ProbeResult probe = probe_for<ProbeFor::kFind>(block_, key, hash);
        if (probe.outcome == Probed::kFound) {
            return at<iterator>(probe.slot);
        }
        if (probe.outcome == Probed::kFlooded) [[unlikely]] {
            to_ordered();
        } else if (!ordered(block_)) [[likely]] {
            return end();
        }
        return iterator(tree().find(key), &tree());
    }
    bool contains(const key_type& key) { return find(key) != end(); }

    size_type erase(const key_type& key) {
        // An empty table is common (deleted_nodes, for one) and needs no hash.
        return block_ != nullptr ? erase(key, hash_of(key)) : 0;
    }
    // The same, for a caller that erases one key from many tables (as
    // delete_node does from every source's map) and so hashes it once:
    // `hash` must be hasher()(key).
    size_type erase(const key_type& key, std::uint64_t hash) {
        if (block_ == nullptr) {
            return 0;
        }
        const ProbeResult probe = probe_for<ProbeFor::kFind>(block_, key, hash);
        if (probe.outcome == Probed::kFound) {
            erase_at(probe.slot);
            return 1;
        }
        if (probe.outcome == Probed::kAbsent && !ordered(block_)) [[likely]] {
            return 0;
        }
        return erase_ordered(key);
    }

    // Drops every entry and the block; the table is flat again.
    void clear() noexcept { release(); }

    // Makes room for `count` entries in all, so that inserting up to that many
    // does not rehash (an ordered table has room for any count).
    void reserve(size_type count) {
        if (is_ordered() || count <= size() + (block_ != nullptr ? block_->growth_left : 0)) {
            return;
        }
        rehash_into(capacity_for(count));
    }

  protected:
    // Inserts an entry built from `args` unless `key` is present; `key` and
    // `args` may refer to entries of this table (the new entry is built before
    // any existing one moves).
    template <class... Args>
    std::pair<iterator, bool> emplace_with_key(const key_type& key, Args&&... args) {
        const std::uint64_t hash = hash_of(key);
        if (block_ != nullptr) {
            const ProbeResult probe = probe_for<ProbeFor::kInsert>(block_, key, hash);
            if (probe.outcome == Probed::kFound) {
                return {at<iterator>(probe.slot), false};
            }
            if (probe.outcome == Probed::kFree &&
                (block_->growth_left > 0 ||
                 ctrl_of(block_)[probe.slot] == flat_table_detail::kDeleted)) {
                ::new (static_cast<void*>(slots_of(block_) + probe.slot))
                    value_type(std::forward<Args>(args)...);
                occupy(block_, probe.slot, flat_table_detail::h2_of(hash));
                return {at<iterator>(probe.slot), true};
            }
            if (probe.outcome == Probed::kFlooded) [[unlikely]] {
                return emplace_flooded(key, hash, std::forward<Args>(args)...);
            }
            if (ordered(block_)) [[unlikely]] {
                return emplace_ordered(key, std::forward<Args>(args)...);
            }
        }
        return rehash_with_new_entry(next_capacity(), hash, std::forward<Args>(args)...);
    }

  private:
    static bool ordered(const Header* block) noexcept { return block->capacity == 0; }

    Tree& tree() const noexcept { return static_cast<OrderedBlock*>(block_)->tree; }

    // Out of line: the flat mode's erase, which delete_node calls for every
    // source, stays short.
    [[gnu::noinline, gnu::cold]] size_type erase_ordered(const key_type& key) {
        if (!ordered(block_)) {
            to_ordered();
        }
        const size_type erased = tree().erase(key);
        block_->size -= static_cast<std::uint32_t>(erased);
        return erased;
    }

    template <class... Args>
    [[gnu::noinline]] std::pair<iterator, bool> emplace_ordered(const key_type& key,
                                                                Args&&... args) {
        if (block_->size == UINT32_MAX && find(key) == end()) {
            throw std::length_error("hash table: too many entries");
        }
        const auto [position, inserted] = tree().try_emplace(key, std::forward<Args>(args)...);
        block_->size += inserted ? 1 : 0;
        return {iterator(position, &tree()), inserted};
    }

    // How a probe that passed `windows` windows ends, given where it stopped.
    // A lookup is flooded when it gave up past kMaxWindows without finding
    // the key; an insert's long probe is counted, and it is flooded when it
    // went past the bound or long probes are far more frequent than benign
    // (even if it found the key).
    template <ProbeFor kMode>
    static ProbeResult ended(Header* block, ProbeResult result, std::uint32_t windows) noexcept {
        if (windows <= Limits::kLongWindows) [[likely]] {
            return result;
        }
        bool flooded = windows > Limits::kMaxWindows;
        if constexpr (kMode == ProbeFor::kFind) {
            flooded = flooded && result.outcome == Probed::kAbsent;
        } else {
            ++block->long_probes;
            flooded = flooded || block->long_probes >
                                     Limits::kLongAllowance + block->size / Limits::kLongShare;
        }
        return flooded ? ProbeResult{Probed::kFlooded, 0} : result;
    }

    // Moves every entry of the flat block into a new ordered block, built in
    // one pass from the entries sorted by key (keys are copied next to their
    // entry's address, so the sort does not chase pointers). Everything that
    // can fail comes before the first entry moves, so running out of memory
    // leaves the table as it was.
    [[gnu::noinline, gnu::cold]] void to_ordered() {
        struct Place {
            key_type key;
            value_type* entry;
        };
        Header* flat = block_;
        std::vector<Place> sorted;
        sorted.reserve(flat->size);
        const Ctrl* ctrl = ctrl_of(flat);
        for (std::size_t i = 0; i < flat->capacity; ++i) {
            if (ctrl[i] >= 0) {
                value_type* entry = slots_of(flat) + i;
                sorted.push_back({Slots::key(*entry), entry});
            }
        }
        std::sort(sorted.begin(), sorted.end(),
                  [](const Place& a, const Place& b) { return Less()(a.key, b.key); });
        std::unique_ptr<OrderedBlock> ordered(new OrderedBlock{{flat->size, 0, 0, 0}, Tree()});
        // Entries are taken in key order, scattered over the block: ask for
        // each a few entries ahead.
        constexpr std::size_t kAhead = 8;
        ordered->tree.build(sorted.size(), [&, i = std::size_t{0}]() mutable -> value_type&& {
            if (i + kAhead < sorted.size()) {
                portable::prefetch(sorted[i + kAhead].entry);
            }
            return std::move(*sorted[i++].entry);
        });
        destroy_entries(flat);
        deallocate(flat);
        block_ = ordered.release();
    }

    static Ctrl* ctrl_of(Header* block) noexcept {
        return reinterpret_cast<Ctrl*>(reinterpret_cast<unsigned char*>(block) + sizeof(Header));
    }

    static std::size_t slot_offset(std::size_t capacity) noexcept {
        return flat_table_detail::align_up(sizeof(Header) + flat_table_detail::ctrl_bytes(capacity),
                                           alignof(value_type));
    }

    static value_type* slots_of(Header* block) noexcept {
        return reinterpret_cast<value_type*>(reinterpret_cast<unsigned char*>(block) +
                                             slot_offset(block->capacity));
    }

    static std::size_t block_bytes(std::size_t capacity) noexcept {
        using namespace flat_table_detail;
        return std::max(slot_offset(capacity) + capacity * sizeof(value_type),
                        sizeof(Header) + capacity + kGroupWidth - 1);
    }

    // Smallest capacity that holds `count` entries (count > 0), widened to
    // every slot that fits in the allocation it gets anyway.
    static std::size_t capacity_for(std::size_t count) {
        using namespace flat_table_detail;
        if (count > max_load(kMaxCapacity)) {
            throw std::length_error("hash table: too many entries");
        }
        std::size_t capacity = count;
        if (!is_single_group(count)) {
            capacity = count + count / 7;
            while (max_load(capacity) < count) {
                ++capacity;
            }
        }
        const std::size_t granted =
            align_up(block_bytes(capacity) + kAllocatorOverhead, kAllocatorGranule) -
            kAllocatorOverhead;
        const std::size_t limit = is_single_group(capacity) ? kGroupWidth : kMaxCapacity;
        while (capacity < limit && block_bytes(capacity + 1) <= granted) {
            ++capacity;
        }
        return capacity;
    }

    // Capacity for one more entry than fits now: about 1.25x or 1.5x (more
    // finely up to one group), or the same size again when tombstones hold a
    // quarter of the usable room.
    std::size_t next_capacity() const {
        using namespace flat_table_detail;
        if (block_ == nullptr) {
            return capacity_for(1);
        }
        const std::size_t capacity = block_->capacity;
        const std::size_t size = block_->size;
        if (is_single_group(capacity)) {
            // 1, 3, 6, 10, 16 (before widening to the allocation): finer
            // steps than 1.5x while tables are small, where a step wasted is
            // a large share of the table, and four blocks up to ten entries.
            return capacity_for(std::max(size + 1, capacity + (capacity + 3) / 2));
        }
        const std::size_t usable = max_load(capacity);
        if (size < usable - usable / 4) {
            return capacity_for(usable);
        }
        // A table being filled (no tombstones) grows by a quarter, which keeps
        // large tables at least 70% full; one with churn grows by half, so
        // that at a steady size it is rarely rebuilt.
        return capacity_for(usable + (size == usable ? usable / 4 : usable / 2));
    }

    static Header* allocate(std::size_t capacity) {
        using namespace flat_table_detail;
        Header* block = ::new (::operator new(block_bytes(capacity)))
            Header{0, static_cast<std::uint32_t>(capacity),
                   static_cast<std::uint32_t>(max_load(capacity)), 0};
        Ctrl* ctrl = ctrl_of(block);
        std::memset(ctrl, kEmpty, capacity);
        if (is_single_group(capacity)) {
            // Masked off by every lookup; set only so that the window never
            // reads bytes that were never written.
            std::memset(ctrl + capacity, kPad, kGroupWidth - capacity);
        } else {
            std::memset(ctrl + capacity, kEmpty, kGroupWidth - 1);
        }
        return block;
    }

    static void deallocate(Header* block) noexcept {
        // Unsized on purpose: some compilers leave sized deallocation off by default.
        ::operator delete(static_cast<void*>(block));
    }

    static void destroy_entries(Header* block) noexcept {
        if constexpr (!std::is_trivially_destructible_v<value_type>) {
            const Ctrl* ctrl = ctrl_of(block);
            value_type* slots = slots_of(block);
            for (std::size_t i = 0; i < block->capacity; ++i) {
                if (ctrl[i] >= 0) {
                    slots[i].~value_type();
                }
            }
        }
    }

    void release() noexcept {
        if (block_ == nullptr) {
            return;
        }
        if (is_ordered()) {
            delete static_cast<OrderedBlock*>(block_);
        } else {
            destroy_entries(block_);
            deallocate(block_);
        }
        block_ = nullptr;
    }

    static void set_ctrl(Header* block, std::size_t index, Ctrl value) noexcept {
        using namespace flat_table_detail;
        Ctrl* ctrl = ctrl_of(block);
        ctrl[index] = value;
        if (!is_single_group(block->capacity) && index < kGroupWidth - 1) {
            ctrl[block->capacity + index] = value;
        }
    }

    static void occupy(Header* block, std::size_t index, Ctrl h2) noexcept {
        if (ctrl_of(block)[index] == flat_table_detail::kEmpty) {
            --block->growth_left;
        }
        set_ctrl(block, index, h2);
        ++block->size;
    }

    std::uint64_t hash_of(const key_type& key) const noexcept {
        return static_cast<std::uint64_t>(hash_(key));
    }

    // The one probe loop. From the key's home position, window by window
    // (wrapping), until a window holds an empty slot (there always is one) or
    // the probe passes kMaxWindows; a table of one group is one window. It
    // looks for the key (kFind, kInsert) and for the first free slot on the
    // path (kInsert, kPlace; placing stops there).
    template <ProbeFor kMode>
    ProbeResult probe_for(Header* block, const key_type& key, std::uint64_t hash) const noexcept {
        using namespace flat_table_detail;
        const Ctrl* ctrl = ctrl_of(block);
        const value_type* slots = slots_of(block);
        const Ctrl h2 = h2_of(hash);
        const std::size_t capacity = block->capacity;
        if (is_single_group(capacity)) {
            // The whole table is one window: no probe sequence, no bound. (An
            // ordered block comes here too, and finds nothing: see Header.)
            const Group group(ctrl);
            const Mask window = window_mask(capacity);
            if constexpr (kMode != ProbeFor::kPlace) {
                for (Mask match = group.match(h2) & window; match != 0; match &= match - 1) {
                    if (eq_(Slots::key(slots[lowest_bit(match)]), key)) {
                        return {Probed::kFound, lowest_bit(match)};
                    }
                }
            }
            if constexpr (kMode != ProbeFor::kFind) {
                if (const Mask free = group.match_free() & window; free != 0) {
                    return {Probed::kFree, lowest_bit(free)};
                }
            }
            return {Probed::kAbsent, 0};
        }
        std::size_t window = home_of(hash, capacity);
        if constexpr (kMode != ProbeFor::kPlace) {
            // Most keys sit in their home slot (and a new one most often goes
            // there): in a table larger than the cache, loading it alongside
            // the control bytes overlaps two misses that would run in turn.
            portable::prefetch(&slots[window]);
        }
        ProbeResult result{Probed::kAbsent, 0};
        for (std::uint32_t windows = 1;; ++windows) {
            if constexpr (kMode == ProbeFor::kPlace) {
                // A fresh block being filled: test the first slot by itself,
                // since a 16-byte load over a control byte just written
                // waits for that store.
                if (ctrl[window] == kEmpty) {
                    return ended<kMode>(block, {Probed::kFree, window}, windows);
                }
            }
            const Group group(ctrl + window);
            if constexpr (kMode != ProbeFor::kPlace) {
                for (Mask match = group.match(h2); match != 0; match &= match - 1) {
                    std::size_t index = window + lowest_bit(match);
                    index -= index >= capacity ? capacity : 0;
                    if (eq_(Slots::key(slots[index]), key)) {
                        return ended<kMode>(block, {Probed::kFound, index}, windows);
                    }
                }
            }
            if constexpr (kMode != ProbeFor::kFind) {
                if (result.outcome == Probed::kAbsent) {
                    if (const Mask free = group.match_free(); free != 0) {
                        result = {Probed::kFree, window + lowest_bit(free)};
                        result.slot -= result.slot >= capacity ? capacity : 0;
                        if constexpr (kMode == ProbeFor::kPlace) {
                            return ended<kMode>(block, result, windows);
                        }
                    }
                }
            }
            if (group.match_empty() != 0 || windows > Limits::kMaxWindows) {
                return ended<kMode>(block, result, windows);
            }
            window += kGroupWidth;
            window -= window >= capacity ? capacity : 0;
        }
    }

    // A lookup only walks past a window that holds no empty slot. If every
    // 16-slot window containing `index` holds an empty slot, no probe has
    // walked past this slot, and it can become empty instead of a tombstone.
    static bool no_probe_passed(Header* block, std::size_t index) noexcept {
        using namespace flat_table_detail;
        const Ctrl* ctrl = ctrl_of(block);
        const std::size_t capacity = block->capacity;
        const std::size_t before =
            index >= kGroupWidth ? index - kGroupWidth : index + capacity - kGroupWidth;
        const Mask empty_before = Group(ctrl + before).match_empty();
        const Mask empty_after = Group(ctrl + index).match_empty();
        if (empty_before == 0 || empty_after == 0) {
            return false;
        }
        const int used_after = std::countr_zero(empty_after);
        const int used_before = std::countl_zero(static_cast<std::uint16_t>(empty_before));
        return used_after + used_before < static_cast<int>(kGroupWidth);
    }

    void erase_at(std::size_t index) noexcept {
        using namespace flat_table_detail;
        slots_of(block_)[index].~value_type();
        --block_->size;
        if (is_single_group(block_->capacity) || no_probe_passed(block_, index)) {
            set_ctrl(block_, index, kEmpty);
            ++block_->growth_left;
        } else {
            set_ctrl(block_, index, kDeleted);
            // Churn at a steady size keeps probing past tombstones; it is not
            // an attack, so each tombstone forgives one long probe.
            if (block_->long_probes != 0) {
                --block_->long_probes;
            }
        }
    }

    // Moves every entry of `from` into `to` (a fresh block with room for
    // them). Within one group positions do not depend on the hash, so
    // entries keep their slots and nothing is rehashed. If the entries flood
    // `to`, every entry moved so far goes back (all but the one at `added`,
    // the new entry that has no slot in `from`, if any) and the result is
    // false.
    bool move_entries(Header* from, Header* to, std::size_t added = SIZE_MAX) const noexcept {
        // A reserve may also rebuild a larger or tombstone-laden block into a
        // smaller one-group block: slots are kept only when they all fit.
        const bool keep_slots =
            flat_table_detail::is_single_group(to->capacity) && from->capacity <= to->capacity;
        const Ctrl* ctrl = ctrl_of(from);
        value_type* source = slots_of(from);
        value_type* target = slots_of(to);
        for (std::size_t i = 0; i < from->capacity; ++i) {
            if (ctrl[i] < 0) {
                continue;
            }
            std::size_t slot = i;
            Ctrl h2 = ctrl[i];
            if (!keep_slots) {
                const key_type& key = Slots::key(source[i]);
                const std::uint64_t hash = hash_of(key);
                const ProbeResult probe = probe_for<ProbeFor::kPlace>(to, key, hash);
                if (probe.outcome == Probed::kFlooded) [[unlikely]] {
                    move_back(to, from, added);
                    return false;
                }
                slot = probe.slot;
                h2 = flat_table_detail::h2_of(hash);
            }
            ::new (static_cast<void*>(target + slot)) value_type(std::move(source[i]));
            occupy(to, slot, h2);
        }
        return true;
    }

    // Undoes a partial move_entries: each entry of `to` but the one at
    // `added` goes back to the slot of `from` that holds its key (a move
    // leaves keys as they were).
    void move_back(Header* to, Header* from, std::size_t added) const noexcept {
        const Ctrl* ctrl = ctrl_of(to);
        value_type* entries = slots_of(to);
        for (std::size_t i = 0; i < to->capacity; ++i) {
            if (ctrl[i] >= 0 && i != added) {
                const key_type& key = Slots::key(entries[i]);
                const std::size_t slot = probe_for<ProbeFor::kFind>(from, key, hash_of(key)).slot;
                value_type* home = slots_of(from) + slot;
                home->~value_type();
                ::new (static_cast<void*>(home)) value_type(std::move(entries[i]));
                entries[i].~value_type();
            }
        }
    }

    // Moves the entries into a block of `capacity` slots, or into the ordered
    // mode if they flood it.
    void rehash_into(std::size_t capacity) {
        Header* fresh = allocate(capacity);
        if (block_ != nullptr) {
            if (!move_entries(block_, fresh)) {
                deallocate(fresh);
                to_ordered();
                return;
            }
            destroy_entries(block_);
            deallocate(block_);
        }
        block_ = fresh;
    }

    template <class... Args>
    std::pair<iterator, bool> rehash_with_new_entry(std::size_t capacity, std::uint64_t hash,
                                                    Args&&... args) {
        using namespace flat_table_detail;
        Header* fresh = allocate(capacity);
        // A single-group table grows only when full; its entries keep their
        // slots (see move_entries), and the new one goes right after them.
        const std::size_t slot =
            block_ != nullptr && is_single_group(capacity) && block_->capacity <= capacity
                ? block_->capacity
                : probe_for<ProbeFor::kPlace>(fresh, {}, hash).slot;
        try {
            ::new (static_cast<void*>(slots_of(fresh) + slot))
                value_type(std::forward<Args>(args)...);
        } catch (...) {
            deallocate(fresh);
            throw;
        }
        occupy(fresh, slot, h2_of(hash));
        if (block_ != nullptr) {
            if (!move_entries(block_, fresh, slot)) [[unlikely]] {
                return to_ordered_with(fresh, slot);
            }
            destroy_entries(block_);
            deallocate(block_);
        }
        block_ = fresh;
        return {at<iterator>(slot), true};
    }

    // An insert found the table flooded. The switch moves every entry and
    // frees the flat block, so the key is looked up and the new entry built
    // first. (A flat table holds no key past kMaxWindows, so the lookup is
    // complete.)
    template <class... Args>
    [[gnu::noinline, gnu::cold]] std::pair<iterator, bool> emplace_flooded(const key_type& key,
                                                                           std::uint64_t hash,
                                                                           Args&&... args) {
        if (probe_for<ProbeFor::kFind>(block_, key, hash).outcome == Probed::kFound) {
            const key_type present = key;
            to_ordered();
            return {iterator(tree().find(present), &tree()), false};
        }
        value_type added(std::forward<Args>(args)...);
        return to_ordered_with(std::move(added));
    }

    // Switches to the ordered mode and inserts `added`, an entry built
    // outside the flat block whose key is absent.
    std::pair<iterator, bool> to_ordered_with(value_type&& added) {
        to_ordered();
        return emplace_ordered(Slots::key(added), std::move(added));
    }

    // The table switches while growing: `fresh` holds only the new entry (at
    // `slot`), which goes into the ordered table; `fresh` is then freed.
    [[gnu::noinline, gnu::cold]] std::pair<iterator, bool> to_ordered_with(Header* fresh,
                                                                           std::size_t slot) {
        value_type& added = slots_of(fresh)[slot];
        struct FreeOnExit {
            value_type& added;
            Header* fresh;
            ~FreeOnExit() {
                added.~value_type();
                deallocate(fresh);
            }
        } free_on_exit{added, fresh};
        return to_ordered_with(std::move(added));
    }

    // An iterator to the first entry of a flat block.
    template <class It>
    It first() const noexcept {
        const Ctrl* ctrl = ctrl_of(block_);
        return It::first_from(ctrl, ctrl, slots_of(block_), ctrl + block_->capacity);
    }

    // An iterator to the entry in slot `index`, which must be full; its
    // first group is that slot alone.
    template <class It>
    It at(std::size_t index) const noexcept {
        const Ctrl* ctrl = ctrl_of(block_) + index;
        value_type* entry = slots_of(block_) + index;
        return It(entry, 1, ctrl, entry, ctrl + 1, ctrl_of(block_) + block_->capacity);
    }

    Header* block_ = nullptr;
    [[no_unique_address]] Hash hash_;
    [[no_unique_address]] Eq eq_;
};

}  // namespace tavro
