// The Apple partition map: block 0 is the Driver Descriptor ("ER"), blocks 1
// to the map block count are entries ("PM"). Everything here is counted in
// 512-byte blocks, whatever the medium's sector size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "hybrid/apm/big_endian.h"
#include "hybrid/apm/map_codec.h"
#include "hybrid/io/block_source.h"
#include "hybrid/io/byte_stream.h"

namespace hybrid {

// The map we write fills the ISO 9660 system area: 64 blocks, 32,768 bytes,
// ending where the first volume descriptor begins.
constexpr std::size_t map_area_blocks = 64;
constexpr std::size_t map_area_bytes = map_area_blocks * block_bytes;

// One Apple_HFS partition found on a source.
struct hfs_partition {
  char name[32];  // NUL-terminated; a name filling all 32 bytes keeps 31
  std::uint32_t first_block;
  std::uint32_t block_count;
};

// The name a partition without one is listed under.
inline constexpr char unnamed_partition[] = "(no name)";

// Eight partitions and the empty slot that ends the list.
constexpr int max_partitions = 8;
using partition_list = std::array<hfs_partition, max_partitions + 1>;

void clear_partition_list(partition_list& list);
// Rows a reader offers: the slots before the first one with an empty name.
int listed_rows(const partition_list& list);

// Examines one block by the rule every listing uses (is_hfs_entry: neither
// "PM" nor the block count is tested); a match fills the next free slot while
// fewer than eight are filled and counts in `found`. Returns true for a match.
bool examine_block(const std::uint8_t* block, partition_list& list, int& found);
// The map block count of an entry, as the signed number the walks use.
std::int32_t map_block_count(const std::uint8_t* entry);

// Block 0 of a merged map, made from the source's block 0: the device type
// and id (bytes 8-11) are kept; the driver data (12-15), the driver count and
// the descriptors are cleared, since no driver is carried over (7-Zip refuses
// a map whose driver data is not zero). "ER" and 512-byte blocks whatever the
// source had: found by fuzzing, a source with entries but no "ER" (or another
// block size) gave a hybrid the Mac does not read, and that a second run
// would not know for a hybrid. The block count is the caller's to set.
void merged_driver_descriptor(const std::uint8_t* source_block0, std::uint8_t* block0);

// The map's own entry, as block 1 of every map we write: "PM", `entries`
// entries, blocks 1 to 63 (the whole system area after block 0), type
// "Apple_partition_map", named `name` (at most 31 characters are kept).
void build_map_entry(std::uint8_t* block, std::uint32_t entries, const char* name);

// The name of the map's own entry in a source's block 1 when that block is
// the map's entry and names it; otherwise "Apple", the name we give it.
std::string map_entry_name(const std::uint8_t* source_block1);

// Lays out the fixed 64-block map of one Apple_HFS partition "MacOS".
void build_partition_map(std::array<std::uint8_t, map_area_bytes>& map, std::uint32_t total_blocks,
                         std::uint32_t hfs_first_block, std::uint32_t hfs_block_count);
// Writes that map at the stream's position, one 512-byte block per write.
bool write_partition_map(byte_stream& stream, std::uint32_t total_blocks,
                         std::uint32_t hfs_first_block, std::uint32_t hfs_block_count);

// Lists the Apple_HFS entries of an image file: rewinds, reads blocks 0 and 1,
// then examines the next map-block-count blocks (2 to count + 1, at most the
// walk's bound), stopping at the end of the file. A file too short for blocks
// 0 and 1 holds no map. Returns the number of slots filled (at most 8), or -1
// when a read failed (the stream's error_text says why).
int list_hfs_partitions(byte_stream& image, partition_list& list);

// What block 2 (bytes 1024 on) says about a file without a partition map.
enum class bare_volume { none, hfs, hfs_plus };
bare_volume bare_volume_kind(const std::uint8_t* block2);
// The bytes a bare volume's own header says it spans. HFS: the allocation
// blocks from their first block (drAlBlSt, drNmAlBlks, drAlBlkSiz), then the
// alternate Master Directory Block and the block after it, which end every
// volume: the Mac looks for the alternate 1,024 bytes before the end of the
// partition. HFS+: blockSize x totalBlocks, the alternate header included.
// `block2` holds at least the first 48 bytes of the header.
std::uint64_t bare_volume_bytes(const std::uint8_t* block2);

// The system area as an --undo that did not finish leaves it: block 1 is the
// map's own entry with its signature cleared (--undo clears every entry's,
// then zeroes block 0, cuts the data, and zeroes block 1 last). No reader
// takes it for a map; the next --undo finishes the work, and the jobs take
// it for what it is, not for a hybrid or another program's data. `head`
// holds blocks 0 and 1 at least.
bool holds_cleared_map(const std::uint8_t* head);

}  // namespace hybrid
