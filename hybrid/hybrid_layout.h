// A hybrid image is decided in full before its first byte is written: the
// blocks that go over the ISO image's system area, the zeros that bring the
// ISO image to a block boundary, and the runs of the HFS source appended
// behind it. Every check that can refuse, and every question, runs while the
// layout is made, so a refusal or a Cancel never leaves a half-written image.
// One planner serves both hybrid jobs: what differs between an image file and
// a device is passed in. Each plan_ function answers nothing when the layout
// is made, or the outcome the job ends with (refused, or cancelled).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hybrid/apm/partition_map.h"
#include "hybrid/io/block_source.h"
#include "hybrid/io/byte_stream.h"
#include "hybrid/job_outcome.h"
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
  // How many of the runs' bytes lie so that the file system may share them
  // with the source rather than copy them (whole blocks at the same place
  // within a block on both sides, on a file system that shares blocks).
  // Whether it does is known only when it is asked, as the data go in.
  std::uint64_t shareable_bytes = 0;
  std::uint64_t append_bytes() const;
};

// Block 0 and the map's own entry take two of the 64 blocks of the system
// area; the ISO 9660 volume descriptors begin right after it.
constexpr int max_merged_entries = static_cast<int>(map_area_blocks) - 2;

// Asked with the 512-byte blocks the whole hybrid would take once a
// partition is laid out; false when the user cancelled.
using capacity_rule = std::function<bool(std::uint64_t total_blocks)>;

// What the planner is told of a source besides its blocks: an image file and
// a device differ only here.
struct plan_source {
  // The source's length in bytes, when it has one (a file): every partition
  // must lie inside it. A device has no length to check a partition against.
  std::optional<std::uint64_t> length;
  // Asked before each partition is laid out. None for the file job, which
  // asks its own question, in bytes, before it looks at the ISO image.
  capacity_rule capacity;
  // The texts of a merge the source refuses: a read of its map that failed,
  // too many Apple_HFS entries, none at all.
  std::function<std::string()> read_failure;
  std::function<std::string(int entries)> too_many_entries;
  std::string no_hfs_partition;
};

// A fresh 64-block map with the one partition "MacOS" taken from
// `partition`, appended behind an ISO image of `iso_bytes`.
job_stop plan_chosen_partition(const hfs_partition& partition, std::uint64_t iso_bytes,
                               const plan_source& source, hybrid_layout& layout);

// The source's own map carried over: its Driver Descriptor without drivers
// (from `block0`), the map's own entry (named as in `block1`), and every
// Apple_HFS entry with blocks among blocks 1 to map-block-count + 1, block 1
// included, each pointing at its data appended behind the ISO data. Blocks
// 2 on are read from `rest`. The whole walk and every question come before
// the first write, so a Cancel leaves the ISO image untouched.
job_stop plan_merged_map(const std::uint8_t* block0, const std::uint8_t* block1, block_source& rest,
                         std::uint64_t iso_bytes, const plan_source& source, hybrid_layout& layout);

// An image file as the planner's source: every partition inside its
// `hfs_bytes`, no capacity question.
plan_source file_plan_source(byte_stream& hfs, std::uint64_t hfs_bytes);

// An image file's merged map: blocks 0 and 1 read, then planned as above.
job_stop layout_merged_map(byte_stream& hfs, std::uint64_t iso_bytes, std::uint64_t hfs_bytes,
                           hybrid_layout& layout);

// A file without a partition map may be a bare volume, as hfsutils and the
// emulators make them: then the whole file is the one partition. Refused
// when the file is no such volume, or one whose own header says it is longer
// than the file (a copy or a download still under way, a truncated file),
// like a partition that runs past the end.
job_stop plan_bare_volume(byte_stream& hfs, std::uint64_t iso_bytes, std::uint64_t hfs_bytes,
                          hybrid_layout& layout);
// The rule plan_bare_volume lays out by, for every job that takes such a
// file: the whole file as the one partition "MacOS", or the refusal, a
// volume longer than the file worded by `past_end`.
using volume_past_end_text = std::string (*)(const std::string& name, std::uint64_t volume_bytes,
                                             std::uint64_t hfs_bytes);
job_stop bare_volume_partition(byte_stream& hfs, std::uint64_t hfs_bytes,
                               volume_past_end_text past_end, hfs_partition& volume);

// The ISO image rounded up to whole blocks: where appended data begin.
std::uint64_t padded_length(std::uint64_t iso_bytes);

// The hybrid's length once `layout` is written.
std::uint64_t planned_length(const hybrid_layout& layout);

// Judges the hybrid `layout` would make, before anything is written, by the
// very rules --info judges a finished one by: its bytes are read as they
// would stand, the head from the layout, the ISO data from `iso`, the runs
// from `blocks` (the source's blocks, whose failed read `source` words).
// Refused, with --info's words, when --info would report a problem; a job
// never completes for a hybrid its own --info flags.
job_stop judge_planned_hybrid(const hybrid_layout& layout, byte_stream& iso, block_source& blocks,
                              const plan_source& source);

}  // namespace hybrid
