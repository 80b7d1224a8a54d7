#include "hybrid/apm/partition_map.h"

#include <cstring>
#include <string_view>

#include "hybrid/apm/map_walk.h"

namespace hybrid {
namespace {

// valid, allocated, in use, readable, writable; not bootable
constexpr std::uint32_t status_written = 0x37;

partition_entry written_entry(std::uint32_t entries, std::uint32_t first_block,
                              std::uint32_t block_count, std::string_view name,
                              std::string_view type) {
  partition_entry entry;
  entry.signature = entry_signature;
  entry.map_blocks = entries;
  entry.first_block = first_block;
  entry.block_count = block_count;
  entry.name = map_text_of(name);
  entry.type = map_text_of(type);
  entry.data_count = block_count;
  entry.status = status_written;
  return entry;
}

}  // namespace

void clear_partition_list(partition_list& list) { std::memset(list.data(), 0, sizeof list); }

int listed_rows(const partition_list& list) {
  int rows = 0;
  while (rows < max_partitions && list[static_cast<std::size_t>(rows)].name[0] != '\0') ++rows;
  return rows;
}

bool examine_block(const std::uint8_t* block, partition_list& list, int& found) {
  if (!is_hfs_entry(block)) return false;
  if (found < max_partitions) {
    hfs_partition& slot = list[static_cast<std::size_t>(found)];
    // Keep the last byte for the terminator: a name that fills its 32 bytes
    // keeps its first 31 characters.
    const partition_entry entry = decode_partition_entry(block);
    std::memcpy(slot.name, entry.name.data(), sizeof slot.name - 1);
    slot.name[sizeof slot.name - 1] = '\0';
    // An empty name ends the list, so a partition without a name would hide
    // itself and every one after it from the choice.
    if (slot.name[0] == '\0') std::memcpy(slot.name, unnamed_partition, sizeof unnamed_partition);
    slot.first_block = entry.first_block;
    slot.block_count = entry.block_count;
    ++found;
  }
  return true;
}

std::int32_t map_block_count(const std::uint8_t* entry) {
  return static_cast<std::int32_t>(decode_partition_entry(entry).map_blocks);
}

void merged_driver_descriptor(const std::uint8_t* source_block0, std::uint8_t* block0) {
  const driver_descriptor source = decode_driver_descriptor(source_block0);
  driver_descriptor merged;
  merged.signature = descriptor_signature;
  merged.block_size = static_cast<std::uint16_t>(block_bytes);
  merged.block_count = source.block_count;
  merged.device_type = source.device_type;
  merged.device_id = source.device_id;
  encode_driver_descriptor(merged, block0);
}

void build_map_entry(std::uint8_t* block, std::uint32_t entries, const char* name) {
  encode_partition_entry(
      written_entry(entries, 1, map_area_blocks - 1,
                    std::string_view(name).substr(0, map_text{}.size() - 1), "Apple_partition_map"),
      block);
}

std::string map_entry_name(const std::uint8_t* source_block1) {
  const partition_entry entry = decode_partition_entry(source_block1);
  if (!is_map_own_entry(entry) || entry.name[0] == 0) return "Apple";
  return text_of(entry.name, entry.name.size() - 1);
}

void build_partition_map(std::array<std::uint8_t, map_area_bytes>& map, std::uint32_t total_blocks,
                         std::uint32_t hfs_first_block, std::uint32_t hfs_block_count) {
  map.fill(0);

  driver_descriptor descriptor;
  descriptor.signature = descriptor_signature;
  descriptor.block_size = block_bytes;
  descriptor.block_count = total_blocks;
  encode_driver_descriptor(descriptor, map.data());

  // The map's own entry covers every block after the Driver Descriptor. Its
  // name is "Apple", as Apple's tools write it.
  build_map_entry(map.data() + block_bytes, 2, "Apple");
  encode_partition_entry(written_entry(2, hfs_first_block, hfs_block_count, "MacOS", "Apple_HFS"),
                         map.data() + 2 * block_bytes);
}

bool write_partition_map(byte_stream& stream, std::uint32_t total_blocks,
                         std::uint32_t hfs_first_block, std::uint32_t hfs_block_count) {
  std::array<std::uint8_t, map_area_bytes> map;
  build_partition_map(map, total_blocks, hfs_first_block, hfs_block_count);
  for (std::size_t block = 0; block < map_area_blocks; ++block) {
    if (!stream.write(map.data() + block * block_bytes, block_bytes)) return false;
  }
  return true;
}

int list_hfs_partitions(byte_stream& image, partition_list& list) {
  int found = 0;
  stream_blocks blocks(image);
  const map_walk_end walked =
      walk_map(map_span::blocks_1_to_n_plus_1, blocks, [&](std::uint32_t, std::uint8_t* block) {
        examine_block(block, list, found);
        return map_visit::go_on;
      });
  return walked == map_walk_end::read_failed ? -1 : found;
}

bare_volume bare_volume_kind(const std::uint8_t* block2) {
  if (block2[0] == 'B' && block2[1] == 'D') return bare_volume::hfs;
  if (block2[0] == 'H' && (block2[1] == '+' || block2[1] == 'X')) return bare_volume::hfs_plus;
  return bare_volume::none;
}

std::uint64_t bare_volume_bytes(const std::uint8_t* block2) {
  switch (bare_volume_kind(block2)) {
    case bare_volume::hfs: {
      const std::uint64_t allocation_blocks = get_be16(block2 + 18);  // drNmAlBlks
      const std::uint64_t allocation_size = get_be32(block2 + 20);    // drAlBlkSiz
      const std::uint64_t first_block = get_be16(block2 + 28);        // drAlBlSt
      return first_block * block_bytes + allocation_blocks * allocation_size + 2 * block_bytes;
    }
    case bare_volume::hfs_plus:
      return std::uint64_t{get_be32(block2 + 40)} *
             get_be32(block2 + 44);  // blockSize, totalBlocks
    case bare_volume::none:
      break;
  }
  return 0;
}

bool holds_cleared_map(const std::uint8_t* head) {
  const partition_entry own = decode_partition_entry(head + block_bytes);
  return is_cleared_entry(own) && is_map_own_entry(own) && own.map_blocks > 0 &&
         own.map_blocks < map_area_blocks;
}

}  // namespace hybrid
