// The one walk over an Apple partition map: every listing, merge and
// description reads the map through it, whatever the medium, so they all
// stop at the same bound. Blocks are numbered from the start of the medium
// in the map's own block size: 512 bytes for every map the jobs take, 2048
// for the maps Mac CD-ROM and DVD mastering writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "hybrid/apm/partition_map.h"
#include "hybrid/io/block_source.h"

namespace hybrid {

// A map claiming more entries than this is walked this far only; no Apple
// map on a real disk comes near it, and a corrupt count must not keep the
// job reading for hours.
constexpr std::int32_t max_walked_map_blocks = 65536;

// The largest block a map may use; a walk reads each block whole.
constexpr std::size_t largest_map_block = 2048;

// The block size of the map whose first `size` bytes are at `head`, or 0
// when there is no entry where block 1 would be: 512 when "PM" lies at byte
// 512, whatever block 0 says; 2048 when it lies at byte 2048 instead and the
// Driver Descriptor counts 2048-byte blocks, as on Mac CD-ROMs and DVDs.
std::size_t find_map_block_size(const std::uint8_t* head, std::size_t size);

// Reads map block `block` into the block-size bytes at `into`: a reader of
// another shape than a block_source (--info's, bounded by the length it was
// given; a map held in memory).
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
// from block 0 otherwise, so a reader that streams never goes back. Blocks
// are `block_size` bytes, a multiple of 512 up to largest_map_block (any
// other size walks nothing); the jobs leave it at 512. From a block_source,
// map block n is its 512-byte blocks n x (block_size / 512) onwards.
map_walk_end walk_map(map_span span, block_source& blocks, const map_block_visitor& visit,
                      std::size_t block_size = block_bytes);
map_walk_end walk_map(map_span span, const map_block_reader& read, const map_block_visitor& visit,
                      std::size_t block_size = block_bytes);

// Reads the blocks of a map held in memory, `size` bytes at `bytes`, which
// must outlive the reader; the medium ends with the last whole block.
map_block_reader read_memory_blocks(const std::uint8_t* bytes, std::size_t size,
                                    std::size_t block_size = block_bytes);

}  // namespace hybrid
