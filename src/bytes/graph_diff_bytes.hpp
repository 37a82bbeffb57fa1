// The byte form of a diff: four sections (node changes, deleted nodes,
// pending edges, deleted edges), each an 8-byte little-endian count and its
// entries. Node changes travel as JSON text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "bytes/uuid_graph_diff.hpp"
#include "common/result.hpp"
#include "diff/hash_containers.hpp"
#include "node_update/float_text.hpp"

namespace tavro {

// Writes a diff in two steps so that a caller can put the bytes straight into
// storage of its own (a Python bytes object) without an extra copy: prepare
// measures the exact length, write_to fills it, JSON texts included.
class GraphDiffEncoder {
  public:
    // Keeps a reference to `diff`: it must stay alive and unchanged until the
    // last write_to.
    static Result<GraphDiffEncoder> prepare(const Diff& diff);

    // The exact length of the byte form.
    std::size_t size() const noexcept { return size_; }

    // Writes exactly size() bytes to `dest`, which must have room for them.
    // Fails only if the diff changed after prepare so that its bytes no
    // longer have that length; even then nothing beyond size() is written.
    Result<void> write_to(std::uint8_t* dest) const;

  private:
    GraphDiffEncoder(const Diff& diff, std::vector<Float32Decimal> size_digits, std::size_t size)
        : diff_(&diff), size_digits_(std::move(size_digits)), size_(size) {}

    const Diff* diff_;
    // The digits of each node change's size, in the walk order of the node
    // container: found when measuring, reused when writing.
    std::vector<Float32Decimal> size_digits_;
    std::size_t size_;
};

Result<std::vector<std::uint8_t>> graph_diff_to_bytes(const Diff& diff);

// Reads a diff from `input`; bytes after the fourth section are ignored.
Result<Diff> bytes_to_graph_diff(std::span<const std::uint8_t> input);

}  // namespace tavro
