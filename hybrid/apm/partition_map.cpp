#include "hybrid/apm/partition_map.h"

#include <algorithm>
#include <cstring>

#include "hybrid/apm/map_walk.h"

namespace hybrid {
namespace {

void put_text(std::uint8_t* field, const char* text, std::size_t length) {
  std::memcpy(field, text, length);
}

}  // namespace

void clear_partition_list(partition_list& list) { std::memset(list.data(), 0, sizeof list); }

int listed_rows(const partition_list& list) {
  int rows = 0;
  while (rows < max_partitions && list[static_cast<std::size_t>(rows)].name[0] != '\0') ++rows;
  return rows;
}

bool is_hfs_entry(const std::uint8_t* block) {
  return std::memcmp(block + pm::type, "Apple_HFS", 9) == 0;
}

bool examine_block(const std::uint8_t* block, partition_list& list, int& found) {
  if (!is_hfs_entry(block)) return false;
  if (found < max_partitions) {
    hfs_partition& slot = list[static_cast<std::size_t>(found)];
    // Keep the last byte for the terminator: a name that fills its 32 bytes
    // keeps its first 31 characters.
    std::memcpy(slot.name, block + pm::name, sizeof slot.name - 1);
    slot.name[sizeof slot.name - 1] = '\0';
    // An empty name ends the list, so a partition without a name would hide
    // itself and every one after it from the choice.
    if (slot.name[0] == '\0') std::memcpy(slot.name, unnamed_partition, sizeof unnamed_partition);
    slot.first_block = get_be32(block + pm::first_block);
    slot.block_count = get_be32(block + pm::block_count);
    ++found;
  }
  return true;
}

std::int32_t map_block_count(const std::uint8_t* entry) {
  return static_cast<std::int32_t>(get_be32(entry + pm::map_blocks));
}

void merged_driver_descriptor(const std::uint8_t* source_block0, std::uint8_t* block0) {
  std::memset(block0, 0, block_bytes);
  std::memcpy(block0, source_block0, ddr::driver_data);
  put_text(block0 + ddr::signature, "ER", 2);
  put_be16(block0 + ddr::block_size, static_cast<std::uint16_t>(block_bytes));
}

void build_map_entry(std::uint8_t* block, std::uint32_t entries, const char* name) {
  std::memset(block, 0, block_bytes);
  put_text(block + pm::signature, "PM", 2);
  put_be32(block + pm::map_blocks, entries);
  put_be32(block + pm::first_block, 1);
  put_be32(block + pm::block_count, map_area_blocks - 1);
  put_text(block + pm::name, name, std::min(std::strlen(name), pm::text_bytes - 1));
  put_text(block + pm::type, "Apple_partition_map", 19);
  put_be32(block + pm::data_count, map_area_blocks - 1);
  put_be32(block + pm::status, pm::status_written);
}

std::string map_entry_name(const std::uint8_t* source_block1) {
  const char* const type = reinterpret_cast<const char*>(source_block1 + pm::type);
  const char* const name = reinterpret_cast<const char*>(source_block1 + pm::name);
  if (std::memcmp(type, "Apple_partition_map", 19) != 0 || name[0] == '\0') return "Apple";
  const void* const nul = std::memchr(name, '\0', pm::text_bytes - 1);
  return std::string(name,
                     nul != nullptr ? static_cast<const char*>(nul) : name + pm::text_bytes - 1);
}

void build_partition_map(std::array<std::uint8_t, map_area_bytes>& map, std::uint32_t total_blocks,
                         std::uint32_t hfs_first_block, std::uint32_t hfs_block_count) {
  map.fill(0);

  std::uint8_t* const descriptor = map.data();
  put_text(descriptor + ddr::signature, "ER", 2);
  put_be16(descriptor + ddr::block_size, block_bytes);
  put_be32(descriptor + ddr::block_count, total_blocks);

  // The map's own entry covers every block after the Driver Descriptor. Its
  // name is "Apple", as Apple's tools write it.
  build_map_entry(map.data() + block_bytes, 2, "Apple");

  std::uint8_t* const hfs = map.data() + 2 * block_bytes;
  put_text(hfs + pm::signature, "PM", 2);
  put_be32(hfs + pm::map_blocks, 2);
  put_be32(hfs + pm::first_block, hfs_first_block);
  put_be32(hfs + pm::block_count, hfs_block_count);
  put_text(hfs + pm::name, "MacOS", 5);
  put_text(hfs + pm::type, "Apple_HFS", 9);
  put_be32(hfs + pm::data_count, hfs_block_count);
  put_be32(hfs + pm::status, pm::status_written);
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

}  // namespace hybrid
