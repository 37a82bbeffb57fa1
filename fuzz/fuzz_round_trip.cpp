// Reads any input with the byte reader; whatever reads is written (into a
// buffer of exactly its bound), read back and compared. The first byte picks
// the input: even, diff bytes; odd, a node update's JSON text, read inside a
// diff of one node.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "../tests/cpp/diff_text.hpp"
#include "bytes/graph_diff_bytes.hpp"

namespace {

using tavro::testing::state;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", what);
        std::abort();
    }
}

void bytes_round_trip(std::span<const std::uint8_t> data) {
    auto first = tavro::bytes_to_graph_diff(data);
    if (!first) {
        return;
    }
    std::vector<std::uint8_t> longer(data.begin(), data.end());
    longer.insert(longer.end(), {0xff, 0x00, 0x7b, 0x22, 0xc3});
    auto extended = tavro::bytes_to_graph_diff(longer);
    check(extended && state(*extended) == state(*first),
          "bytes after the end changed what was read");
    auto second = tavro::bytes_to_graph_diff(tavro::testing::to_bytes(*first));
    check(second.has_value(), "written bytes do not read");
    // A non-finite size is written as null and comes back absent.
    for (auto& [id, update] : first->new_or_updated_nodes) {
        if (update.size && !std::isfinite(*update.size)) {
            update.size.reset();
        }
    }
    check(state(*first) == state(*second), "the round trip changed the diff");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && data[0] % 2 == 0) {
        bytes_round_trip(std::span<const std::uint8_t>(data + 1, size - 1));
    } else if (size > 0) {
        std::vector<std::uint8_t> framed(32, 0);  // one node change, id all zeros
        framed[0] = 1;
        framed[8] = 16;
        for (std::size_t i = 0; i < 8; ++i) {
            framed.push_back(static_cast<std::uint8_t>((size - 1) >> (8 * i)));
        }
        framed.insert(framed.end(), data + 1, data + size);
        framed.insert(framed.end(), 24, 0);  // no deleted nodes, no edges
        bytes_round_trip(framed);
    }
    return 0;
}
