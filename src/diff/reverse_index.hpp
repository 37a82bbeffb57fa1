// A reverse index of pending edges: for each target, the sources that were
// listed under it, in kLanes chains (by the link's position mod kLanes, so
// that a walk has that many loads in flight, not one: 3 took 4% off a
// delete_node call at 100,000 sources against 2, and 2 took 6% against 1).
// Listing is one append; nothing is ever unlisted but a whole chain, so a
// listed source may have lost its edge since (the owner checks each one) and
// may be listed twice. The owner counts such stale links and rebuilds the
// index before they outnumber the live ones.
//
// A link is 20 bytes in one array, found by its 32-bit position; each target
// costs one entry (28 bytes) in a table of chain heads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "diff/hash_containers.hpp"

namespace tavro {

template <class Id>
class ReverseIndex {
  public:
    // Lists `source` under `target`. Throws std::bad_alloc when out of memory
    // or out of positions.
    void list(const Id& target, const Id& source) {
        if (links_.size() >= kEnd) {
            throw std::bad_alloc();
        }
        // A head added here and left with no link (push_back failed) is an
        // empty chain.
        const auto position = static_cast<std::uint32_t>(links_.size());
        Heads empty;
        empty.fill(kEnd);
        std::uint32_t& head = heads_.try_emplace(target, empty).first->second[position % kLanes];
        links_.push_back(Link{source, head});
        head = position;
    }

    // Calls visit(source) for each source listed under `target`.
    template <class Visit>
    void for_each_source(const Id& target, Visit visit) {
        const auto heads = heads_.find(target);
        if (heads == heads_.end()) {
            return;
        }
        Heads at = heads->second;
        for (bool more = true; more;) {
            more = false;
            for (std::uint32_t& lane : at) {
                if (lane != kEnd) {
                    visit(links_[lane].source);
                    lane = links_[lane].next;
                    more = true;
                }
            }
        }
    }

    // Drops the chain of `target`.
    void forget(const Id& target) { heads_.erase(target); }

    [[gnu::always_inline]] void load_home(const Id& target) const noexcept {
        heads_.load_home(target);
    }

    // Room for `links` links under about `targets` targets.
    void reserve(std::size_t links, std::size_t targets) {
        links_.reserve(links);
        heads_.reserve(targets);
    }

    // Every link, whether a live edge or stale; what delete_node walks and
    // what memory the index holds grow with it.
    std::size_t links() const noexcept { return links_.size(); }

    void clear() noexcept {
        heads_.clear();
        links_ = {};
    }

  private:
    static constexpr std::uint32_t kEnd = UINT32_MAX;

    struct Link {
        Id source;
        std::uint32_t next;
    };

    static constexpr std::uint32_t kLanes = 3;
    using Heads = std::array<std::uint32_t, kLanes>;  // of the positions by their rest mod kLanes

    HashMap<Id, Heads> heads_;
    std::vector<Link> links_;
};

}  // namespace tavro
