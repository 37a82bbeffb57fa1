// The JSON text in which a NodeUpdate travels inside the byte form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "node_update/float_text.hpp"
#include "node_update/node_update.hpp"

namespace tavro {

// The exact JSON text of one update: members in field order, absent fields
// left out, no whitespace, a non-finite size written as null. It can be
// measured before it is written, so that it goes straight into a buffer of
// the right length. The update must outlive this and stay unchanged.
class NodeUpdateJson {
  public:
    // Finds the shortest digits of the size: the one part of the text whose
    // length takes real work to know.
    explicit NodeUpdateJson(const NodeUpdate& update) noexcept;
    // Reuses the digits that size_digits() gave for the same update earlier.
    NodeUpdateJson(const NodeUpdate& update, const Float32Decimal& size_digits) noexcept
        : update_(&update), size_digits_(size_digits) {}

    const Float32Decimal& size_digits() const noexcept { return size_digits_; }

    // The length of the text; saturates at the largest size_t.
    std::size_t size() const noexcept;

    // At least size(), found without reading the characters of the label and
    // the url (each counted as a six-character escape); saturates.
    std::size_t most() const noexcept;

    // Writes the text, exactly size() characters, to `out` and returns their end.
    char* write(char* out) const noexcept;

  private:
    const NodeUpdate* update_;
    Float32Decimal size_digits_;  // of a finite size
};

// Appends the text of `update` to `out`. Writing cannot fail.
void write_node_update_json(const NodeUpdate& update, std::string& out);

// Reads one complete JSON text (already known to be valid UTF-8) into
// `update`, which must be empty, in one forward pass without recursion. False
// for a text that is not a node update; `update` then holds whatever was read
// before the fault.
[[nodiscard]] bool read_node_update_json(std::string_view text, NodeUpdate& update);

}  // namespace tavro
