// The hash table against std::map: a history of operations decoded from the
// input (tests/cpp/table_history.hpp) runs on the table and on the reference,
// which must agree throughout. Low flood limits and a hash with few values (picked by the first
// byte) take the table into its ordered mode within a few dozen keys, so both modes and the switch
// are fuzzed.
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
    static constexpr std::size_t kTreeNodeBytes = 64;
};

using tavro::testing::PickedHash;
using Table =
    tavro::FlatMap<std::uint64_t, std::string, PickedHash, std::equal_to<>, std::less<>, LowLimits>;

void check(const std::string& error) {
    if (!error.empty()) {
        std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", error.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0) {
        Table table(PickedHash{data[0] % 4u});
        check(tavro::testing::run_history({data + 1, size - 1}, 64, table));
    }
    return 0;
}
