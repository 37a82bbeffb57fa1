// Reads any input with both readers; whatever reads is written, read back and
// compared. The first byte picks the reader: even, the diff bytes; odd, a
// node update's JSON text. Writing checks the exact length, repeats the same
// bytes, and never passes the measured length.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
#include "bytes/utf8_validation.hpp"
#include "fuzz_support.hpp"
#include "node_update/node_update_json.hpp"

namespace {

std::size_t expected_length(const tavro::Diff& diff) {
    std::size_t total = 32 + 24 * diff.deleted_nodes.size();
    for (const auto& [id, update] : diff.new_or_updated_nodes) {
        std::string text;
        tavro::write_node_update_json(update, text);
        total += 32 + text.size();
    }
    for (const auto& [source, targets] : diff.edges.new_or_updated) {
        total += 32 + 28 * targets.size();
    }
    for (const auto& [source, targets] : diff.edges.deleted) {
        total += 32 + 24 * targets.size();
    }
    return total;
}

std::vector<std::uint8_t> write_checked(const tavro::Diff& diff) {
    auto written = tavro::graph_diff_to_bytes(diff);
    FUZZ_CHECK(written.ok(), "writing a readable diff failed");
    std::vector<std::uint8_t> bytes = std::move(written).value();
    FUZZ_CHECK(bytes.size() == expected_length(diff), std::to_string(bytes.size()));
    auto encoder = tavro::GraphDiffEncoder::prepare(diff);
    FUZZ_CHECK(encoder.ok() && encoder.value().size() == bytes.size());
    std::vector<std::uint8_t> direct(bytes.size() + 1, 0xa5);
    FUZZ_CHECK(encoder.value().write_to(direct.data()).ok());
    FUZZ_CHECK(direct.back() == 0xa5, "the encoder wrote past its size");
    direct.pop_back();
    FUZZ_CHECK(direct == bytes, "writing twice gave different bytes");
    return bytes;
}

void bytes_round_trip(std::span<const std::uint8_t> data) {
    auto first = tavro::bytes_to_graph_diff(data);
    if (!first.ok()) {
        return;
    }
    FUZZ_CHECK(data.size() >= 32);
    std::vector<std::uint8_t> longer(data.begin(), data.end());
    longer.insert(longer.end(), {0xff, 0x00, 0x7b, 0x22, 0xc3});
    auto extended = tavro::bytes_to_graph_diff(longer);
    FUZZ_CHECK(extended.ok() && fuzz::same_content(first.value(), extended.value(), false),
               "bytes after the end changed what was read");

    const std::vector<std::uint8_t> bytes = write_checked(first.value());
    auto second = tavro::bytes_to_graph_diff(bytes);
    FUZZ_CHECK(second.ok(), "written bytes do not read");
    FUZZ_CHECK(fuzz::same_content(first.value(), second.value(), true));
    FUZZ_CHECK(first.value().num_nodes() == second.value().num_nodes());
    FUZZ_CHECK(first.value().num_edges() == second.value().num_edges());
    auto third = tavro::bytes_to_graph_diff(write_checked(second.value()));
    FUZZ_CHECK(third.ok() && fuzz::same_content(second.value(), third.value(), false));
}

void json_round_trip(std::string_view data) {
    if (tavro::find_utf8_fault(reinterpret_cast<const std::uint8_t*>(data.data()), data.size())) {
        return;  // the byte reader checks UTF-8 before it reads JSON
    }
    auto first = tavro::read_node_update_json(data);
    if (!first.ok()) {
        return;
    }
    std::string text;
    tavro::write_node_update_json(first.value(), text);
    auto second = tavro::read_node_update_json(text);
    FUZZ_CHECK(second.ok(), text);
    FUZZ_CHECK(fuzz::same_update(first.value(), second.value(), true), text);
    std::string again;
    tavro::write_node_update_json(second.value(), again);
    FUZZ_CHECK(again == text || (first.value().size && !std::isfinite(*first.value().size)),
               text + " then " + again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    if ((data[0] & 1) == 0) {
        bytes_round_trip(std::span<const std::uint8_t>(data + 1, size - 1));
    } else {
        json_round_trip(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    }
    return 0;
}
