// A diff as text, shared by the C++ tests and the fuzz targets: ids named by
// a letter, node updates as JSON, the whole diff as sorted words, and diffs
// built from a history written in those words.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
#include "common/uuid.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro::testing {

// Sixteen distinct bytes from `first` on, so that a reversed or shifted copy shows.
inline Uuid id_of(char first) {
    Uuid id;
    for (std::size_t i = 0; i < 16; ++i) {
        id.bytes[i] = static_cast<std::uint8_t>(first + static_cast<char>(i));
    }
    return id;
}

inline std::string name_of(const Uuid& id) {
    if (id == id_of(static_cast<char>(id.bytes[0]))) {
        return std::string(1, static_cast<char>(id.bytes[0]));
    }
    std::string hex = "[";
    for (const std::uint8_t byte : id.bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex + "]";
}

// The text of `update`, written into a buffer with room to spare beyond its
// bound; a text that runs past the bound stops the test.
inline std::string json_of(const NodeUpdate& update) {
    const std::size_t bound = node_update_json_bound(update);
    std::vector<char> room(bound + 64);
    char* const end = write_node_update_json(update, room.data());
    if (end > room.data() + bound) {
        std::fprintf(stderr, "a node update's text ran past its bound\n");
        std::abort();
    }
    return std::string(room.data(), end);
}

// The whole diff as sorted words, ids made by id_of() named by their first
// byte (others by their 32 hex digits, in brackets): "Na{json}" a node change,
// "Da" a deleted node, "Ea:" a pending-edge source and "Eab=w" its edge (a NaN
// weight as its bits, "Eab=W7fc00001"), "Xa:" and "Xab" the same for deleted
// edges.
template <class D = Diff>
std::string state(const D& d) {
    std::multiset<std::string> words;
    const auto word = [&](char kind, const Uuid& id, const std::string& rest) {
        words.insert(kind + name_of(id) + rest);
    };
    for (const auto& [id, update] : d.new_or_updated_nodes) {
        word('N', id, json_of(update));
    }
    for (const Uuid& id : d.deleted_nodes) {
        word('D', id, "");
    }
    for (const auto& [source, targets] : d.edges.new_or_updated) {
        word('E', source, ":");
        for (const auto& [target, w] : targets) {
            std::ostringstream weight;
            weight << name_of(target) << '=' << std::setprecision(9);
            if (std::isnan(w.value())) {
                weight << 'W' << std::hex << w.bits;
            } else {
                weight << w.value();
            }
            word('E', source, weight.str());
        }
    }
    for (const auto& [source, targets] : d.edges.deleted) {
        word('X', source, ":");
        for (const Uuid& target : targets) {
            word('X', source, name_of(target));
        }
    }
    std::string text;
    for (const std::string& w : words) {
        text.append(text.empty() ? "" : " ").append(w);
    }
    return text;
}

// The node update a JSON text reads as; a text that does not read is a fault
// of the test itself, which stops there.
inline NodeUpdate update_of(std::string_view json) {
    NodeUpdate update;
    if (!read_node_update_json(json, update)) {
        std::fprintf(stderr, "not a node update: %.*s\n", static_cast<int>(json.size()),
                     json.data());
        std::abort();
    }
    return update;
}

// The byte form of `diff`, written into a buffer of exactly its bound, so that
// AddressSanitizer sees a write past it. A diff that does not write stops
// the test.
inline std::vector<std::uint8_t> to_bytes(const Diff& diff) {
    const std::optional<GraphDiffEncoder> encoder = GraphDiffEncoder::prepare(diff);
    std::vector<std::uint8_t> bytes(encoder ? encoder->bound() : 0);
    const std::optional<std::size_t> length =
        encoder ? encoder->write_to(bytes.data()) : std::nullopt;
    if (!length) {
        std::fprintf(stderr, "a diff did not write\n");
        std::abort();
    }
    bytes.resize(*length);
    return bytes;
}

// Applies operations written like the words of state(): "Na{json}", "Da",
// "Eab=w" (refusals ignored; "Eab=W7fc00001" gives the weight's bits), "Xab"
// and "clear".
template <class D = Diff>
D diff_of(std::string_view operations) {
    D d;
    std::istringstream in{std::string(operations)};
    for (std::string op; in >> op;) {
        const Uuid a = id_of(op[1]);
        if (op == "clear") {
            d.clear();
        } else if (op[0] == 'N') {
            d.add_or_update_node(a, update_of(op.substr(2)));
        } else if (op[0] == 'D') {
            d.delete_node(a);
        } else if (op[0] == 'E') {
            const std::string w = op.substr(4);
            d.add_edge(
                a, id_of(op[2]),
                w[0] == 'W'
                    ? Weight{static_cast<std::uint32_t>(std::stoul(w.substr(1), nullptr, 16))}
                    : Weight::of(std::stof(w)));
        } else {
            d.delete_edge(a, id_of(op[2]));
        }
    }
    return d;
}

}  // namespace tavro::testing
