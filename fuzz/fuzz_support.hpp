// Helpers shared by the fuzz targets: an independent UTF-8 check (so that a
// target can feed the JSON reader only what it is specified for, and compare
// the byte reader's verdict against a second implementation), comparisons of
// node updates and diffs that treat float bit patterns exactly, and a check
// that aborts with a message so that libFuzzer records the input.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "bytes/uuid_graph_diff.hpp"
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

// The first fault of a byte string that should be UTF-8, written the other way
// round from the core's checker: by ranges of the second byte per lead byte
// (Unicode table 3-7). `length` is the number of bytes of the bad sequence
// that were acceptable before the one that broke it (at least 1); a sequence
// cut off by the end of the data is incomplete.
struct Utf8Verdict {
    bool valid = true;
    bool incomplete = false;
    std::size_t index = 0;
    std::size_t length = 0;
};

inline Utf8Verdict check_utf8(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t need = 0;
        std::uint8_t second_lo = 0x80;
        std::uint8_t second_hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead == 0xE0) {
            need = 2;
            second_lo = 0xA0;
        } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
            need = 2;
        } else if (lead == 0xED) {
            need = 2;
            second_hi = 0x9F;
        } else if (lead == 0xF0) {
            need = 3;
            second_lo = 0x90;
        } else if (lead >= 0xF1 && lead <= 0xF3) {
            need = 3;
        } else if (lead == 0xF4) {
            need = 3;
            second_hi = 0x8F;
        } else {
            return {false, false, i, 1};
        }
        for (std::size_t k = 1; k <= need; ++k) {
            if (i + k >= size) {
                return {false, true, i, 0};
            }
            const std::uint8_t b = data[i + k];
            const std::uint8_t lo = k == 1 ? second_lo : 0x80;
            const std::uint8_t hi = k == 1 ? second_hi : 0xBF;
            if (b < lo || b > hi) {
                return {false, false, i, k};
            }
        }
        i += need + 1;
    }
    return {};
}

inline std::uint32_t bits_of(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline bool same_size_exactly(const std::optional<float>& a, const std::optional<float>& b) {
    if (a.has_value() != b.has_value()) {
        return false;
    }
    return !a.has_value() || bits_of(*a) == bits_of(*b);
}

// `after` went through the JSON text: a non-finite size comes back absent,
// every other size bit for bit (negative zero included).
inline bool same_size_through_text(const std::optional<float>& before,
                                   const std::optional<float>& after) {
    if (before.has_value() && !std::isfinite(*before)) {
        return !after.has_value();
    }
    return same_size_exactly(before, after);
}

inline bool same_fields_but_size(const tavro::NodeUpdate& a, const tavro::NodeUpdate& b) {
    return a.label == b.label && a.url == b.url && a.red == b.red && a.green == b.green &&
           a.blue == b.blue && a.show_label == b.show_label;
}

inline bool same_update_exactly(const tavro::NodeUpdate& a, const tavro::NodeUpdate& b) {
    return same_fields_but_size(a, b) && same_size_exactly(a.size, b.size);
}

inline bool same_update_through_text(const tavro::NodeUpdate& before,
                                     const tavro::NodeUpdate& after) {
    return same_fields_but_size(before, after) && same_size_through_text(before.size, after.size);
}

template <class Set>
bool same_id_set(const Set& a, const Set& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (const tavro::Uuid& id : a) {
        if (b.find(id) == b.end()) {
            return false;
        }
    }
    return true;
}

// Same ids in every container, same weights bit for bit, and node changes
// compared exactly or as after a trip through their JSON text.
inline bool same_content(const tavro::Diff& a, const tavro::Diff& b, bool sizes_through_text) {
    if (a.new_or_updated_nodes.size() != b.new_or_updated_nodes.size()) {
        return false;
    }
    for (const auto& [id, update] : a.new_or_updated_nodes) {
        auto other = b.new_or_updated_nodes.find(id);
        if (other == b.new_or_updated_nodes.end()) {
            return false;
        }
        const bool same = sizes_through_text ? same_update_through_text(update, other->second)
                                             : same_update_exactly(update, other->second);
        if (!same) {
            return false;
        }
    }
    if (!same_id_set(a.deleted_nodes, b.deleted_nodes)) {
        return false;
    }
    if (a.edges.new_or_updated.size() != b.edges.new_or_updated.size()) {
        return false;
    }
    for (const auto& [source, targets] : a.edges.new_or_updated) {
        auto other = b.edges.new_or_updated.find(source);
        if (other == b.edges.new_or_updated.end() || other->second.size() != targets.size()) {
            return false;
        }
        for (const auto& [target, weight] : targets) {
            auto w = other->second.find(target);
            if (w == other->second.end() || bits_of(w->second) != bits_of(weight)) {
                return false;
            }
        }
    }
    if (a.edges.deleted.size() != b.edges.deleted.size()) {
        return false;
    }
    for (const auto& [source, targets] : a.edges.deleted) {
        auto other = b.edges.deleted.find(source);
        if (other == b.edges.deleted.end() || !same_id_set(targets, other->second)) {
            return false;
        }
    }
    return true;
}

}  // namespace fuzz
