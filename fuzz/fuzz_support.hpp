// Checks shared by the fuzz targets: a failed check aborts with a message, so
// libFuzzer keeps the input; diffs and node updates compared by content.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "diff/uuid_graph_diff.hpp"
#include "node_update/node_update.hpp"

namespace fuzz {

[[noreturn]] inline void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s %s\n", what, detail.c_str());
    std::abort();
}

#define FUZZ_CHECK(cond, ...)                               \
    do {                                                    \
        if (!(cond)) {                                      \
            ::fuzz::fail(#cond __VA_OPT__(, ) __VA_ARGS__); \
        }                                                   \
    } while (false)

// Sizes compare bit for bit; through the JSON text a non-finite size comes
// back absent.
inline bool same_update(const tavro::NodeUpdate& a, const tavro::NodeUpdate& b, bool through_text) {
    const auto bits = [](const std::optional<float>& size) {
        return size ? std::optional(std::bit_cast<std::uint32_t>(*size)) : std::nullopt;
    };
    const bool lost = through_text && a.size && !std::isfinite(*a.size);
    return a.label == b.label && a.url == b.url && a.red == b.red && a.green == b.green &&
           a.blue == b.blue && a.show_label == b.show_label &&
           (lost ? !b.size : bits(a.size) == bits(b.size));
}

// Whether every entry of `a` is in `b` with the same value (`same` compares
// values), and both hold as many.
template <class Map, class Same>
bool same_entries(const Map& a, const Map& b, Same same) {
    if (a.size() != b.size()) {
        return false;
    }
    for (const auto& entry : a) {
        const auto other = b.find(entry.first);
        if (other == b.end() || !same(entry.second, other->second)) {
            return false;
        }
    }
    return true;
}

template <class Set>
bool same_ids(const Set& a, const Set& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (const tavro::Uuid& id : a) {
        if (!b.contains(id)) {
            return false;
        }
    }
    return true;
}

inline bool same_content(const tavro::Diff& a, const tavro::Diff& b, bool through_text) {
    const auto update = [&](const auto& x, const auto& y) {
        return same_update(x, y, through_text);
    };
    const auto weights = [](const auto& x, const auto& y) {
        return same_entries(x, y, [](float v, float w) {
            return std::bit_cast<std::uint32_t>(v) == std::bit_cast<std::uint32_t>(w);
        });
    };
    const auto targets = [](const auto& x, const auto& y) { return same_ids(x, y); };
    return same_entries(a.new_or_updated_nodes, b.new_or_updated_nodes, update) &&
           same_ids(a.deleted_nodes, b.deleted_nodes) &&
           same_entries(a.edges.new_or_updated, b.edges.new_or_updated, weights) &&
           same_entries(a.edges.deleted, b.edges.deleted, targets);
}

}  // namespace fuzz
