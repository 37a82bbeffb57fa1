// Helpers shared by the C++ tests: readable ids, node updates from JSON, a
// one-line rendering of a whole diff, and diffs built from a history.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <iomanip>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "bytes/uuid_graph_diff.hpp"
#include "common/uuid.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro::testing {

// An id with sixteen distinct bytes from `first` on (so a reversed or shifted
// copy shows), named by that letter in state(); other ids appear as hex.
inline Uuid id_of(char first) {
    Uuid id;
    for (std::size_t i = 0; i < 16; ++i) {
        id.bytes[i] = static_cast<std::uint8_t>(first + static_cast<char>(i));
    }
    return id;
}

inline Uuid counter_id(std::uint64_t n) {
    Uuid id;
    for (std::size_t i = 0; i < 8; ++i) {
        id.bytes[15 - i] = static_cast<std::uint8_t>(n >> (8 * i));
    }
    return id;
}

inline NodeUpdate update_of(std::string_view json) {
    auto read = read_node_update_json(json);
    EXPECT_TRUE(read.ok()) << json;
    return read.ok() ? std::move(read).value() : NodeUpdate{};
}

inline std::string json_of(const NodeUpdate& update) {
    std::string text;
    write_node_update_json(update, text);
    return text;
}

// The whole diff as sorted words: "Na{json}" a node change, "Da" a deleted
// node, "Ea:" a pending-edge source and "Eab=w" its edge, "Xa:" and "Xab" the
// same for deleted edges. Weights keep every bit (NaN payloads as hex).
inline std::string state(const Diff& d) {
    const auto name = [](const Uuid& id) {
        if (id == id_of(static_cast<char>(id.bytes[0]))) {
            return std::string(1, static_cast<char>(id.bytes[0]));
        }
        std::ostringstream hex;
        hex << '<' << std::hex;
        for (const std::uint8_t byte : id.bytes) {
            hex << (byte >> 4) << (byte & 15);
        }
        hex << '>';
        return hex.str();
    };
    const auto weight = [](float w) {
        std::ostringstream out;
        if (w != w) {
            out << "nan" << std::hex << std::bit_cast<std::uint32_t>(w);
        } else {
            out << std::setprecision(9) << w;
        }
        return out.str();
    };
    const auto word = [&](char kind, const Uuid& id) {
        return std::string(1, kind).append(name(id));
    };
    std::multiset<std::string> words;
    for (const auto& [id, update] : d.new_or_updated_nodes) {
        words.insert(word('N', id).append(json_of(update)));
    }
    for (const Uuid& id : d.deleted_nodes) {
        words.insert(word('D', id));
    }
    for (const auto& [source, targets] : d.edges.new_or_updated) {
        words.insert(word('E', source).append(":"));
        for (const auto& [target, w] : targets) {
            words.insert(word('E', source).append(name(target)).append("=").append(weight(w)));
        }
    }
    for (const auto& [source, targets] : d.edges.deleted) {
        words.insert(word('X', source).append(":"));
        for (const Uuid& target : targets) {
            words.insert(word('X', source).append(name(target)));
        }
    }
    std::string text;
    for (const std::string& w : words) {
        text.append(text.empty() ? "" : " ").append(w);
    }
    return text;
}

// Applies operations written like the words of state(): "Na{json}"
// add_or_update_node, "Da" delete_node, "Eab=w" add_edge (refusals ignored;
// "Eab=W7fc00001" gives the weight's bits), "Xab" delete_edge, and "clear".
inline Diff diff_of(std::string_view operations) {
    const auto bits_of = [](const std::string& w) {
        return std::bit_cast<float>(
            static_cast<std::uint32_t>(std::stoul(w.substr(1), nullptr, 16)));
    };
    Diff d;
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
            (void)d.add_edge(a, id_of(op[2]), w[0] == 'W' ? bits_of(w) : std::stof(w));
        } else {
            d.delete_edge(a, id_of(op[2]));
        }
    }
    return d;
}

}  // namespace tavro::testing
