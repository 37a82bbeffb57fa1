// Feeds arbitrary bytes to the diff reader. Beyond "no crash, no leak, no
// undefined behaviour", it checks:
//   - a successful read needs at least the four 8-byte counts;
//   - bytes after a readable diff are ignored: the same input with junk
//     appended reads to the same content;
//   - reading is deterministic (the same input twice gives the same content);
//   - the input used as the text of a single node entry is refused as UTF-8
//     exactly when an independent check finds a fault.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
#include "fuzz_support.hpp"

namespace {

void put_u64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void check_whole_input(const std::uint8_t* data, std::size_t size) {
    auto first = tavro::bytes_to_graph_diff(std::span<const std::uint8_t>(data, size));
    if (!first.ok()) {
        return;
    }
    FUZZ_CHECK(size >= 32, "read succeeded on " + std::to_string(size) + " bytes");

    auto again = tavro::bytes_to_graph_diff(std::span<const std::uint8_t>(data, size));
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(fuzz::same_content(first.value(), again.value(), false));

    std::vector<std::uint8_t> longer(data, data + size);
    const std::uint8_t junk[] = {0xff, 0x00, 0x7b, 0x22, 0xc3, 0x10, 0x00};
    longer.insert(longer.end(), std::begin(junk), std::end(junk));
    auto extended = tavro::bytes_to_graph_diff(longer);
    FUZZ_CHECK(extended.ok(), "appending bytes broke a readable input");
    FUZZ_CHECK(fuzz::same_content(first.value(), extended.value(), false));
}

// One node entry whose text is the whole input, then three empty sections.
void check_as_node_text(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> record;
    put_u64(record, 1);
    put_u64(record, 16);
    for (std::uint8_t i = 0; i < 16; ++i) {
        record.push_back(i);
    }
    put_u64(record, size);
    record.insert(record.end(), data, data + size);
    put_u64(record, 0);
    put_u64(record, 0);
    put_u64(record, 0);

    auto read = tavro::bytes_to_graph_diff(record);
    if (!fuzz::check_utf8(data, size).valid) {
        FUZZ_CHECK(!read.ok(), "a text that is not UTF-8 was accepted");
        FUZZ_CHECK(read.error().kind == tavro::ErrorKind::invalid_utf8);
        return;
    }
    if (read.ok()) {
        FUZZ_CHECK(read.value().new_or_updated_nodes.size() == 1);
        FUZZ_CHECK(read.value().num_nodes() == 1 && read.value().num_edges() == 0);
    } else {
        // A JSON fault, never a UTF-8 one.
        FUZZ_CHECK(read.error().kind != tavro::ErrorKind::invalid_utf8);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_whole_input(data, size);
    check_as_node_text(data, size);
    return 0;
}
