#include "hybrid/device_listing.h"

#include <algorithm>

#include "scsi/aspi.h"
#include "scsi/block_reader.h"

namespace hybrid {

int list_hfs_partitions_dev(scsi::block_read_fn read, scsi::scsi_request& request,
                            partition_list& list, device_failure& failure) {
  const std::int32_t count = std::min(map_block_count(request.buffer), max_walked_map_blocks);
  int found = 0;
  for (std::int32_t walked = 0; walked < count; ++walked) {
    examine_block(request.buffer, list, found);
    ++request.block_address;
    // The block after the map's last entry is never examined: reading it
    // would only risk a failure past the end of a full disk.
    if (walked + 1 == count) break;
    if (const int status = read(request); status != 0) {
      failure = {device_failure::what::read,
                 read == scsi::read_cd_block ? device_failure::unit::cd_block
                                             : device_failure::unit::disk_block,
                 request.block_address, 1, status};
      return -1;
    }
  }
  return found;
}

int list_hfs_partitions_cd(scsi::scsi_request& request, partition_list& list,
                           device_failure& failure) {
  const auto read_sector = [&]() {
    const int status = scsi::cdrom_rw(request);
    if (status != 0) {
      failure = {device_failure::what::read, device_failure::unit::cd_sector, request.block_address,
                 1, status};
    }
    return status == 0;
  };
  if (!read_sector()) return -1;
  // Blocks 0 and 1 are always examined; a negative count adds nothing.
  const std::int32_t count =
      std::clamp(map_block_count(request.buffer + block_bytes), 0, max_walked_map_blocks);
  std::int32_t remaining = count + 2;
  int found = 0;
  for (;;) {
    for (std::uint32_t quarter = 0; quarter < scsi::cd_blocks_per_sector; ++quarter) {
      examine_block(request.buffer + quarter * block_bytes, list, found);
      if (--remaining == 0) return found;
    }
    ++request.block_address;
    if (!read_sector()) return -1;
  }
}

}  // namespace hybrid
