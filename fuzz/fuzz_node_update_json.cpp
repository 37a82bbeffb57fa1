// Feeds arbitrary text to the node update JSON reader. The reader is
// specified for valid UTF-8 only (the byte reader checks that first), so
// other inputs are skipped. Beyond "no crash, no leak, no undefined
// behaviour", it checks that a failure is a JSON fault and that a read that
// succeeds is deterministic.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.hpp"
#include "node_update/node_update_json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::check_utf8(data, size).valid) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto read = tavro::read_node_update_json(text);
    if (!read.ok()) {
        FUZZ_CHECK(read.error().kind >= tavro::ErrorKind::json_eof);
        return 0;
    }
    auto again = tavro::read_node_update_json(text);
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(fuzz::same_update_exactly(read.value(), again.value()));
    return 0;
}
