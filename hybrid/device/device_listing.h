// Listing the Apple_HFS partitions of a device. Both walks examine every
// block by the same rule as the file listing; they differ in the blocks they
// walk. Each returns the number of partitions listed, or -1 when a read
// failed (`failure` then names the block).
#pragma once

#include "hybrid/apm/partition_map.h"
#include "hybrid/device/device_read.h"
#include "scsi/scsi_request.h"

namespace hybrid {

// The request's buffer holds block 1 (block_address 1, block_count 1): the
// map block count comes from it, and blocks 1 to count are examined, read
// with `read`.
int list_hfs_partitions_dev(scsi::block_read_fn read, scsi::scsi_request& request,
                            partition_list& list, device_failure& failure);

// Reads 2048-byte sectors with cdrom_rw into the request's buffer from
// block_address (a sector number, 0 from every caller) and examines blocks
// 0 to count + 1.
int list_hfs_partitions_cd(scsi::scsi_request& request, partition_list& list,
                           device_failure& failure);

}  // namespace hybrid
