#include "hybrid/device/device_listing.h"

#include "hybrid/apm/map_walk.h"
#include "hybrid/device/device_blocks.h"

namespace hybrid {

int list_hfs_partitions_dev(scsi::block_read_fn read, scsi::scsi_request& request,
                            partition_list& list, device_failure& failure) {
  int found = 0;
  // A copy: the packed field may not be bound to a reference.
  const std::uint32_t in_buffer = request.block_address;
  request_blocks blocks(read, request, failure, in_buffer);
  // Blocks 1 to count only: the block after the map's last entry is never
  // read, since that would only risk a failure past the end of a full disk.
  // Callers find the request after the last entry examined.
  const map_walk_end walked =
      walk_map(map_span::blocks_1_to_n, blocks, [&](std::uint32_t block, std::uint8_t* bytes) {
        examine_block(bytes, list, found);
        request.block_address = block + 1;
        return map_visit::go_on;
      });
  return walked == map_walk_end::read_failed ? -1 : found;
}

int list_hfs_partitions_cd(scsi::scsi_request& request, partition_list& list,
                           device_failure& failure) {
  int found = 0;
  cd_sector_blocks blocks(request, failure);
  const map_walk_end walked =
      walk_map(map_span::blocks_0_to_n_plus_1, blocks, [&](std::uint32_t, std::uint8_t* bytes) {
        examine_block(bytes, list, found);
        return map_visit::go_on;
      });
  return walked == map_walk_end::read_failed ? -1 : found;
}

}  // namespace hybrid
