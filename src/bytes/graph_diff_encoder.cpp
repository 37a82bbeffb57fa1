// Writing a diff: one measuring pass, then one buffer of exactly the measured
// length filled section by section, the JSON texts written in place.
#include <cstring>
#include <utility>
#include <vector>

#include "bytes/byte_layout.hpp"
#include "bytes/byte_writer.hpp"
#include "bytes/checked_length.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

using namespace byte_layout;

using NodeChanges = HashMap<Uuid, NodeUpdate>;

// Calls visit(entry) for every entry of `table` in walk order until it
// returns false, while a second walk `Ahead` entries on calls load(entry):
// loads started there have arrived by the time the first walk gets to them.
// (The table's own iterator already starts loading the block of an inner
// table 16 entries on.) Returns whether every visit returned true.
template <int Ahead, class Table, class Load, class Visit>
bool walk_loading_ahead(const Table& table, Load load, Visit visit) {
    auto ahead = table.begin();
    for (int i = 0; i < Ahead && ahead != table.end(); ++i) {
        ++ahead;
    }
    for (const auto& entry : table) {
        if (ahead != table.end()) {
            load(*ahead);
            ++ahead;
        }
        if (!visit(entry)) {
            return false;
        }
    }
    return true;
}

// A text longer than a string's inline room sits in a block of its own
// somewhere in the heap: a cache miss per node unless loaded ahead.
void load_texts(const NodeChanges::value_type& entry) noexcept {
    const NodeUpdate& update = entry.second;
    if (update.label) {
        __builtin_prefetch(update.label->data());
    }
    if (update.url) {
        __builtin_prefetch(update.url->data());
    }
}

// The first lines of a source's targets; its block header was loaded ahead
// by the walk's iterator.
constexpr auto load_targets = [](const auto& entry) noexcept {
    const auto& targets = entry.second;
    if (targets.empty()) {
        return;
    }
    const char* const first = reinterpret_cast<const char*>(&*targets.begin());
    const std::size_t bytes = targets.size() * sizeof(*targets.begin());
    for (std::size_t offset = 0; offset < bytes && offset < 512; offset += 64) {
        __builtin_prefetch(first + offset);
    }
};

constexpr auto load_nothing = [](const auto&) noexcept {};

CheckedLength measure(const Diff& diff, std::vector<Float32Decimal>& size_digits) {
    CheckedLength length(kSectionCountsSize);
    const NodeChanges& nodes = diff.new_or_updated_nodes;
    length.add_blocks(nodes.size(), kNodeEntryHeadSize);
    size_digits.reserve(nodes.size());
    walk_loading_ahead<8>(nodes, load_texts, [&](const auto& entry) {
        const NodeUpdateJson json(entry.second);
        size_digits.push_back(json.size_digits());
        length.add(json.size());
        return true;
    });
    length.add_blocks(diff.deleted_nodes.size(), kIdSize);
    // Only the sizes of the inner tables are read here, so little work
    // passes between loads: their blocks are asked for further ahead.
    const auto measure_sources = [&](const auto& sources, std::size_t target_size) {
        walk_loading_ahead<48>(sources, load_nothing, [&](const auto& entry) {
            length.add(kSourceHeadSize);
            length.add_blocks(entry.second.size(), target_size);
            return true;
        });
    };
    measure_sources(diff.edges.new_or_updated, kWeightedTargetSize);
    measure_sources(diff.edges.deleted, kIdSize);
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

bool write_node_changes(ByteWriter& out, const NodeChanges& nodes,
                        const std::vector<Float32Decimal>& size_digits) {
    if (nodes.size() != size_digits.size() || !write_count(out, nodes.size())) {
        return false;
    }
    std::size_t index = 0;
    return walk_loading_ahead<8>(nodes, load_texts, [&](const auto& entry) {
        std::uint8_t* head = out.claim(kNodeEntryHeadSize);
        if (head == nullptr) {
            return false;
        }
        const NodeUpdateJson json(entry.second, size_digits[index++]);
        // The text goes in first and is claimed by where it ends: its bound
        // costs no scan of its strings. Only near the end of the buffer, where
        // the bound may not fit, is the text measured exactly.
        std::uint8_t* room = out.peek(json.most());
        if (room == nullptr) {
            room = out.peek(json.size());
            if (room == nullptr) {
                return false;
            }
        }
        char* const text = reinterpret_cast<char*>(room);
        const auto length = static_cast<std::size_t>(json.write(text) - text);
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
    return walk_loading_ahead<8>(sources, load_targets, [&](const auto& entry) {
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

bool write_pending_edges(ByteWriter& out, const HashMap<Uuid, HashMap<Uuid, float>>& edges) {
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

Result<GraphDiffEncoder> GraphDiffEncoder::prepare(const Diff& diff) {
    std::vector<Float32Decimal> size_digits;
    const CheckedLength length = measure(diff, size_digits);
    if (length.overflowed()) {
        return Error{ErrorKind::too_large};
    }
    return GraphDiffEncoder(diff, std::move(size_digits), length.total());
}

Result<void> GraphDiffEncoder::write_to(std::uint8_t* dest) const {
    ByteWriter out(dest, size_);
    const bool written = write_node_changes(out, diff_->new_or_updated_nodes, size_digits_) &&
                         write_deleted_nodes(out, diff_->deleted_nodes) &&
                         write_pending_edges(out, diff_->edges.new_or_updated) &&
                         write_deleted_edges(out, diff_->edges.deleted);
    if (!written || !out.at_end()) {
        return Error{ErrorKind::changed};
    }
    return {};
}

Result<std::vector<std::uint8_t>> graph_diff_to_bytes(const Diff& diff) {
    TAVRO_TRY_ASSIGN(const GraphDiffEncoder encoder, GraphDiffEncoder::prepare(diff));
    std::vector<std::uint8_t> bytes;
    if (encoder.size() > bytes.max_size()) {
        return Error{ErrorKind::too_large};
    }
    bytes.resize(encoder.size());
    TAVRO_TRY(encoder.write_to(bytes.data()));
    return bytes;
}

}  // namespace tavro
