// How much of a medium a whole-volume copy takes.
#pragma once

#include <cstdint>

#include "hybrid/apm/partition_map.h"
#include "hybrid/device/device_source.h"
#include "hybrid/io/block_source.h"
#include "hybrid/refusal.h"

namespace hybrid {

// The whole volume of a medium of `capacity` 512-byte blocks, whose block 0
// is `block0` and whose map `map` serves: the larger of the Driver
// Descriptor's block count (in its own block size: a CD-ROM's counts
// 2048-byte blocks) and the end of the furthest map entry or listed
// partition, never more than the medium holds. Anything but `whole` leaves
// the count unset: a map that points past the end of the medium (`map_end`
// says where), so that a copy shorter than the map describes is never taken
// for the volume; a volume of no blocks; one past 32-bit block numbers.
enum class volume_measure { whole, read_failed, past_end, no_count, too_large };
volume_measure measure_whole_volume(const std::uint8_t* block0, block_source& map,
                                    const partition_list& listed, std::uint64_t capacity,
                                    std::uint64_t& map_end, std::uint32_t& blocks);

// The device's whole volume, its capacity asked, each end worded for the
// device.
refusal whole_volume_blocks(device_source& source, const partition_list& listed,
                            std::uint32_t& blocks);

}  // namespace hybrid
