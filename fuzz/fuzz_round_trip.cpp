// Reads any input with both readers; whatever reads is written, read back and
// compared. The first byte picks the reader: even, the diff bytes; odd, a
// node update's JSON text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
#include "bytes/utf8_validation.hpp"
#include "node_update/node_update_json.hpp"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", what);
        std::abort();
    }
}

std::string json_of(const tavro::NodeUpdate& update) {
    std::string text;
    tavro::write_node_update_json(update, text);
    return text;
}

// The diff as a sorted list of its entries, ids and weights as raw bytes; a
// non-finite size is left out, as writing leaves it out.
std::multiset<std::string> entries(const tavro::Diff& d) {
    const auto raw = [](const auto& value) {
        return std::string(reinterpret_cast<const char*>(&value), sizeof value);
    };
    std::multiset<std::string> out{std::to_string(d.num_nodes()) + "/" +
                                   std::to_string(d.num_edges())};
    for (auto [node, update] : d.new_or_updated_nodes) {
        if (update.size && !std::isfinite(*update.size)) {
            update.size.reset();
        }
        out.insert("N" + raw(node) + json_of(update));
    }
    for (const auto& node : d.deleted_nodes) {
        out.insert("D" + raw(node));
    }
    for (const auto& [source, targets] : d.edges.new_or_updated) {
        out.insert("E" + raw(source));
        for (const auto& [target, w] : targets) {
            out.insert("E" + raw(source) + raw(target) + raw(w));
        }
    }
    for (const auto& [source, targets] : d.edges.deleted) {
        out.insert("X" + raw(source));
        for (const auto& target : targets) {
            out.insert("X" + raw(source) + raw(target));
        }
    }
    return out;
}

// Both ways of writing give the same bytes, and nothing past the measured length.
std::vector<std::uint8_t> write_checked(const tavro::Diff& diff) {
    auto written = tavro::graph_diff_to_bytes(diff);
    check(written.ok(), "writing a readable diff failed");
    auto encoder = tavro::GraphDiffEncoder::prepare(diff);
    check(encoder.ok() && encoder.value().size() == written.value().size(),
          "measured the wrong length");
    std::vector<std::uint8_t> direct(written.value().size() + 1, 0xa5);
    check(encoder.value().write_to(direct.data()).ok() && direct.back() == 0xa5,
          "wrote past the end");
    direct.pop_back();
    check(direct == written.value(), "two ways of writing disagree");
    return std::move(written).value();
}

void bytes_round_trip(std::span<const std::uint8_t> data) {
    auto first = tavro::bytes_to_graph_diff(data);
    if (!first.ok()) {
        return;
    }
    std::vector<std::uint8_t> longer(data.begin(), data.end());
    longer.insert(longer.end(), {0xff, 0x00, 0x7b, 0x22, 0xc3});
    auto extended = tavro::bytes_to_graph_diff(longer);
    check(extended.ok() && entries(extended.value()) == entries(first.value()),
          "bytes after the end changed what was read");
    auto second = tavro::bytes_to_graph_diff(write_checked(first.value()));
    check(second.ok(), "written bytes do not read");
    check(entries(first.value()) == entries(second.value()), "the round trip changed the diff");
}

void json_round_trip(std::string_view data) {
    if (!tavro::is_utf8(reinterpret_cast<const std::uint8_t*>(data.data()), data.size())) {
        return;  // the byte reader checks UTF-8 before it reads JSON
    }
    auto first = tavro::read_node_update_json(data);
    if (!first.ok()) {
        return;
    }
    auto second = tavro::read_node_update_json(json_of(first.value()));
    check(second.ok(), "written JSON does not read");
    auto third = tavro::read_node_update_json(json_of(second.value()));
    check(third.ok() && json_of(second.value()) == json_of(third.value()), "JSON round trip");
    tavro::NodeUpdate sizeless = first.value();
    sizeless.size = second.value().size;  // absent again if it was not finite
    check(json_of(sizeless) == json_of(second.value()), "JSON round trip changed a field");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && data[0] % 2 == 0) {
        bytes_round_trip(std::span<const std::uint8_t>(data + 1, size - 1));
    } else if (size > 0) {
        json_round_trip(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    }
    return 0;
}
