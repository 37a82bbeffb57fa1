// Helpers shared by the C++ tests: ids named by a letter, node updates from
// JSON, a one-line rendering of a whole diff, and diffs built from a history.
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

// Sixteen distinct bytes from `first` on, so that a reversed or shifted copy shows.
inline Uuid id_of(char first) {
    Uuid id;
    for (std::size_t i = 0; i < 16; ++i) {
        id.bytes[i] = static_cast<std::uint8_t>(first + static_cast<char>(i));
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

// The whole diff as sorted words, ids named by their first byte: "Na{json}"
// a node change, "Da" a deleted node, "Ea:" a pending-edge source and "Eab=w"
// its edge, "Xa:" and "Xab" the same for deleted edges.
inline std::string state(const Diff& d) {
    std::multiset<std::string> words;
    const auto word = [&](char kind, const Uuid& id, std::string rest) {
        words.insert(std::string{kind, static_cast<char>(id.bytes[0])} + rest);
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
            weight << static_cast<char>(target.bytes[0]) << '=' << std::setprecision(9) << w;
            word('E', source, weight.str());
        }
    }
    for (const auto& [source, targets] : d.edges.deleted) {
        word('X', source, ":");
        for (const Uuid& target : targets) {
            word('X', source, std::string(1, static_cast<char>(target.bytes[0])));
        }
    }
    std::string text;
    for (const std::string& w : words) {
        text.append(text.empty() ? "" : " ").append(w);
    }
    return text;
}

// Applies operations written like the words of state(): "Na{json}", "Da",
// "Eab=w" (refusals ignored; "Eab=W7fc00001" gives the weight's bits), "Xab"
// and "clear".
inline Diff diff_of(std::string_view operations) {
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
            (void)d.add_edge(a, id_of(op[2]),
                             w[0] == 'W' ? std::bit_cast<float>(static_cast<std::uint32_t>(
                                               std::stoul(w.substr(1), nullptr, 16)))
                                         : std::stof(w));
        } else {
            d.delete_edge(a, id_of(op[2]));
        }
    }
    return d;
}

}  // namespace tavro::testing
