// The byte form of a diff: four sections (node changes, deleted nodes,
// pending edges, deleted edges), each an 8-byte little-endian count and its
// entries. Node changes travel as JSON text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "bytes/uuid_graph_diff.hpp"

namespace tavro {

// Writes a diff in two steps so that a caller can put the bytes straight into
// storage of its own (a Python bytes object) without an extra copy: prepare
// bounds the length without formatting anything, write_to fills the storage
// and says how much of it the bytes took, and the caller trims the rest.
class GraphDiffEncoder {
  public:
    // Keeps a reference to `diff`: it must stay alive and unchanged until the
    // last write_to. Fails when the length does not fit in a size_t.
    static std::optional<GraphDiffEncoder> prepare(const Diff& diff);

    // At least the length of the byte form: exact but for the node changes'
    // JSON texts, each counted at its longest for the lengths of its strings.
    std::size_t bound() const noexcept { return bound_; }

    // Writes the byte form to `dest`, which must have room for bound() bytes,
    // and returns its length. Fails only if the diff changed after prepare so
    // that its bytes no longer fit; even then nothing beyond bound() is
    // written.
    std::optional<std::size_t> write_to(std::uint8_t* dest) const;

  private:
    GraphDiffEncoder(const Diff& diff, std::size_t bound) : diff_(&diff), bound_(bound) {}

    const Diff* diff_;
    std::size_t bound_;
};

// Reads a diff from `input`; bytes after the fourth section are ignored.
// Fails for any input that is not a diff.
std::optional<Diff> bytes_to_graph_diff(std::span<const std::uint8_t> input);

}  // namespace tavro
