// The one walk over an Apple partition map: every listing and merge reads
// the map through it, whatever the medium, so they all stop at the same
// bound. Blocks are 512 bytes, numbered from the start of the medium.
#pragma once

#include <cstdint>
#include <functional>

#include "hybrid/apm/partition_map.h"
#include "hybrid/io/block_source.h"

namespace hybrid {

// A map claiming more entries than this is walked this far only; no Apple
// map on a real disk comes near it, and a corrupt count must not keep the
// job reading for hours.
constexpr std::int32_t max_walked_map_blocks = 65536;

// Reads block `block` into the 512 bytes at `into`: a reader of another
// shape than a block_source (--info's, bounded by the length it was given).
using map_block_reader = std::function<block_read(std::uint32_t block, std::uint8_t* into)>;

enum class map_visit { go_on, stop };
// Sees one block of the walk's span; may change the bytes, which are the
// walk's own and are read over by the next block.
using map_block_visitor = std::function<map_visit(std::uint32_t block, std::uint8_t* bytes)>;

// The blocks handed to the visitor, N being the map block count of block 1
// (at most max_walked_map_blocks). N counts block 1 itself, so only the first
// span stays inside the map; the other two also take the block after the
// last entry, which those walks have always examined.
enum class map_span {
  // The disk listing; nothing when N <= 0.
  blocks_1_to_n,
  // The file listing and both merges; blocks 0 and 1 are read, block 0 not
  // handed, and nothing when N <= 0. Block 1 is handed: a map whose block 1
  // is an Apple_HFS entry (no entry of its own) has a partition there, which
  // a merge must move like any other.
  blocks_1_to_n_plus_1,
  // The CD-ROM listing; block 0 only when N < 0.
  blocks_0_to_n_plus_1,
};

enum class map_walk_end {
  complete,     // the span was walked, or the medium ended first
  read_failed,  // the reader said why
  stopped,      // the visitor stopped it
};

// Reads the blocks in order, each once: from block 1 for blocks_1_to_n,
// from block 0 otherwise, so a reader that streams never goes back.
map_walk_end walk_map(map_span span, block_source& blocks, const map_block_visitor& visit);
map_walk_end walk_map(map_span span, const map_block_reader& read, const map_block_visitor& visit);

}  // namespace hybrid
