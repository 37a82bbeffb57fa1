// The in-memory record of pending changes to a directed, weighted graph, and
// the rules by which a later change supersedes or cancels an earlier one.
//
// Invariants kept by the operations below (a diff read from bytes is not held
// to them; the operations then act on it step by step as written):
//   1. no id is both in new_or_updated_nodes and in deleted_nodes;
//   2. no edge is both pending and marked deleted;
//   3. no pending edge has an endpoint in deleted_nodes;
//   4. no inner set of edges.deleted is empty. An inner map of
//      edges.new_or_updated can be: delete_node leaves an emptied map in place.
//
// Running out of memory (std::bad_alloc from an insert, or from a lookup that
// moves a flooded table into its ordered mode) leaves the diff as it was:
// each operation looks up first, then inserts (undoing its inserts if one
// fails), and erases last what it found (a key that a lookup found is erased
// without allocating: only a lookup that misses can move a table). The
// reverse index below is a cache: if keeping it up to date runs out of
// memory, it is dropped, and no result depends on whether it exists.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "diff/hash_containers.hpp"

namespace tavro {

template <class Id, class W = float>
struct EdgeDiff {
    // source -> (target -> weight): the edge A->B is pending with weight w
    // exactly when A's inner map holds w under B.
    HashMap<Id, HashMap<Id, W>> new_or_updated;
    // source -> {targets}: the edge A->B is marked deleted exactly when A's
    // inner set holds B.
    HashMap<Id, HashSet<Id>> deleted;
};

// When delete_node builds its reverse index (tests lower both to 0, so that
// the first delete_node builds it). Building costs about as much per pending
// edge as scanning kScansPerEdge sources does (7 to 10 measured at 100,000
// sources of 10 edges: the build misses the cache on every edge). Keeping it
// costs every later add_edge a little, so a diff that is small while it
// deletes nodes, and may grow large after, does not build it before it has
// scanned kMinScans sources.
struct ReverseIndexPrice {
    static constexpr std::size_t kScansPerEdge = 8;
    static constexpr std::size_t kMinScans = std::size_t{1} << 16;
};

template <class Id, class T, class W = float, class Price = ReverseIndexPrice>
struct GraphDiff {
    HashMap<Id, T> new_or_updated_nodes;
    HashSet<Id> deleted_nodes;
    EdgeDiff<Id, W> edges;

    // Merges `update` into the node's pending change (or inserts it) and
    // takes the node out of deleted_nodes. Edge records are not touched.
    // Starts loading where add_or_update_node(id, ...) will look, for a
    // caller with other work to do first.
    [[gnu::always_inline]] void load_node_home(const Id& id) const noexcept {
        new_or_updated_nodes.load_home(id);
    }

    void add_or_update_node(const Id& id, T&& update) {
        const bool marked = deleted_nodes.contains(id);
        auto [entry, inserted] = new_or_updated_nodes.try_emplace(id, std::move(update));
        if (!inserted) {
            entry->second += std::move(update);
        }
        if (marked) {
            deleted_nodes.erase(id);
        }
    }

    // Drops the node's pending change and every pending edge out of it
    // (without recording those), records each pending edge into it as
    // deleted (new sources join edges.deleted in byte order of their ids,
    // whichever way the edges were found), and marks the node deleted.
    void delete_node(const Id& id) {
        // Four independent lookups of id: let their misses overlap.
        new_or_updated_nodes.load_home(id);
        edges.new_or_updated.load_home(id);
        deleted_nodes.load_home(id);
        index_.sources.load_home(id);
        const bool updated = new_or_updated_nodes.contains(id);
        const auto out = edges.new_or_updated.find(id);
        const std::uint64_t hash = typename HashMap<Id, W>::hasher()(id);
        std::size_t pending_edges = 0;
        std::vector<Incoming> incoming =
            index_.active ? indexed_edges(id) : incoming_edges(id, hash, pending_edges);
        std::sort(incoming.begin(), incoming.end(), [](const Incoming& a, const Incoming& b) {
            return KeyOrder<Id>()(a.source->first, b.source->first);
        });
        try {
            for (Incoming& edge : incoming) {
                edge.new_source = add_under(edges.deleted, edge.source->first, [&](auto& targets) {
                    edge.recorded = targets.insert(id).second;
                });
            }
            deleted_nodes.insert(id);
        } catch (...) {
            for (const Incoming& edge : incoming) {
                if (edge.new_source) {
                    edges.deleted.erase(edge.source->first);
                } else if (edge.recorded) {
                    edges.deleted.find(edge.source->first)->second.erase(id);
                }
            }
            throw;
        }
        if (index_.active) {
            keeping_index([&] {
                index_.sources.erase(id);
                if (out != edges.new_or_updated.end()) {
                    for (const auto& [target, weight] : out->second) {
                        index_.sources.load_home(target);
                    }
                    for (const auto& [target, weight] : out->second) {
                        const auto sources = index_.sources.find(target);
                        if (sources != index_.sources.end()) {
                            sources->second.load_block();
                        }
                    }
                    for (const auto& [target, weight] : out->second) {
                        if (target != id) {
                            unindex(id, target);
                        }
                    }
                }
            });
        }
        for (const Incoming& edge : incoming) {
            // An inner map emptied here stays in place under its source.
            edge.source->second.erase(id, hash);
        }
        if (out != edges.new_or_updated.end()) {
            edges.new_or_updated.erase(id);
        }
        if (updated) {
            new_or_updated_nodes.erase(id);
        }
        if (!index_.active && index_.scanned >= Price::kMinScans &&
            index_.scanned >= Price::kScansPerEdge * pending_edges) {
            keeping_index([&] { build_index(); });
            index_.allowance = std::max(pending_edges, Price::kMinScans);
        }
        index_.kept = 0;
    }

    // Refuses an edge with an endpoint marked deleted, changing nothing
    // (false); otherwise cancels a deletion record of the same edge and stores
    // the weight (replacing an earlier one).
    bool add_edge(const Id& from, const Id& to, W weight) {
        if (deleted_nodes.contains(from) || deleted_nodes.contains(to)) {
            return false;
        }
        const auto record = edges.deleted.find(from);
        const bool cancels = record != edges.deleted.end() && record->second.contains(to);
        add_under(edges.new_or_updated, from,
                  [&](auto& targets) { targets.insert_or_assign(to, weight); });
        if (cancels) {
            record->second.erase(to);
            if (record->second.empty()) {
                edges.deleted.erase(from);
            }
        }
        if (index_.active && from != to) [[unlikely]] {
            keeping_index([&] { index_.sources.try_emplace(to).first->second.insert(from); });
            if (++index_.kept > index_.allowance) {
                index_ = {};
            }
        }
        return true;
    }

    // Records the edge as deleted (whether or not it was pending) and drops
    // it from the pending edges; a source whose pending map ends up empty is
    // removed, even if it was empty before.
    void delete_edge(const Id& from, const Id& to) {
        // Both tables are looked up by `from`: their misses can overlap.
        edges.deleted.load_home(from);
        const auto pending = edges.new_or_updated.find(from);
        const bool was_pending =
            pending != edges.new_or_updated.end() && pending->second.contains(to);
        add_under(edges.deleted, from, [&](auto& targets) { targets.insert(to); });
        if (pending != edges.new_or_updated.end()) {
            if (was_pending) {
                pending->second.erase(to);
                if (index_.active && from != to) {
                    keeping_index([&] { unindex(from, to); });
                }
            }
            if (pending->second.empty()) {
                edges.new_or_updated.erase(from);
            }
        }
    }

    void clear() {
        new_or_updated_nodes.clear();
        deleted_nodes.clear();
        edges.new_or_updated.clear();
        edges.deleted.clear();
        index_ = {};
    }

    // Node entries plus deleted nodes.
    std::size_t num_nodes() const noexcept {
        return new_or_updated_nodes.size() + deleted_nodes.size();
    }

    // Counts sources, not (from, to) pairs: a source with pending and deleted
    // edges counts twice, a source left with an empty inner map counts once.
    std::size_t num_edges() const noexcept {
        return edges.new_or_updated.size() + edges.deleted.size();
    }

  private:
    // A pending edge into a node that is being deleted, and what recording
    // it as deleted added.
    struct Incoming {
        std::pair<const Id, HashMap<Id, W>>* source;
        bool new_source = false;  // the source, to edges.deleted
        bool recorded = false;    // the target, to the source's deleted targets
    };

    // The pending edges into `id` but a self-loop; `hash` is id's hash. Every
    // source is scanned, out of line, so that the scan keeps its state in
    // registers. (Loading inner tables 16 sources ahead did best of 8 to 64
    // over 100k sources.) Adds the sources to index_.scanned and sets
    // `pending_edges` to the number of pending edges.
    [[gnu::noinline]] std::vector<Incoming> incoming_edges(const Id& id, std::uint64_t hash,
                                                           std::size_t& pending_edges) {
        std::vector<Incoming> found;
        std::size_t count = 0;
        walk_loading_ahead<16>(
            edges.new_or_updated, [](const auto& source) { source.second.load_block(); },
            [&, hash](auto& source) {
                count += source.second.size();
                if (source.second.find(id, hash) != source.second.end() && source.first != id) {
                    found.push_back({&source});
                }
                return true;
            });
        pending_edges = count;
        index_.scanned += edges.new_or_updated.size();
        return found;
    }

    // The same, from the index.
    std::vector<Incoming> indexed_edges(const Id& id) {
        std::vector<Incoming> found;
        const auto sources = index_.sources.find(id);
        if (sources != index_.sources.end()) {
            // The sources' entries, their maps and their deletion records
            // lie anywhere in memory: ask for all of them before using any.
            for (const Id& source : sources->second) {
                edges.new_or_updated.load_home(source);
                edges.deleted.load_home(source);
            }
            found.reserve(sources->second.size());
            for (const Id& source : sources->second) {
                found.push_back({&*edges.new_or_updated.find(source)});
                found.back().source->second.load_block();
            }
        }
        return found;
    }

    // The reverse index: target -> the sources other than itself that hold a
    // pending edge to it, exactly, while `active`. delete_node scans every
    // source until the sources it has scanned since the diff was made or
    // cleared reach Price::kScansPerEdge per pending edge, the cost of
    // building the index (so a few deletions never pay for it, and many pay
    // at most about twice what they would have without); then it builds it,
    // and every change keeps it exact. Keeping it costs add_edge about as
    // much per edge as building it did, so once add_edge has paid that for
    // as many edges as the index was built from (and at least kMinScans)
    // with no delete_node in between, the index is dropped, and the scans
    // pay for it anew.
    struct ReverseIndex {
        HashMap<Id, HashSet<Id>> sources;
        bool active = false;
        std::size_t scanned = 0;
        std::size_t kept = 0;  // add_edge calls that kept the index since delete_node
        std::size_t allowance = 0;
    };

    // Counts the sources of each target first, so that every table is made
    // once at its final size: about a third less memory than growing them.
    // The tables of a source's targets lie anywhere in memory: each pass
    // asks for those of up to 16 targets before it uses any.
    void build_index() {
        constexpr std::size_t kBatch = 16;
        const auto each_batch = [&](auto visit) {
            walk_loading_ahead<16>(
                edges.new_or_updated, [](const auto& source) { source.second.load_block(); },
                [&](const auto& source) {
                    const Id* batch[kBatch];
                    std::size_t size = 0;
                    for (const auto& [target, weight] : source.second) {
                        if (target != source.first) {
                            batch[size++] = &target;
                        }
                        if (size == kBatch) {
                            visit(source.first, batch, size);
                            size = 0;
                        }
                    }
                    visit(source.first, batch, size);
                    return true;
                });
        };
        HashMap<Id, std::uint32_t> counts;
        each_batch([&](const Id&, const Id* const* targets, std::size_t size) {
            for (std::size_t i = 0; i < size; ++i) {
                counts.load_home(*targets[i]);
            }
            for (std::size_t i = 0; i < size; ++i) {
                ++counts.try_emplace(*targets[i]).first->second;
            }
        });
        index_.sources.reserve(counts.size());
        for (const auto& [target, count] : counts) {
            index_.sources.try_emplace(target).first->second.reserve(count);
        }
        counts.clear();
        each_batch([&](const Id& source, const Id* const* targets, std::size_t size) {
            HashSet<Id>* sets[kBatch];
            for (std::size_t i = 0; i < size; ++i) {
                index_.sources.load_home(*targets[i]);
            }
            for (std::size_t i = 0; i < size; ++i) {
                sets[i] = &index_.sources.find(*targets[i])->second;
                sets[i]->load_block();
            }
            for (std::size_t i = 0; i < size; ++i) {
                sets[i]->insert(source);
            }
        });
        index_.active = true;
    }

    // The pending edge from -> to (not a self-loop) is gone.
    void unindex(const Id& from, const Id& to) {
        const auto sources = index_.sources.find(to);
        sources->second.erase(from);
        if (sources->second.empty()) {
            index_.sources.erase(to);
        }
    }

    // Runs `change` on the index; one that runs out of memory drops it.
    template <class Change>
    void keeping_index(Change change) noexcept {
        try {
            change();
        } catch (...) {
            index_.sources.clear();
            index_.active = false;
        }
    }

    ReverseIndex index_;

    // Runs insert(targets) on the inner table of `source` in `outer`, adding
    // the source if it is absent (and removing it again if the insert fails).
    // True if the source was added.
    template <class Outer, class Insert>
    static bool add_under(Outer& outer, const Id& source, Insert insert) {
        const auto [entry, added] = outer.try_emplace(source);
        try {
            insert(entry->second);
        } catch (...) {
            if (added) {
                outer.erase(source);
            }
            throw;
        }
        return added;
    }
};

}  // namespace tavro
