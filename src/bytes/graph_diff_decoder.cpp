// Reading a diff: the four sections in one forward pass, the JSON text of
// each surviving node change parsed right after the first. Nothing read is
// validated or repaired beyond its own block: an id both updated and
// deleted, or an empty inner map or set, stays exactly as read.
//
// A count is only a claim: before it sizes anything it is capped at the
// entries that the bytes left could hold, so no count makes room for more
// than the input itself could fill. Each container is sized for its whole
// count before its first entry goes in: the entries of a written container
// arrive in that container's walk order, i.e. in hash order, which piles
// them into one end of any smaller table they are fed to while it grows
// (quadratic time on open-addressing tables). A table of its final size
// takes them in that order without crowding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "bytes/byte_cursor.hpp"
#include "bytes/byte_layout.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "common/portable.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

// Room for `count` entries of at least `entry_size` bytes each, or for as
// many as the bytes left can hold when that is fewer (reading them then
// runs out of data on the way).
std::size_t room_for(std::uint64_t count, const ByteCursor& in, std::size_t entry_size) {
    return static_cast<std::size_t>(
        std::min(count, static_cast<std::uint64_t>(in.remaining() / entry_size)));
}

Uuid id_at(const std::uint8_t* bytes) {
    return Uuid::from_bytes(bytes);
}

struct NodeEntry {
    const std::uint8_t* id;
    // Parsed only once the whole first section is read, so the text of an id
    // that a later entry repeats is never parsed (nor copied).
    std::string_view text;
};

bool read_node_entries(ByteCursor& in, std::vector<NodeEntry>& entries) {
    std::uint64_t count = 0;
    if (!in.read_count(count)) {
        return false;
    }
    entries.reserve(room_for(count, in, byte_layout::kNodeEntryHeadSize));
    for (std::uint64_t i = 0; i < count; ++i) {
        NodeEntry entry{};
        if (!in.read_id(entry.id) || !in.read_text(entry.text)) {
            return false;
        }
        entries.push_back(entry);
    }
    return true;
}

// A counted list of ids. A repeated id is simply present once.
bool read_id_set(ByteCursor& in, std::uint64_t count, HashSet<Uuid>& set) {
    set.reserve(room_for(count, in, byte_layout::kIdSize));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* id = nullptr;
        if (!in.read_id(id)) {
            return false;
        }
        set.insert(id_at(id));
    }
    return true;
}

// A counted list of targets with weights. A repeated target keeps the later
// weight.
bool read_weight_map(ByteCursor& in, std::uint64_t count, HashMap<Uuid, Weight>& map) {
    map.reserve(room_for(count, in, byte_layout::kWeightedTargetSize));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* id = nullptr;
        Weight weight;
        if (!in.read_weighted_target(id, weight)) {
            return false;
        }
        map.insert_or_assign(id_at(id), weight);
    }
    return true;
}

// Sections 3 and 4: sources, each with a counted inner container. A repeated
// source replaces the whole earlier inner container; the two are not merged.
template <class Inner, class ReadInner>
bool read_sources(ByteCursor& in, HashMap<Uuid, Inner>& sources, ReadInner read_inner) {
    std::uint64_t count = 0;
    if (!in.read_count(count)) {
        return false;
    }
    sources.reserve(room_for(count, in, byte_layout::kSourceHeadSize));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* source = nullptr;
        std::uint64_t inner_count = 0;
        Inner targets;
        if (!in.read_id(source)) {
            return false;
        }
        // The source's slot loads while its targets are read.
        sources.load_home(id_at(source));
        if (!in.read_count(inner_count) || !read_inner(in, inner_count, targets)) {
            return false;
        }
        sources.insert_or_assign(id_at(source), std::move(targets));
    }
    return true;
}

// Parses the last text given for each id. Walking the entries from the back,
// the first one met for an id is the one that survives.
//
// The table is large and its slots are met in no order the hardware can
// guess: each step starts loading the home slot of the id a few entries on,
// and the id and text of the entry twice as far.
bool parse_node_texts(const std::vector<NodeEntry>& nodes, HashMap<Uuid, NodeUpdate>& out) {
    constexpr std::size_t kAhead = 8;
    out.reserve(nodes.size());
    for (std::size_t i = nodes.size(); i-- > 0;) {
        if (i >= 2 * kAhead) {
            const NodeEntry& later = nodes[i - 2 * kAhead];
            portable::prefetch(later.id);
            portable::prefetch(later.text.data() + later.text.size() / 2);
        }
        if (i >= kAhead) {
            out.load_home(id_at(nodes[i - kAhead].id));
        }
        auto [slot, inserted] = out.try_emplace(id_at(nodes[i].id));
        if (inserted && !read_node_update_json(nodes[i].text, slot->second)) {
            return false;
        }
    }
    return true;
}

// Reads the four sections into `diff`. The node texts are parsed as soon as
// the first section is read, while its bytes are still in cache.
bool read_sections(ByteCursor& in, Diff& diff) {
    {
        std::vector<NodeEntry> nodes;
        if (!read_node_entries(in, nodes) || !parse_node_texts(nodes, diff.new_or_updated_nodes)) {
            return false;
        }
    }
    const auto weight_map = [](ByteCursor& cursor, std::uint64_t count,
                               HashMap<Uuid, Weight>& targets) {
        return read_weight_map(cursor, count, targets);
    };
    const auto id_set = [](ByteCursor& cursor, std::uint64_t count, HashSet<Uuid>& targets) {
        return read_id_set(cursor, count, targets);
    };
    std::uint64_t deleted_count = 0;
    // Whatever follows the fourth section is not looked at.
    return in.read_count(deleted_count) && read_id_set(in, deleted_count, diff.deleted_nodes) &&
           read_sources(in, diff.edges.new_or_updated, weight_map) &&
           read_sources(in, diff.edges.deleted, id_set);
}

}  // namespace

std::optional<Diff> bytes_to_graph_diff(std::span<const std::uint8_t> input) {
    ByteCursor in(input);
    Diff diff;
    if (!read_sections(in, diff)) {
        return std::nullopt;
    }
    return diff;
}

}  // namespace tavro
