// Moving a run of device blocks to the current position of a stream, in
// transfers of 64 KiB or more. Each returns 1 when every block was read and
// written, else 0 with `copy.failure` saying which block or what write
// failed. Both take the request over: its buffer, address and count are
// theirs on return.
#pragma once

#include <cstdint>

#include "hybrid/device/device_read.h"
#include "hybrid/io/byte_stream.h"
#include "hybrid/questions.h"
#include "scsi/scsi_request.h"

namespace hybrid {

struct device_copy {
  questions* progress = nullptr;  // hears the bytes done; may stop the copy
  std::uint64_t done = 0;         // bytes written so far in this job
  device_failure failure;
};

constexpr std::uint16_t disk_chunk_blocks = 128;       // of 512 bytes
constexpr std::uint16_t large_disk_chunk_blocks = 64;  // of any larger size
constexpr std::uint16_t cd_chunk_sectors = 32;

// `count` blocks of src_block_size bytes from device block `first` of a SCSI
// disk, read with read_blocks.
int copy_disk_blocks(byte_stream& out, scsi::scsi_request& request, std::uint32_t first,
                     std::uint32_t count, device_copy& copy);

// `count` 512-byte blocks from block `first` of a CD-ROM: the partial
// sectors at either end block by block through the sector cache, the whole
// sectors between them 32 at a time.
int copy_cd_blocks(byte_stream& out, scsi::scsi_request& request, std::uint32_t first,
                   std::uint32_t count, device_copy& copy);

}  // namespace hybrid
