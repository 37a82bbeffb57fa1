// The byte form of a diff: four sections (node changes, deleted nodes,
// pending edges, deleted edges), each an 8-byte little-endian count and its
// entries. Node changes travel as JSON text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "diff/result.hpp"
#include "diff/uuid_graph_diff.hpp"

namespace tavro {

Result<std::vector<std::uint8_t>> graph_diff_to_bytes(const Diff& diff);

// Reads a diff from `input`; bytes after the fourth section are ignored.
Result<Diff> bytes_to_graph_diff(std::span<const std::uint8_t> input);

}  // namespace tavro
