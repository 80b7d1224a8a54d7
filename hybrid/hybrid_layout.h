// A hybrid image is decided in full before its first byte is written: the
// blocks that go over the ISO image's system area, the zeros that bring the
// ISO image to a block boundary, and the runs of the HFS source appended
// behind it. Every check that can refuse runs while the layout is made, so a
// refusal never leaves a half-written image.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hybrid/apm/map_walk.h"
#include "hybrid/apm/partition_map.h"
#include "hybrid/io/byte_stream.h"
#include "hybrid/refusal.h"

namespace hybrid {

struct append_run {
  std::uint64_t source_offset;  // bytes into the HFS source
  std::uint64_t byte_count;
};

struct hybrid_layout {
  // Where the ISO image is cut before anything is appended: the end of its
  // ISO 9660 volume, when the user agreed to remove the bytes after it. The
  // transaction keeps them aside, so a failure puts them back.
  std::optional<std::uint64_t> cut_at;
  // How many bytes stood after `cut_at` when the job was planned: the file
  // was then iso_bytes + removed_bytes long, and must still be.
  std::uint64_t removed_bytes = 0;
  std::vector<std::uint8_t> head;  // written at byte 0 of the ISO image
  std::uint64_t iso_bytes = 0;     // the ISO image's length the layout was made for
  std::uint64_t pad_bytes = 0;     // zeros appended there, before the first run
  std::vector<append_run> runs;    // appended in order behind the ISO data
  std::uint64_t append_bytes() const;
};

// Block 0 and the map's own entry take two of the 64 blocks of the system
// area; the ISO 9660 volume descriptors begin right after it.
constexpr int max_merged_entries = static_cast<int>(map_area_blocks) - 2;

// A fresh 64-block map with the one partition "MacOS" taken from
// `partition`, appended behind an ISO image of `iso_bytes`.
refusal layout_chosen_partition(const hfs_partition& partition, std::uint64_t iso_bytes,
                                std::uint64_t hfs_bytes, hybrid_layout& layout);

// The HFS image's own map carried over: its Driver Descriptor without
// drivers, the map's own entry (named as in the source), and every Apple_HFS
// entry with blocks, block 1 included, each pointing at its data appended
// behind the ISO data.
refusal layout_merged_map(byte_stream& hfs, std::uint64_t iso_bytes, std::uint64_t hfs_bytes,
                          hybrid_layout& layout);

// The ISO image rounded up to whole blocks: where appended data begin.
std::uint64_t padded_length(std::uint64_t iso_bytes);

// Walks the entries of a merged map, blocks 1 to count + 1, once blocks 0
// and 1 of the source are in `head` (which the visitor may grow): the walk
// takes them from there, and the rest from `read`.
map_walk_end walk_merged_entries(const std::vector<std::uint8_t>& head,
                                 const map_block_reader& read, const map_block_visitor& visit);

// Completes a merged map once every entry is in `head`: block 0 counts the
// whole image, block 1 becomes the map's own entry, every entry counts the
// entries (the map's own and `merged`).
void finish_merged_layout(std::vector<std::uint8_t> head, std::vector<append_run> runs,
                          std::uint64_t total_blocks, int merged, std::uint64_t iso_bytes,
                          hybrid_layout& layout);

}  // namespace hybrid
