// Reading a diff: the four sections in one forward pass, then the JSON text of
// each surviving node change. Nothing read is validated or repaired beyond
// its own block: an id both updated and deleted, or an empty inner map or
// set, stays exactly as read.
//
// Entries are first listed as pointers into the input, and a container is
// filled only once its entries have all been read, with room for exactly
// that many. Two reasons: a count is only a claim, so it never sizes a
// container; and the entries of a written container arrive in that
// container's walk order, i.e. in hash order, which piles them into one end
// of any smaller table they are fed to while it grows (quadratic time on
// open-addressing tables). A table of its final size takes them in that order
// without crowding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "bytes/byte_cursor.hpp"
#include "bytes/byte_layout.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

// Room made for the entries a count announces before any of them has been
// read, so a huge count with little data behind it costs little before
// reading runs out of data; lists grow as entries actually arrive.
constexpr std::uint64_t kMaxAnnouncedRoom = 4096;

std::size_t announced_room(std::uint64_t count) {
    return static_cast<std::size_t>(std::min(count, kMaxAnnouncedRoom));
}

Uuid id_at(const std::uint8_t* bytes) {
    return Uuid::from_bytes(bytes);
}

struct NodeEntry {
    const std::uint8_t* id;
    // Parsed only after the last section, so the text of an id that a later
    // entry repeats is never parsed (nor copied).
    std::string_view text;
};

struct WeightedTarget {
    const std::uint8_t* id;
    float weight;
};

bool read_node_entries(ByteCursor& in, std::vector<NodeEntry>& entries) {
    std::uint64_t count = 0;
    if (!in.read_count(count)) {
        return false;
    }
    entries.reserve(announced_room(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        NodeEntry entry{};
        if (!in.read_id(entry.id) || !in.read_text(entry.text)) {
            return false;
        }
        entries.push_back(entry);
    }
    return true;
}

// Replaces the contents of `ids` with a counted list of ids.
bool read_id_list(ByteCursor& in, std::uint64_t count, std::vector<const std::uint8_t*>& ids) {
    ids.clear();
    ids.reserve(announced_room(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* id = nullptr;
        if (!in.read_id(id)) {
            return false;
        }
        ids.push_back(id);
    }
    return true;
}

bool read_weighted_list(ByteCursor& in, std::uint64_t count, std::vector<WeightedTarget>& targets) {
    targets.clear();
    targets.reserve(announced_room(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        WeightedTarget target{};
        if (!in.read_id(target.id) || !in.read_weight(target.weight)) {
            return false;
        }
        targets.push_back(target);
    }
    return true;
}

// A repeated id is simply present once.
HashSet<Uuid> id_set(const std::vector<const std::uint8_t*>& ids) {
    HashSet<Uuid> set;
    set.reserve(ids.size());
    for (const std::uint8_t* id : ids) {
        set.insert(id_at(id));
    }
    return set;
}

// A repeated target keeps the later weight.
HashMap<Uuid, float> weight_map(const std::vector<WeightedTarget>& targets) {
    HashMap<Uuid, float> map;
    map.reserve(targets.size());
    for (const WeightedTarget& target : targets) {
        map.insert_or_assign(id_at(target.id), target.weight);
    }
    return map;
}

// Sections 3 and 4: sources, each with a counted inner container. A repeated
// source replaces the whole earlier inner container; the two are not merged.
template <class Inner, class ReadInner>
bool read_sources(ByteCursor& in, HashMap<Uuid, Inner>& sources, ReadInner read_inner) {
    static_assert(std::is_nothrow_move_constructible_v<Inner>,
                  "staged inner containers must move, not copy, when the list grows");
    std::uint64_t count = 0;
    if (!in.read_count(count)) {
        return false;
    }
    std::vector<std::pair<const std::uint8_t*, Inner>> staged;
    staged.reserve(announced_room(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* source = nullptr;
        std::uint64_t inner_count = 0;
        Inner targets;
        if (!in.read_id(source) || !in.read_count(inner_count) ||
            !read_inner(in, inner_count, targets)) {
            return false;
        }
        staged.emplace_back(source, std::move(targets));
    }
    sources.reserve(staged.size());
    for (auto& [source, targets] : staged) {
        sources.insert_or_assign(id_at(source), std::move(targets));
    }
    return true;
}

// Reads the four sections into `diff`, leaving the node texts in `nodes`.
bool read_sections(ByteCursor& in, std::vector<NodeEntry>& nodes, Diff& diff) {
    if (!read_node_entries(in, nodes)) {
        return false;
    }

    std::vector<const std::uint8_t*> ids;
    std::uint64_t deleted_count = 0;
    if (!in.read_count(deleted_count) || !read_id_list(in, deleted_count, ids)) {
        return false;
    }
    diff.deleted_nodes = id_set(ids);

    std::vector<WeightedTarget> weighted;
    const auto read_pending = [&weighted](ByteCursor& cursor, std::uint64_t count,
                                          HashMap<Uuid, float>& targets) {
        if (!read_weighted_list(cursor, count, weighted)) {
            return false;
        }
        targets = weight_map(weighted);
        return true;
    };
    if (!read_sources(in, diff.edges.new_or_updated, read_pending)) {
        return false;
    }

    const auto read_deleted = [&ids](ByteCursor& cursor, std::uint64_t count,
                                     HashSet<Uuid>& targets) {
        if (!read_id_list(cursor, count, ids)) {
            return false;
        }
        targets = id_set(ids);
        return true;
    };
    // Whatever follows the fourth section is not looked at.
    return read_sources(in, diff.edges.deleted, read_deleted);
}

// Parses the last text given for each id. Walking the entries from the back,
// the first one met for an id is the one that survives.
Result<void> parse_node_texts(const std::vector<NodeEntry>& nodes, HashMap<Uuid, NodeUpdate>& out) {
    out.reserve(nodes.size());
    for (auto entry = nodes.rbegin(); entry != nodes.rend(); ++entry) {
        auto [slot, inserted] = out.try_emplace(id_at(entry->id));
        if (!inserted) {
            continue;
        }
        TAVRO_TRY_ASSIGN(slot->second, read_node_update_json(entry->text));
    }
    return {};
}

}  // namespace

Result<Diff> bytes_to_graph_diff(std::span<const std::uint8_t> input) {
    ByteCursor in(input);
    std::vector<NodeEntry> nodes;
    Diff diff;
    if (!read_sections(in, nodes, diff)) {
        return in.take_error();
    }
    TAVRO_TRY(parse_node_texts(nodes, diff.new_or_updated_nodes));
    return diff;
}

}  // namespace tavro
