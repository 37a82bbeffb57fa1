// Round trips. The first input byte picks the form of the rest:
//   even: a diff byte string. If it reads, writing the diff must succeed with
//         exactly the length the format's sizes give, the same bytes every
//         time and through the two-step encoder, and reading those bytes must
//         give the same content (a non-finite node size comes back absent,
//         everything else bit for bit, NaN weights included). A second trip
//         from there changes nothing.
//   odd:  a node update JSON text (skipped unless UTF-8). If it reads, the
//         written text must read back to the same update (a non-finite size
//         comes back absent), and writing is a fixed point from then on.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
#include "fuzz_support.hpp"
#include "node_update/node_update_json.hpp"

namespace {

// The record length that the format's block sizes give for `diff`.
std::size_t expected_length(const tavro::Diff& diff) {
    std::size_t total = 32;
    for (const auto& [id, update] : diff.new_or_updated_nodes) {
        std::string text;
        tavro::write_node_update_json(update, text);
        total += 32 + text.size();
    }
    total += 24 * diff.deleted_nodes.size();
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
    FUZZ_CHECK(bytes.size() == expected_length(diff),
               std::to_string(bytes.size()) + " vs " + std::to_string(expected_length(diff)));

    auto twice = tavro::graph_diff_to_bytes(diff);
    FUZZ_CHECK(twice.ok() && twice.value() == bytes, "writing twice gave different bytes");

    auto encoder = tavro::GraphDiffEncoder::prepare(diff);
    FUZZ_CHECK(encoder.ok());
    FUZZ_CHECK(encoder.value().size() == bytes.size());
    std::vector<std::uint8_t> direct(bytes.size() + 1, 0xa5);
    FUZZ_CHECK(encoder.value().write_to(direct.data()).ok());
    FUZZ_CHECK(direct.back() == 0xa5, "the encoder wrote past its size");
    direct.pop_back();
    FUZZ_CHECK(direct == bytes, "the two-step encoder and graph_diff_to_bytes disagree");
    return bytes;
}

void bytes_round_trip(const std::uint8_t* data, std::size_t size) {
    auto first = tavro::bytes_to_graph_diff(std::span<const std::uint8_t>(data, size));
    if (!first.ok()) {
        return;
    }
    const std::vector<std::uint8_t> bytes = write_checked(first.value());
    auto second = tavro::bytes_to_graph_diff(bytes);
    FUZZ_CHECK(second.ok(), "written bytes do not read");
    FUZZ_CHECK(fuzz::same_content(first.value(), second.value(), true));
    FUZZ_CHECK(first.value().num_nodes() == second.value().num_nodes());
    FUZZ_CHECK(first.value().num_edges() == second.value().num_edges());

    const std::vector<std::uint8_t> again = write_checked(second.value());
    auto third = tavro::bytes_to_graph_diff(again);
    FUZZ_CHECK(third.ok());
    FUZZ_CHECK(fuzz::same_content(second.value(), third.value(), false));
}

bool size_is_finite_or_absent(const tavro::NodeUpdate& update) {
    return !update.size.has_value() || std::isfinite(*update.size);
}

void json_round_trip(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::check_utf8(data, size).valid) {
        return;
    }
    auto first =
        tavro::read_node_update_json(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!first.ok()) {
        return;
    }
    std::string text;
    tavro::write_node_update_json(first.value(), text);
    FUZZ_CHECK(text.size() >= 2 && text.front() == '{' && text.back() == '}', text);
    FUZZ_CHECK(
        fuzz::check_utf8(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()).valid,
        "the writer produced text that is not UTF-8");

    auto second = tavro::read_node_update_json(text);
    FUZZ_CHECK(second.ok(), text);
    FUZZ_CHECK(fuzz::same_update_through_text(first.value(), second.value()), text);

    std::string text_again;
    tavro::write_node_update_json(second.value(), text_again);
    if (size_is_finite_or_absent(first.value())) {
        FUZZ_CHECK(text_again == text, text + " vs " + text_again);
    }
    auto third = tavro::read_node_update_json(text_again);
    FUZZ_CHECK(third.ok());
    FUZZ_CHECK(fuzz::same_update_exactly(second.value(), third.value()), text_again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    if ((data[0] & 1) == 0) {
        bytes_round_trip(data + 1, size - 1);
    } else {
        json_round_trip(data + 1, size - 1);
    }
    return 0;
}
