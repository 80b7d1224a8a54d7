#include "hybrid/device/device_listing.h"

#include <cstring>
#include <optional>

#include "hybrid/apm/map_walk.h"
#include "scsi/aspi.h"
#include "scsi/block_reader.h"

namespace hybrid {
namespace {

// One 512-byte block per request with `read`, into the request's buffer. The
// block the buffer holds on entry (block_address) is taken without a request.
map_block_reader disk_blocks(scsi::block_read_fn read, scsi::scsi_request& request,
                             device_failure& failure) {
  const device_failure::unit unit = read == scsi::read_cd_block ? device_failure::unit::cd_block
                                                                : device_failure::unit::disk_block;
  // A copy: the packed field may not be bound to a reference.
  const std::uint32_t in_buffer = request.block_address;
  return [read, &request, &failure, unit, held = std::optional<std::uint32_t>{in_buffer}](
             std::uint32_t block, std::uint8_t* into) mutable {
    if (held != block) {
      held.reset();
      request.block_address = block;
      if (const int status = read(request); status != 0) {
        failure = {device_failure::what::read, unit, block, 1, status};
        return block_read::failed;
      }
      held = block;
    }
    std::memcpy(into, request.buffer, block_bytes);
    return block_read::ok;
  };
}

// Whole 2048-byte sectors with cdrom_rw, counted from the request's
// block_address on entry. The sector in the buffer serves its four blocks; the
// next is read only when the walk leaves it.
map_block_reader cd_sector_blocks(scsi::scsi_request& request, device_failure& failure) {
  return [&request, &failure, first_sector = request.block_address,
          held = std::optional<std::uint32_t>{}](std::uint32_t block, std::uint8_t* into) mutable {
    const std::uint32_t sector = first_sector + block / scsi::cd_blocks_per_sector;
    if (held != sector) {
      held.reset();
      request.block_address = sector;
      if (const int status = scsi::cdrom_rw(request); status != 0) {
        failure = {device_failure::what::read, device_failure::unit::cd_sector, sector, 1, status};
        return block_read::failed;
      }
      held = sector;
    }
    std::memcpy(into, request.buffer + block % scsi::cd_blocks_per_sector * block_bytes,
                block_bytes);
    return block_read::ok;
  };
}

}  // namespace

int list_hfs_partitions_dev(scsi::block_read_fn read, scsi::scsi_request& request,
                            partition_list& list, device_failure& failure) {
  int found = 0;
  // Blocks 1 to count only: the block after the map's last entry is never
  // read, since that would only risk a failure past the end of a full disk.
  // Callers find the request after the last entry examined.
  const map_walk_end walked = walk_map(map_span::blocks_1_to_n, disk_blocks(read, request, failure),
                                       [&](std::uint32_t block, std::uint8_t* bytes) {
                                         examine_block(bytes, list, found);
                                         request.block_address = block + 1;
                                         return map_visit::go_on;
                                       });
  return walked == map_walk_end::read_failed ? -1 : found;
}

int list_hfs_partitions_cd(scsi::scsi_request& request, partition_list& list,
                           device_failure& failure) {
  int found = 0;
  const map_walk_end walked =
      walk_map(map_span::blocks_0_to_n_plus_1, cd_sector_blocks(request, failure),
               [&](std::uint32_t, std::uint8_t* bytes) {
                 examine_block(bytes, list, found);
                 return map_visit::go_on;
               });
  return walked == map_walk_end::read_failed ? -1 : found;
}

}  // namespace hybrid
