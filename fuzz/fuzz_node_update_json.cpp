// Feeds arbitrary text to the node update JSON reader. The reader is
// specified for valid UTF-8 only (the byte reader checks that first), so
// other inputs are skipped. Beyond "no crash, no leak, no undefined
// behaviour", it checks that every failure names its place as
// "... at line L column C" with L and C positive, and that a read that
// succeeds is deterministic.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "node_update/node_update_json.hpp"

namespace {

bool is_digits(std::string_view text) {
    if (text.empty() || text.front() == '0') {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// "<what> at line L column C", L and C without sign or leading zeros.
bool ends_with_position(const std::string& description) {
    const std::size_t line_at = description.rfind(" at line ");
    if (line_at == std::string::npos || line_at == 0) {
        return false;
    }
    const std::string_view rest = std::string_view(description).substr(line_at + 9);
    const std::size_t column_at = rest.find(" column ");
    if (column_at == std::string_view::npos) {
        return false;
    }
    return is_digits(rest.substr(0, column_at)) && is_digits(rest.substr(column_at + 8));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::check_utf8(data, size).valid) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto read = tavro::read_node_update_json(text);
    if (!read.ok()) {
        FUZZ_CHECK(ends_with_position(read.error().description), read.error().description);
        return 0;
    }
    auto again = tavro::read_node_update_json(text);
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(fuzz::same_update_exactly(read.value(), again.value()));
    return 0;
}
