// How much of a device a whole-volume copy takes.
#pragma once

#include <cstdint>

#include "hybrid/apm/partition_map.h"
#include "hybrid/device/device_source.h"
#include "hybrid/refusal.h"

namespace hybrid {

// The whole volume in 512-byte blocks: the larger of the Driver
// Descriptor's block count (in its own block size: a CD-ROM's counts
// 2048-byte blocks) and the end of the furthest map entry or listed
// partition, never more than the device holds. Asks the device's capacity.
// Refuses when the map points past the end of the device, so that a copy
// shorter than the map describes is never taken for the volume.
refusal whole_volume_blocks(device_source& source, const partition_list& listed,
                            std::uint32_t& blocks);

}  // namespace hybrid
