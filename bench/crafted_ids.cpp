// Ids crafted against the diff's own hash, home function and capacities, as
// an attacker who reads the source would make them; written to stdout as raw
// 16-byte ids.
//
//   crafted_ids range|under|random COUNT TABLE
//
// TABLE is the container the ids will land in and how it gets its capacity:
// set-reserve (deleted nodes read from bytes), set-grow (delete_node calls),
// edges-reserve (one source's targets read from bytes), edges-grow (add_edge
// calls into one source), nodes-reserve, nodes-grow (node changes),
// index-reserve (add_edge calls from as many sources, whose targets then fill
// the table of targets of delete_node's reverse index, made at its size).
//
// "range": every id's home position lies in one short range (3 windows), so
// in a flat table each insert probes past all ids before it.
// "under": clusters of 1,600 ids (100 windows each, under the 128-window
// bound of a single probe), spread evenly over the table.
// "random": plain random ids, for comparison.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bytes/uuid_graph_diff.hpp"
#include "random_ids.hpp"

namespace {

// The capacity the table will have once `count` ids are in it.
template <class Table>
std::size_t capacity_for(std::size_t count, bool grow) {
    Table table;
    if (!grow) {
        table.reserve(count);
        return table.capacity();
    }
    SplitMix64 rng{1};
    for (std::size_t i = 0; i < count; ++i) {
        const tavro::Uuid id = random_id(rng);
        if constexpr (requires { table.insert(id); }) {
            table.insert(id);
        } else {
            table.try_emplace(id);
        }
    }
    return table.capacity();
}

std::size_t table_capacity(const std::string& table, std::size_t count) {
    const bool grow = table.ends_with("-grow");
    if (table.starts_with("set-")) {
        return capacity_for<decltype(tavro::Diff{}.deleted_nodes)>(count, grow);
    }
    if (table.starts_with("edges-")) {
        return capacity_for<tavro::HashMap<tavro::Uuid, float>>(count, grow);
    }
    if (table.starts_with("index-")) {
        return capacity_for<tavro::HashMap<tavro::Uuid, std::array<std::uint32_t, 2>>>(count, grow);
    }
    if (table.starts_with("nodes-")) {
        return capacity_for<decltype(tavro::Diff{}.new_or_updated_nodes)>(count, grow);
    }
    std::fprintf(stderr, "unknown table: %s\n", table.c_str());
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s range|under|random COUNT TABLE\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[1];
    const std::size_t count = std::strtoull(argv[2], nullptr, 10);
    const std::size_t capacity = table_capacity(argv[3], count);
    constexpr std::size_t kWindow = 16;
    constexpr std::size_t kClusterIds = 100 * kWindow;
    const std::size_t clusters = (count + kClusterIds - 1) / kClusterIds;
    const std::size_t spacing = clusters == 0 ? capacity : capacity / clusters;
    std::vector<std::size_t> filled(clusters, 0);

    SplitMix64 rng{0xc0ffee};
    std::vector<tavro::Uuid> ids;
    ids.reserve(count);
    while (ids.size() < count) {
        const tavro::Uuid id = random_id(rng);
        const std::size_t home = tavro::flat_table_detail::home_of(tavro::hash_id(id), capacity);
        bool keep = kind == "random";
        if (kind == "range") {
            keep = home < 3 * kWindow;
        } else if (kind == "under") {
            const std::size_t cluster = home / spacing;
            keep = home % spacing < kWindow && cluster < clusters &&
                   filled[cluster] < kClusterIds && ++filled[cluster] > 0;
        }
        if (keep) {
            ids.push_back(id);
        }
    }
    std::fwrite(ids.data(), sizeof(tavro::Uuid), ids.size(), stdout);
    std::fprintf(stderr, "%zu %s ids for capacity %zu\n", ids.size(), kind.c_str(), capacity);
    return 0;
}
