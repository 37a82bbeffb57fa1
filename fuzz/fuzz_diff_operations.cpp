// Drives a diff through a sequence of operations decoded from the input and
// checks it against a plain reference built on ordered standard containers:
// the same rules, written the obvious way. This puts the diff's hash tables
// through inserts, erases, regrowth and clears in whatever order the fuzzer
// finds. At the end (and every so often) it checks:
//   - the same content as the reference in all four containers;
//   - counts as the rules define them;
//   - a second diff given the same history walks in the same order (its
//     bytes are identical), and a copy compares equal;
//   - the bytes read back to the same content.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
#include "fuzz_support.hpp"

namespace {

using Key = std::array<std::uint8_t, 16>;

struct Reference {
    std::map<Key, tavro::NodeUpdate> nodes;
    std::set<Key> deleted;
    std::map<Key, std::map<Key, float>> edges;
    std::map<Key, std::set<Key>> deleted_edges;

    void add_node(const Key& id, const tavro::NodeUpdate& update) {
        auto [entry, inserted] = nodes.try_emplace(id, update);
        if (!inserted) {
            tavro::NodeUpdate copy = update;
            entry->second += std::move(copy);
        }
        deleted.erase(id);
    }

    void delete_node(const Key& id) {
        nodes.erase(id);
        edges.erase(id);
        for (auto& [source, targets] : edges) {
            if (targets.erase(id) != 0) {
                deleted_edges[source].insert(id);
            }
        }
        deleted.insert(id);
    }

    bool add_edge(const Key& from, const Key& to, float weight) {
        if (deleted.count(from) != 0 || deleted.count(to) != 0) {
            return false;
        }
        if (auto record = deleted_edges.find(from); record != deleted_edges.end()) {
            record->second.erase(to);
            if (record->second.empty()) {
                deleted_edges.erase(record);
            }
        }
        edges[from][to] = weight;
        return true;
    }

    void delete_edge(const Key& from, const Key& to) {
        deleted_edges[from].insert(to);
        if (auto pending = edges.find(from); pending != edges.end()) {
            pending->second.erase(to);
            if (pending->second.empty()) {
                edges.erase(pending);
            }
        }
    }
};

// Reads the input front to back; past the end every read gives zeros.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    void bytes(std::uint8_t* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = byte();
        }
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A pool of ids that share long prefixes and suffixes, as counters and
// time-ordered ids do, or (rarely) 16 bytes straight from the input.
Key next_id(Input& in) {
    Key id{};
    const std::uint8_t pick = in.byte();
    if (pick >= 0xF0) {
        in.bytes(id.data(), id.size());
        return id;
    }
    const unsigned index = pick % 80;
    if (index < 40) {
        id[15] = static_cast<std::uint8_t>(index);  // a big-endian counter
    } else {
        id[0] = static_cast<std::uint8_t>(index);  // a little-endian one
        id[8] = 0x80;
    }
    return id;
}

tavro::NodeUpdate next_update(Input& in) {
    const std::uint8_t mask = in.byte();
    tavro::NodeUpdate update;
    if ((mask & 1) != 0) {
        const std::size_t length = in.byte() % 24;
        update.label = std::string(length, static_cast<char>('a' + in.byte() % 26));
    }
    if ((mask & 2) != 0) {
        std::uint32_t bits = 0;
        std::uint8_t raw[4];
        in.bytes(raw, 4);
        std::memcpy(&bits, raw, 4);
        float size;
        std::memcpy(&size, &bits, 4);
        update.size = size;
    }
    if ((mask & 4) != 0) {
        update.url = std::string(in.byte() % 40, '/');
    }
    if ((mask & 8) != 0) {
        update.red = in.byte();
    }
    if ((mask & 16) != 0) {
        update.green = in.byte();
    }
    if ((mask & 32) != 0) {
        update.blue = in.byte();
    }
    if ((mask & 64) != 0) {
        update.show_label = (in.byte() & 1) != 0;
    }
    return update;
}

float next_weight(Input& in) {
    std::uint8_t raw[4];
    in.bytes(raw, 4);
    float weight;
    std::memcpy(&weight, raw, 4);
    return weight;
}

tavro::Uuid as_uuid(const Key& key) {
    return tavro::Uuid::from_bytes(key.data());
}

void check_same(const tavro::Diff& diff, const Reference& ref) {
    FUZZ_CHECK(diff.new_or_updated_nodes.size() == ref.nodes.size());
    for (const auto& [id, update] : ref.nodes) {
        auto found = diff.new_or_updated_nodes.find(as_uuid(id));
        FUZZ_CHECK(found != diff.new_or_updated_nodes.end());
        FUZZ_CHECK(fuzz::same_update_exactly(found->second, update));
    }
    FUZZ_CHECK(diff.deleted_nodes.size() == ref.deleted.size());
    for (const Key& id : ref.deleted) {
        FUZZ_CHECK(diff.deleted_nodes.contains(as_uuid(id)));
    }
    FUZZ_CHECK(diff.edges.new_or_updated.size() == ref.edges.size());
    for (const auto& [source, targets] : ref.edges) {
        auto found = diff.edges.new_or_updated.find(as_uuid(source));
        FUZZ_CHECK(found != diff.edges.new_or_updated.end());
        FUZZ_CHECK(found->second.size() == targets.size());
        for (const auto& [target, weight] : targets) {
            auto w = found->second.find(as_uuid(target));
            FUZZ_CHECK(w != found->second.end());
            FUZZ_CHECK(fuzz::bits_of(w->second) == fuzz::bits_of(weight));
        }
    }
    FUZZ_CHECK(diff.edges.deleted.size() == ref.deleted_edges.size());
    for (const auto& [source, targets] : ref.deleted_edges) {
        auto found = diff.edges.deleted.find(as_uuid(source));
        FUZZ_CHECK(found != diff.edges.deleted.end());
        FUZZ_CHECK(found->second.size() == targets.size());
        for (const Key& target : targets) {
            FUZZ_CHECK(found->second.contains(as_uuid(target)));
        }
    }
    // Walking sees every entry exactly once.
    std::size_t walked = 0;
    for (const auto& [source, targets] : diff.edges.new_or_updated) {
        FUZZ_CHECK(ref.edges.count(source.bytes) == 1);
        std::size_t inner = 0;
        for ([[maybe_unused]] const auto& entry : targets) {
            ++inner;
        }
        FUZZ_CHECK(inner == targets.size());
        ++walked;
    }
    FUZZ_CHECK(walked == ref.edges.size());
    FUZZ_CHECK(diff.num_nodes() == ref.nodes.size() + ref.deleted.size());
    FUZZ_CHECK(diff.num_edges() == ref.edges.size() + ref.deleted_edges.size());
}

// Runs the operations of `data` on `diff` (and on `ref` when given).
void run(const std::uint8_t* data, std::size_t size, tavro::Diff& diff, Reference* ref) {
    Input in(data, size);
    unsigned step = 0;
    while (!in.done()) {
        const std::uint8_t op = in.byte() % 16;
        if (op < 4) {
            const Key id = next_id(in);
            tavro::NodeUpdate update = next_update(in);
            if (ref != nullptr) {
                ref->add_node(id, update);
            }
            diff.add_or_update_node(as_uuid(id), std::move(update));
        } else if (op < 6) {
            const Key id = next_id(in);
            if (ref != nullptr) {
                ref->delete_node(id);
            }
            diff.delete_node(as_uuid(id));
        } else if (op < 11) {
            const Key from = next_id(in);
            const Key to = next_id(in);
            const float weight = next_weight(in);
            const bool accepted = diff.add_edge(as_uuid(from), as_uuid(to), weight).ok();
            if (ref != nullptr) {
                FUZZ_CHECK(accepted == ref->add_edge(from, to, weight));
            }
        } else if (op < 15) {
            const Key from = next_id(in);
            const Key to = next_id(in);
            if (ref != nullptr) {
                ref->delete_edge(from, to);
            }
            diff.delete_edge(as_uuid(from), as_uuid(to));
        } else if (in.byte() < 0x10) {
            if (ref != nullptr) {
                *ref = Reference{};
            }
            diff.clear();
        }
        if (ref != nullptr && ++step % 512 == 0) {
            check_same(diff, *ref);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tavro::Diff diff;
    Reference ref;
    run(data, size, diff, &ref);
    check_same(diff, ref);

    const tavro::Diff copy = diff;
    FUZZ_CHECK(fuzz::same_content(copy, diff, false));

    tavro::Diff again;
    run(data, size, again, nullptr);
    auto bytes = tavro::graph_diff_to_bytes(diff);
    auto bytes_again = tavro::graph_diff_to_bytes(again);
    FUZZ_CHECK(bytes.ok() && bytes_again.ok());
    FUZZ_CHECK(bytes.value() == bytes_again.value(), "the same history walked differently");

    auto back = tavro::bytes_to_graph_diff(bytes.value());
    FUZZ_CHECK(back.ok());
    FUZZ_CHECK(fuzz::same_content(diff, back.value(), true));
    return 0;
}
