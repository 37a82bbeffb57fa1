// Writing a diff: one pass that bounds the length without formatting
// anything, then one buffer of that length filled section by section, the
// JSON texts written in place, and trimmed by the caller to what was written.
#include <optional>

#include "bytes/byte_layout.hpp"
#include "bytes/byte_writer.hpp"
#include "bytes/checked_length.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "common/portable.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

using namespace byte_layout;

using NodeChanges = HashMap<Uuid, NodeUpdate>;

// Walks the node changes, loading each node's label and url ahead: a text
// longer than a string's inline room sits in a block of its own.
template <class Visit>
bool walk_nodes(const NodeChanges& nodes, Visit visit) {
    const auto load_texts = [](const auto& entry) {
        if (entry.second.label) {
            portable::prefetch(entry.second.label->data());
        }
        if (entry.second.url) {
            portable::prefetch(entry.second.url->data());
        }
    };
    return walk_loading_ahead<8>(nodes, load_texts, visit);
}

// Walks a section's sources, loading each one's table of targets ahead.
template <class Targets, class Visit>
bool walk_sources(const HashMap<Uuid, Targets>& sources, Visit visit) {
    const auto load_targets = [](const auto& entry) { entry.second.load_block(); };
    return walk_loading_ahead<16>(sources, load_targets, visit);
}

// Exact but for the node texts, each counted at its longest (see
// node_update_json_bound), which needs no more than the strings' lengths.
CheckedLength length_bound(const Diff& diff) {
    CheckedLength length(kSectionCountsSize);
    for (const auto& entry : diff.new_or_updated_nodes) {
        length.add(kNodeEntryHeadSize);
        length.add(node_update_json_bound(entry.second));
    }
    length.add_blocks(diff.deleted_nodes.size(), kIdSize);
    walk_sources(diff.edges.new_or_updated, [&](const auto& entry) {
        length.add(kSourceHeadSize);
        length.add_blocks(entry.second.size(), kWeightedTargetSize);
        return true;
    });
    walk_sources(diff.edges.deleted, [&](const auto& entry) {
        length.add(kSourceHeadSize);
        length.add_blocks(entry.second.size(), kIdSize);
        return true;
    });
    return length;
}

bool write_count(ByteWriter& out, std::size_t count) {
    std::uint8_t* room = out.claim(kCountSize);
    if (room == nullptr) {
        return false;
    }
    put::count(room, count);
    return true;
}

bool write_node_changes(ByteWriter& out, const NodeChanges& nodes) {
    if (!write_count(out, nodes.size())) {
        return false;
    }
    return walk_nodes(nodes, [&](const auto& entry) {
        std::uint8_t* head = out.claim(kNodeEntryHeadSize);
        if (head == nullptr) {
            return false;
        }
        // The text goes in first and is claimed by where it ends; its bound,
        // part of the whole's, fits unless the diff changed since prepare.
        std::uint8_t* room = out.peek(node_update_json_bound(entry.second));
        if (room == nullptr) {
            return false;
        }
        char* const text = reinterpret_cast<char*>(room);
        const auto length =
            static_cast<std::size_t>(write_node_update_json(entry.second, text) - text);
        out.claim(length);  // within what was peeked
        put::count(put::id(head, entry.first), length);
        return true;
    });
}

bool write_deleted_nodes(ByteWriter& out, const HashSet<Uuid>& ids) {
    if (!write_count(out, ids.size())) {
        return false;
    }
    for (const Uuid& id : ids) {
        std::uint8_t* room = out.claim(kIdSize);
        if (room == nullptr) {
            return false;
        }
        put::id(room, id);
    }
    return true;
}

// Sections 3 and 4: per source its id and target count, then one block per
// target written by `write_target`; a source's entry is claimed whole.
template <class Targets, class WriteTarget>
bool write_edge_section(ByteWriter& out, const HashMap<Uuid, Targets>& sources,
                        std::size_t target_size, WriteTarget write_target) {
    if (!write_count(out, sources.size())) {
        return false;
    }
    return walk_sources(sources, [&](const auto& entry) {
        const auto& [source, targets] = entry;
        CheckedLength length(kSourceHeadSize);
        length.add_blocks(targets.size(), target_size);
        std::uint8_t* room = length.overflowed() ? nullptr : out.claim(length.total());
        if (room == nullptr) {
            return false;
        }
        room = put::count(put::id(room, source), targets.size());
        for (const auto& target : targets) {
            write_target(room, target);
            room += target_size;
        }
        return true;
    });
}

bool write_pending_edges(ByteWriter& out, const HashMap<Uuid, HashMap<Uuid, Weight>>& edges) {
    return write_edge_section(out, edges, kWeightedTargetSize,
                              [](std::uint8_t* room, const auto& target) {
                                  put::weight(put::id(room, target.first), target.second);
                              });
}

bool write_deleted_edges(ByteWriter& out, const HashMap<Uuid, HashSet<Uuid>>& edges) {
    return write_edge_section(
        out, edges, kIdSize, [](std::uint8_t* room, const Uuid& target) { put::id(room, target); });
}

}  // namespace

std::optional<GraphDiffEncoder> GraphDiffEncoder::prepare(const Diff& diff) {
    const CheckedLength length = length_bound(diff);
    if (length.overflowed()) {
        return std::nullopt;
    }
    return GraphDiffEncoder(diff, length.total());
}

std::optional<std::size_t> GraphDiffEncoder::write_to(std::uint8_t* dest) const {
    ByteWriter out(dest, bound_);
    const bool written = write_node_changes(out, diff_->new_or_updated_nodes) &&
                         write_deleted_nodes(out, diff_->deleted_nodes) &&
                         write_pending_edges(out, diff_->edges.new_or_updated) &&
                         write_deleted_edges(out, diff_->edges.deleted);
    if (!written) {
        return std::nullopt;
    }
    return out.written();
}

}  // namespace tavro
