// Reading a diff: the four sections in one forward pass, then the JSON text of
// each surviving node change. Nothing read is validated or repaired beyond
// its own block: an id both updated and deleted, or an empty inner map or
// set, stays exactly as read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "bytes/byte_cursor.hpp"
#include "bytes/byte_layout.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

using namespace byte_layout;

// A count is only a claim: room is made for at most this many entries up
// front, and for no more than the bytes left could hold, so a huge count with
// little data behind it costs little before reading runs out of data.
constexpr std::uint64_t kMaxInitialRoom = 4096;

std::size_t initial_room(std::uint64_t count, std::size_t bytes_left, std::size_t min_entry_size) {
    const std::uint64_t fitting = bytes_left / min_entry_size;
    return static_cast<std::size_t>(std::min({count, kMaxInitialRoom, fitting}));
}

// Texts are kept as views into the input and parsed only after the last
// section, so the text of a repeated id that a later one replaces is never
// parsed (nor copied).
using NodeTexts = HashMap<Uuid, std::string_view>;

bool read_node_texts(ByteCursor& in, NodeTexts& texts) {
    std::uint64_t count = 0;
    if (!in.read_count(count)) {
        return false;
    }
    texts.reserve(initial_room(count, in.remaining(), kNodeEntryHeadSize));
    for (std::uint64_t i = 0; i < count; ++i) {
        Uuid id;
        std::string_view text;
        if (!in.read_id(id) || !in.read_text(text)) {
            return false;
        }
        texts.insert_or_assign(id, text);
    }
    return true;
}

bool read_id_set(ByteCursor& in, std::uint64_t count, HashSet<Uuid>& ids) {
    ids.reserve(initial_room(count, in.remaining(), kIdSize));
    for (std::uint64_t i = 0; i < count; ++i) {
        Uuid id;
        if (!in.read_id(id)) {
            return false;
        }
        ids.insert(id);
    }
    return true;
}

bool read_weighted_targets(ByteCursor& in, std::uint64_t count, HashMap<Uuid, float>& targets) {
    targets.reserve(initial_room(count, in.remaining(), kWeightedTargetSize));
    for (std::uint64_t i = 0; i < count; ++i) {
        Uuid target;
        float weight = 0.0f;
        if (!in.read_id(target) || !in.read_weight(weight)) {
            return false;
        }
        targets.insert_or_assign(target, weight);
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
    sources.reserve(initial_room(count, in.remaining(), kSourceHeadSize));
    for (std::uint64_t i = 0; i < count; ++i) {
        Uuid source;
        std::uint64_t inner_count = 0;
        if (!in.read_id(source) || !in.read_count(inner_count)) {
            return false;
        }
        auto [entry, inserted] = sources.try_emplace(source);
        if (!inserted) {
            entry->second = Inner{};
        }
        if (!read_inner(in, inner_count, entry->second)) {
            return false;
        }
    }
    return true;
}

}  // namespace

Result<Diff> bytes_to_graph_diff(std::span<const std::uint8_t> input) {
    ByteCursor in(input);
    NodeTexts texts;
    Diff diff;
    std::uint64_t deleted_count = 0;
    const bool read = read_node_texts(in, texts) && in.read_count(deleted_count) &&
                      read_id_set(in, deleted_count, diff.deleted_nodes) &&
                      read_sources(in, diff.edges.new_or_updated, read_weighted_targets) &&
                      read_sources(in, diff.edges.deleted, read_id_set);
    if (!read) {
        return in.take_error();
    }
    // Whatever follows the fourth section is not looked at.

    diff.new_or_updated_nodes.reserve(texts.size());
    for (const auto& [id, text] : texts) {
        Result<NodeUpdate> update = read_node_update_json(text);
        if (!update) {
            return update.error();
        }
        diff.new_or_updated_nodes.try_emplace(id, std::move(update).value());
    }
    return diff;
}

}  // namespace tavro
