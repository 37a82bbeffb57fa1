// The hash table against std::map: a stream of operations decoded from the
// input (two bytes each: the operation, then the key) runs on the table and on
// the reference, which must agree throughout; a second table given the same
// history walks in the same order. Low flood limits and a hash with few values
// (picked by the first byte) take the table into its ordered mode within a few
// dozen keys, so both modes and the switch are fuzzed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/cpp/table_history.hpp"
#include "diff/flat_table_map.hpp"

namespace {

struct LowLimits {
    static constexpr std::uint32_t kMaxWindows = 3;
    static constexpr std::uint32_t kLongWindows = 1;
    static constexpr std::uint32_t kLongAllowance = 2;
    static constexpr std::uint32_t kLongShare = 8;
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

using Table =
    tavro::FlatMap<std::uint64_t, std::string, PickedHash, std::equal_to<>, std::less<>, LowLimits>;
using tavro::testing::TableOp;

std::vector<std::uint64_t> run(const std::uint8_t* data, std::size_t size) {
    std::vector<tavro::testing::TableStep> steps;
    for (std::size_t i = 1; i + 1 < size; i += 2) {
        const TableOp ops[] = {TableOp::kTryEmplace,      TableOp::kTryEmplace, TableOp::kAssign,
                               TableOp::kErase,           TableOp::kErase,      TableOp::kFind,
                               TableOp::kEraseClassInWalk};
        const std::uint8_t arg = data[i + 1];
        steps.push_back(data[i] % 8 < 7 ? tavro::testing::TableStep{ops[data[i] % 8], arg % 64u}
                        : arg < 8       ? tavro::testing::TableStep{TableOp::kClear, 0}
                        : arg < 64      ? tavro::testing::TableStep{TableOp::kReserve, arg}
                                        : tavro::testing::TableStep{TableOp::kCopy, arg % 64u});
    }
    Table table(PickedHash{data[0] % 4u});
    std::vector<std::uint64_t> order;
    const std::string error = tavro::testing::run_against_std_map(steps, table, order);
    if (!error.empty()) {
        std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", error.c_str());
        std::abort();
    }
    return order;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && run(data, size) != run(data, size)) {
        std::fprintf(stderr, "FUZZ CHECK FAILED: the same history walked differently\n");
        std::abort();
    }
    return 0;
}
