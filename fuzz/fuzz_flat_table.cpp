// The hash table against std::map: a stream of operations decoded from the
// input runs on the table and on the reference, and after every one the
// results agree; at the end the contents agree and a second table given the
// same history walks in the same order. Low flood limits and a hash with few
// values (picked by the first byte) take the table into its ordered mode
// within a few dozen keys, so both modes and the switch are fuzzed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "diff/flat_table_map.hpp"

#define FUZZ_CHECK(cond)                                            \
    do {                                                            \
        if (!(cond)) {                                              \
            std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", #cond); \
            std::abort();                                           \
        }                                                           \
    } while (false)

namespace {

struct LowLimits {
    static constexpr std::uint32_t kMaxWindows = 3;
    static constexpr std::uint32_t kLongWindows = 1;
    static constexpr std::uint32_t kLongAllowance = 2;
    static constexpr std::uint32_t kLongShare = 8;
    static constexpr std::size_t kTreeNodeBytes = 64;
};

// Mixes, or keeps only `values` distinct hashes (0: mix).
struct PickedHash {
    std::uint64_t values = 0;
    std::uint64_t operator()(std::uint64_t key) const noexcept {
        if (values != 0) {
            return key % values * (~std::uint64_t{0} / values);
        }
        key = (key ^ (key >> 33)) * 0xff51afd7ed558ccdULL;
        return key ^ (key >> 29);
    }
};

using Table = tavro::FlatMap<std::uint64_t, std::uint32_t, PickedHash, std::equal_to<>, std::less<>,
                             LowLimits>;

std::vector<std::uint64_t> run(const std::uint8_t* data, std::size_t size) {
    Table table(PickedHash{data[0] % 4u});
    std::map<std::uint64_t, std::uint32_t> reference;
    for (std::size_t i = 1; i + 1 < size; i += 2) {
        const std::uint64_t key = data[i + 1] % 64u * 0x9e3779b97f4a7c15ULL;
        const auto value = static_cast<std::uint32_t>(i);
        switch (data[i] % 8) {
            case 0:
            case 1:
                FUZZ_CHECK(table.try_emplace(key, value).second ==
                           reference.try_emplace(key, value).second);
                break;
            case 2:
                table.insert_or_assign(key, value);
                reference.insert_or_assign(key, value);
                break;
            case 3:
            case 4:
                FUZZ_CHECK(table.erase(key) == reference.erase(key));
                break;
            case 5: {
                const auto it = table.find(key);
                FUZZ_CHECK(it == table.end() ? !reference.contains(key)
                                             : reference.at(key) == it->second);
                break;
            }
            case 6:  // erase during a walk, every key in one class
                for (auto it = table.begin(); it != table.end();) {
                    it = it->first % 3 == key % 3 ? table.erase(it) : std::next(it);
                }
                std::erase_if(reference, [&](const auto& e) { return e.first % 3 == key % 3; });
                break;
            default:
                if (data[i + 1] < 8) {
                    table.clear();
                    reference.clear();
                } else if (data[i + 1] < 64) {
                    table.reserve(data[i + 1]);
                } else {
                    Table copy = table;
                    FUZZ_CHECK(copy == table);
                    table = std::move(copy);
                }
        }
        FUZZ_CHECK(table.size() == reference.size());
    }
    std::vector<std::uint64_t> order;
    for (const auto& [key, value] : table) {
        FUZZ_CHECK(reference.contains(key) && reference.at(key) == value);
        order.push_back(key);
    }
    FUZZ_CHECK(order.size() == reference.size());
    FUZZ_CHECK(!table.is_ordered() || std::is_sorted(order.begin(), order.end()));
    return order;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0) {
        FUZZ_CHECK(run(data, size) == run(data, size));
    }
    return 0;
}
