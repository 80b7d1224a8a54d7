#include "hybrid/device/device_volume.h"

#include <algorithm>
#include <limits>

#include "hybrid/apm/map_walk.h"
#include "hybrid/messages.h"

namespace hybrid {
namespace {

// The Driver Descriptor's count in 512-byte blocks; 0 without one. A disk of
// PM entries only has no Driver Descriptor, and its block 0 counts nothing.
std::uint64_t descriptor_blocks(const std::uint8_t* block0) {
  if (!is_driver_descriptor(block0)) return 0;
  const driver_descriptor descriptor = decode_driver_descriptor(block0);
  const std::uint64_t unit = descriptor.block_size;
  const std::uint64_t count = descriptor.block_count;
  return (count * unit + block_bytes - 1) / block_bytes;
}

std::uint64_t entry_end(const std::uint8_t* block) {
  const partition_entry entry = decode_partition_entry(block);
  return std::uint64_t{entry.first_block} + entry.block_count;
}

}  // namespace

volume_measure measure_whole_volume(const std::uint8_t* block0, block_source& map,
                                    const partition_list& listed, std::uint64_t capacity,
                                    std::uint64_t& map_end, std::uint32_t& blocks) {
  // Every entry of the map, whatever its type, and every partition listed
  // (the CD-ROM listing also takes the block after the last entry).
  map_end = 0;
  for (int row = 0; row < listed_rows(listed); ++row) {
    const hfs_partition& partition = listed[static_cast<std::size_t>(row)];
    map_end = std::max(map_end, std::uint64_t{partition.first_block} + partition.block_count);
  }
  const map_walk_end walked =
      walk_map(map_span::blocks_1_to_n, map, [&](std::uint32_t, std::uint8_t* entry) {
        if (is_partition_entry(entry) || is_hfs_entry(entry))
          map_end = std::max(map_end, entry_end(entry));
        return map_visit::go_on;
      });
  if (walked == map_walk_end::read_failed) return volume_measure::read_failed;
  if (map_end > capacity) return volume_measure::past_end;

  const std::uint64_t volume = std::min(std::max(descriptor_blocks(block0), map_end), capacity);
  if (volume == 0) return volume_measure::no_count;
  if (volume > std::numeric_limits<std::uint32_t>::max()) return volume_measure::too_large;
  blocks = static_cast<std::uint32_t>(volume);
  return volume_measure::whole;
}

refusal whole_volume_blocks(device_source& source, const partition_list& listed,
                            std::uint32_t& blocks) {
  if (refusal refused = learn_capacity(source)) return refused;
  const std::uint64_t capacity = *source.capacity_blocks;
  request_blocks map_blocks = source_blocks(source);
  std::uint64_t map_end = 0;
  switch (
      measure_whole_volume(source.block0.data(), map_blocks, listed, capacity, map_end, blocks)) {
    case volume_measure::whole:
      return accepted();
    case volume_measure::read_failed:
      return refusal::because(read_failure_text(source));
    case volume_measure::past_end:
      return refusal::because(text::map_past_device_end(source.cdrom, map_end, capacity));
    case volume_measure::no_count:
      return refusal::because(text::no_volume_block_count);
    case volume_measure::too_large:
      break;
  }
  return refusal::because(text::image_too_large());
}

}  // namespace hybrid
