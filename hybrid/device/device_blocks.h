// A device's 512-byte blocks, read through the block readers (with their
// retries) into a request's buffer. A failed read fills `failure` with the
// block or sector that stopped it.
#pragma once

#include <cstdint>
#include <optional>

#include "hybrid/device/device_read.h"
#include "hybrid/io/block_source.h"
#include "scsi/scsi_request.h"

namespace hybrid {

// One block per request with `reader`: read_blocks on a disk, read_cd_block
// (through the sector cache) on a CD-ROM. `in_buffer` is the block the
// request's buffer holds already, taken without a request.
class request_blocks final : public block_source {
 public:
  request_blocks(scsi::block_read_fn reader, scsi::scsi_request& request, device_failure& failure,
                 std::optional<std::uint32_t> in_buffer = {});
  block_read read(std::uint32_t first, std::uint32_t count, std::uint8_t* into) override;

 private:
  scsi::block_read_fn read_;
  scsi::scsi_request& request_;
  device_failure& failure_;
  device_failure::unit unit_;
  std::optional<std::uint32_t> held_;
};

// Whole 2048-byte sectors with cdrom_rw, counted from the request's
// block_address on entry (a sector number). The sector in the buffer serves
// its four blocks; the next is read only when a read leaves it.
class cd_sector_blocks final : public block_source {
 public:
  cd_sector_blocks(scsi::scsi_request& request, device_failure& failure);
  block_read read(std::uint32_t first, std::uint32_t count, std::uint8_t* into) override;

 private:
  scsi::scsi_request& request_;
  device_failure& failure_;
  std::uint32_t first_sector_;
  std::optional<std::uint32_t> held_;
};

}  // namespace hybrid
