// Writing a diff: JSON texts first, then one measuring pass, then one buffer of
// exactly the measured length filled section by section.
#include <cstring>
#include <string>
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

// Every node change's JSON text, in the walk order of the node container, laid
// end to end in one buffer: one allocation for all texts instead of one per
// node, and no map to find them again (they are written in the same order).
NodeTexts node_texts(const Diff& diff) {
    NodeTexts texts;
    texts.ends.reserve(diff.new_or_updated_nodes.size());
    for (const auto& entry : diff.new_or_updated_nodes) {
        write_node_update_json(entry.second, texts.arena);
        texts.ends.push_back(texts.arena.size());
    }
    return texts;
}

CheckedLength measure(const NodeTexts& texts, const Diff& diff) {
    CheckedLength length(kSectionCountsSize);
    length.add_blocks(texts.ends.size(), kNodeEntryHeadSize);
    length.add(texts.arena.size());
    length.add_blocks(diff.deleted_nodes.size(), kIdSize);
    for (const auto& entry : diff.edges.new_or_updated) {
        length.add(kSourceHeadSize);
        length.add_blocks(entry.second.size(), kWeightedTargetSize);
    }
    for (const auto& entry : diff.edges.deleted) {
        length.add(kSourceHeadSize);
        length.add_blocks(entry.second.size(), kIdSize);
    }
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

bool write_node_changes(ByteWriter& out, const HashMap<Uuid, NodeUpdate>& nodes,
                        const NodeTexts& texts) {
    if (nodes.size() != texts.ends.size() || !write_count(out, nodes.size())) {
        return false;
    }
    std::size_t index = 0;
    std::size_t start = 0;
    for (const auto& entry : nodes) {
        const std::size_t end = texts.ends[index++];
        std::uint8_t* head = out.claim(kNodeEntryHeadSize);
        if (head == nullptr) {
            return false;
        }
        put::count(put::id(head, entry.first), end - start);
        std::uint8_t* body = out.claim(end - start);
        if (body == nullptr) {
            return false;
        }
        std::memcpy(body, texts.arena.data() + start, end - start);
        start = end;
    }
    return true;
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
// target written by `write_target`.
template <class Targets, class WriteTarget>
bool write_edge_section(ByteWriter& out, const HashMap<Uuid, Targets>& sources,
                        std::size_t target_size, WriteTarget write_target) {
    if (!write_count(out, sources.size())) {
        return false;
    }
    for (const auto& [source, targets] : sources) {
        std::uint8_t* head = out.claim(kSourceHeadSize);
        if (head == nullptr) {
            return false;
        }
        put::count(put::id(head, source), targets.size());
        for (const auto& target : targets) {
            std::uint8_t* room = out.claim(target_size);
            if (room == nullptr) {
                return false;
            }
            write_target(room, target);
        }
    }
    return true;
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
    NodeTexts texts = node_texts(diff);
    const CheckedLength length = measure(texts, diff);
    if (length.overflowed()) {
        return Error{ErrorKind::too_large};
    }
    return GraphDiffEncoder(diff, std::move(texts), length.total());
}

Result<void> GraphDiffEncoder::write_to(std::uint8_t* dest) const {
    ByteWriter out(dest, size_);
    const bool written = write_node_changes(out, diff_->new_or_updated_nodes, texts_) &&
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
