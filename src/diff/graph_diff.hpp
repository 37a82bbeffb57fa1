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
#include "diff/reverse_index.hpp"

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

// When delete_node builds its reverse index (tests lower every figure to 0,
// so that the first delete_node builds it). Building costs about as much as
// scanning kScansPerSource sources per source plus kScansPerEdge per pending
// edge, twice that per edge past kLargeEdges, where the table of targets
// outgrows the cache (measured from 300,000 sources of 1 edge to 1,000,000 of
// 10, on a 32 MiB cache: 8.5 to 23 scans for a source of one edge, the more
// the more memory the machine's other work takes; 3.1 per edge at 100,000
// sources of 10, 6.6 at 1,000,000 of 10). Keeping it costs every later
// add_edge a little, so a diff that is small while it deletes nodes, and may
// grow large after, does not build it before it has scanned kMinScans
// sources. Stale links are only rebuilt away past kMinStale.
struct ReverseIndexPrice {
    static constexpr std::size_t kScansPerSource = 12;
    static constexpr std::size_t kScansPerEdge = 4;
    static constexpr std::size_t kLargeEdges = std::size_t{1} << 21;
    static constexpr std::size_t kMinScans = std::size_t{1} << 16;
    static constexpr std::size_t kMinStale = 4096;

    // The scans that pay for a build over these sources and edges.
    static constexpr std::size_t of_build(std::size_t sources, std::size_t edges) noexcept {
        return kScansPerSource * sources +
               kScansPerEdge * (edges + (edges > kLargeEdges ? edges : 0));
    }
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
        const bool indexed = index_.active;
        if (indexed) {
            index_.chains.load_home(id);
        }
        const bool updated = new_or_updated_nodes.contains(id);
        const std::vector<const Id*> listed =
            indexed ? listed_sources(id) : std::vector<const Id*>();
        // This is the last lookup in edges.new_or_updated that may miss (and
        // so move a flooded table): no pointer to an entry is taken before it.
        const auto out = edges.new_or_updated.find(id);
        if (out != edges.new_or_updated.end()) {
            out->second.load_block();
        }
        const std::uint64_t hash = typename HashMap<Id, W>::hasher()(id);
        std::size_t pending_edges = 0;
        std::vector<Incoming> incoming =
            indexed ? indexed_edges(listed, id, hash) : incoming_edges(id, hash, pending_edges);
        std::sort(incoming.begin(), incoming.end(), [](const Incoming& a, const Incoming& b) {
            return KeyOrder<Id>()(a.source->first, b.source->first);
        });
        // The index may list a source twice; each edge is recorded and erased
        // once (an erase that misses may allocate, and nothing may fail below).
        incoming.erase(
            std::unique(incoming.begin(), incoming.end(),
                        [](const Incoming& a, const Incoming& b) { return a.source == b.source; }),
            incoming.end());
        // The index lists the node's pending edges out, but a self-loop.
        std::size_t unlisted = incoming.size();
        if (indexed && out != edges.new_or_updated.end()) {
            unlisted +=
                out->second.size() - (out->second.find(id, hash) != out->second.end() ? 1 : 0);
        }
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
        if (indexed) {
            keeping_index([&] { index_.chains.forget(id); });
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
        if (indexed) {
            edges_unlisted(unlisted);
        } else if (index_.scanned >= Price::kMinScans &&
                   index_.scanned >= Price::of_build(edges.new_or_updated.size(), pending_edges)) {
            keeping_index([&] { build_index(pending_edges); });
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
        bool added = false;
        add_under(edges.new_or_updated, from,
                  [&](auto& targets) { added = targets.insert_or_assign(to, weight).second; });
        if (cancels) {
            record->second.erase(to);
            if (record->second.empty()) {
                edges.deleted.erase(from);
            }
        }
        if (index_.active && added && from != to) [[unlikely]] {
            keeping_index([&] { index_.chains.list(to, from); });
            kept_index();
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
            }
            if (pending->second.empty()) {
                edges.new_or_updated.erase(from);
            }
            if (index_.active && was_pending && from != to) {
                kept_index();
                edges_unlisted(1);
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

    // The sources listed under `id` that still hold pending edges, maybe
    // some twice. Their entries lie anywhere in memory: it asks for all of
    // them before it looks any up.
    std::vector<const Id*> listed_sources(const Id& id) {
        std::vector<const Id*> listed;
        index_.chains.for_each_source(id, [&](const Id& source) {
            edges.new_or_updated.load_home(source);
            edges.deleted.load_home(source);
            listed.push_back(&source);
        });
        std::erase_if(listed,
                      [&](const Id* source) { return !edges.new_or_updated.contains(*source); });
        return listed;
    }

    // The pending edges into `id` from those sources; `hash` is id's hash.
    std::vector<Incoming> indexed_edges(const std::vector<const Id*>& listed, const Id& id,
                                        std::uint64_t hash) {
        std::vector<Incoming> found;
        found.reserve(listed.size());
        for (const Id* source : listed) {
            found.push_back({&*edges.new_or_updated.find(*source)});
            found.back().source->second.load_block();
            // Where delete_node will record the edge as deleted.
            const auto record = edges.deleted.find(*source);
            if (record != edges.deleted.end()) {
                record->second.load_block();
            }
        }
        std::erase_if(found, [&](const Incoming& edge) {
            return edge.source->second.find(id, hash) == edge.source->second.end();
        });
        return found;
    }

    // The reverse index and when it pays. delete_node scans every source
    // until the sources it has scanned since the diff was made or cleared
    // reach Price::of_build, the cost of building the index (so a few
    // deletions never pay for it, and many pay at most about twice what they
    // would have without); then it builds it. From then on every pending
    // edge but a self-loop is listed under its target: add_edge lists a new
    // one, and an edge that stops being pending leaves a stale link, counted
    // in `stale`, until its target is deleted or the index is rebuilt.
    // Keeping it costs add_edge about as much per edge as building it did,
    // so once add_edge and delete_edge have kept it for as many edges as it
    // was built from (and at least kMinScans) with no delete_node in between,
    // it is dropped, and the scans pay for it anew.
    struct IndexState {
        ReverseIndex<Id> chains;
        bool active = false;
        std::size_t stale = 0;  // links that are not the one link of a pending edge
        std::size_t scanned = 0;
        std::size_t kept = 0;  // add_edge and delete_edge calls since delete_node
        std::size_t allowance = 0;
    };

    // Lists each pending edge but a self-loop, the sources in walk order
    // (the same for the same history); `count` is about how many there are.
    // The heads of the targets lie anywhere in memory: it asks for each one
    // 16 edges before it lists the edge, whatever source holds it.
    void build_index(std::size_t count) {
        index_.chains.clear();
        index_.stale = 0;
        // Most graphs have about as many targets as sources (a table that
        // grows leaves the blocks it outgrew behind).
        index_.chains.reserve(count, std::min(count, edges.new_or_updated.size()));
        struct Edge {
            const Id* source;
            const Id* target;
        };
        LoadedAhead<Edge, 16> ahead;
        auto list = [&](const Edge& edge) {
            index_.chains.list(*edge.target, *edge.source);
            return true;
        };
        walk_loading_ahead<16>(
            edges.new_or_updated, [](const auto& source) { source.second.load_block(); },
            [&](const auto& source) {
                for (const auto& [target, weight] : source.second) {
                    if (target != source.first) {
                        index_.chains.load_home(target);
                        ahead.push(Edge{&source.first, &target}, list);
                    }
                }
                return true;
            });
        ahead.drain(list);
        index_.active = true;
    }

    // `count` edges of the index are no longer pending. Once the stale links
    // outnumber the pending edges and the sources (so that a rebuild costs
    // about what the calls that made them did), the index is built anew.
    void edges_unlisted(std::size_t count) {
        if (!index_.active) {
            return;
        }
        index_.stale += count;
        const std::size_t pending = index_.chains.links() - index_.stale;
        if (index_.stale > pending + edges.new_or_updated.size() + Price::kMinStale) {
            keeping_index([&] { build_index(pending); });
        }
    }

    // An add_edge or delete_edge changed the index.
    void kept_index() {
        if (++index_.kept > index_.allowance) {
            index_ = {};
        }
    }

    // Runs `change` on the index; one that runs out of memory drops it.
    template <class Change>
    void keeping_index(Change change) noexcept {
        try {
            change();
        } catch (...) {
            index_.chains.clear();
            index_.active = false;
        }
    }

    IndexState index_;

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
