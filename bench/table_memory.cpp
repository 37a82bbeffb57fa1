// Resident memory and time per add_edge of a diff holding many pending edges,
// and the speed of the diff's hash map against std::unordered_map.
//
//   table_memory EDGES_PER_SOURCE SOURCES [TARGET_POOL] [grouped|interleaved]
//   table_memory speed KEYS
//
// Each source gets EDGES_PER_SOURCE edges to targets drawn from a pool of
// TARGET_POOL ids (default 100000). "grouped" adds all edges of one source in
// a row; "interleaved" adds one edge to every source per round, so all inner
// maps grow side by side. Run each size in a fresh process: freed memory is
// not returned to the system reliably, so a second run in the same process
// would measure the first one's leftovers.
//
// "speed" inserts KEYS random ids into each map (same hash, no reserve), looks
// each up in another order, looks up KEYS absent ids, and erases all, and
// prints the time per operation of each step.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bytes/uuid_graph_diff.hpp"
#include "diff/hash_containers.hpp"
#include "random_ids.hpp"

namespace {

// CPU time of this process: on a shared machine wall time mostly measures
// the other processes.
double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::uint64_t resident_bytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long long size_pages = 0;
    unsigned long long resident_pages = 0;
    if (statm == nullptr || std::fscanf(statm, "%llu %llu", &size_pages, &resident_pages) != 2) {
        std::fprintf(stderr, "cannot read /proc/self/statm\n");
        std::exit(1);
    }
    std::fclose(statm);
    return resident_pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

std::uint64_t parse_count(const char* text) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || value == 0) {
        std::fprintf(stderr, "not a positive count: %s\n", text);
        std::exit(2);
    }
    return value;
}

template <class Map>
void time_map(const char* name, const std::vector<tavro::Uuid>& keys,
              const std::vector<tavro::Uuid>& lookup_order,
              const std::vector<tavro::Uuid>& absent) {
    const double count = static_cast<double>(keys.size());
    auto per_op = [count](double from, double to) { return (to - from) * 1e9 / count; };
    Map map;
    const double t0 = cpu_seconds();
    float weight = 0.0f;
    for (const auto& key : keys) {
        map.try_emplace(key, weight);
        weight += 1.0f;
    }
    const double t1 = cpu_seconds();
    double found = 0.0;
    for (const auto& key : lookup_order) {
        found += static_cast<double>(map.find(key)->second);
    }
    const double t2 = cpu_seconds();
    std::size_t missing = 0;
    for (const auto& key : absent) {
        missing += map.find(key) == map.end() ? 1u : 0u;
    }
    const double t3 = cpu_seconds();
    std::size_t erased = 0;
    for (const auto& key : lookup_order) {
        erased += map.erase(key);
    }
    const double t4 = cpu_seconds();
    std::printf("%-20s insert %6.1f  hit %6.1f  miss %6.1f  erase %6.1f CPU ns/op (%zu %zu %.0f)\n",
                name, per_op(t0, t1), per_op(t1, t2), per_op(t2, t3), per_op(t3, t4), missing,
                erased, found);
}

int run_speed(std::uint64_t count) {
    SplitMix64 rng{7};
    std::vector<tavro::Uuid> keys(count);
    std::vector<tavro::Uuid> absent(count);
    for (auto& id : keys) {
        id = random_id(rng);
    }
    for (auto& id : absent) {
        id = random_id(rng);
    }
    std::vector<tavro::Uuid> lookup_order = keys;
    for (std::size_t i = lookup_order.size(); i > 1; --i) {
        std::swap(lookup_order[i - 1], lookup_order[rng.next() % i]);
    }
    for (int round = 0; round < 3; ++round) {
        time_map<std::unordered_map<tavro::Uuid, float, tavro::KeyHash<tavro::Uuid>>>(
            "std::unordered_map", keys, lookup_order, absent);
        time_map<tavro::HashMap<tavro::Uuid, float>>("HashMap", keys, lookup_order, absent);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "speed") == 0) {
        return run_speed(parse_count(argv[2]));
    }
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr,
                     "usage: %s EDGES_PER_SOURCE SOURCES [TARGET_POOL] [grouped|interleaved]\n",
                     argv[0]);
        return 2;
    }
    const std::uint64_t per_source = parse_count(argv[1]);
    const std::uint64_t sources = parse_count(argv[2]);
    const std::uint64_t pool = argc > 3 ? parse_count(argv[3]) : 100000;
    const bool interleaved = argc > 4 && std::strcmp(argv[4], "interleaved") == 0;

    SplitMix64 rng{42};
    std::vector<tavro::Uuid> source_ids(sources);
    for (auto& id : source_ids) {
        id = random_id(rng);
    }
    std::vector<tavro::Uuid> target_ids(pool);
    for (auto& id : target_ids) {
        id = random_id(rng);
    }

    auto diff = std::make_unique<tavro::Diff>();
    const std::uint64_t before = resident_bytes();
    const double start = cpu_seconds();
    std::uint64_t added = 0;
    auto add = [&](std::uint64_t source) {
        const tavro::Uuid& to = target_ids[rng.next() % pool];
        if (!diff->add_edge(source_ids[source], to, tavro::Weight::of(static_cast<float>(added)))) {
            std::abort();
        }
        ++added;
    };
    if (interleaved) {
        for (std::uint64_t round = 0; round < per_source; ++round) {
            for (std::uint64_t s = 0; s < sources; ++s) {
                add(s);
            }
        }
    } else {
        for (std::uint64_t s = 0; s < sources; ++s) {
            for (std::uint64_t round = 0; round < per_source; ++round) {
                add(s);
            }
        }
    }
    const double stop = cpu_seconds();
    const std::uint64_t after = resident_bytes();

    std::uint64_t pending = 0;
    for (const auto& [source, targets] : diff->edges.new_or_updated) {
        pending += targets.size();
    }
    const double seconds = stop - start;
    std::printf("%s: %llu add_edge calls, %llu sources, %llu pending edges\n",
                interleaved ? "interleaved" : "grouped", static_cast<unsigned long long>(added),
                static_cast<unsigned long long>(diff->edges.new_or_updated.size()),
                static_cast<unsigned long long>(pending));
    std::printf("resident growth: %.1f MiB, %.2f bytes per pending edge\n",
                static_cast<double>(after - before) / (1024.0 * 1024.0),
                static_cast<double>(after - before) / static_cast<double>(pending));
    std::printf("CPU time: %.1f ns per add_edge\n", seconds * 1e9 / static_cast<double>(added));
    return 0;
}
