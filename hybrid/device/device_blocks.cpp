#include "hybrid/device/device_blocks.h"

#include <cstring>

#include "scsi/aspi.h"
#include "scsi/block_reader.h"

namespace hybrid {

request_blocks::request_blocks(scsi::block_read_fn reader, scsi::scsi_request& request,
                               device_failure& failure, std::optional<std::uint32_t> in_buffer)
    : read_(reader),
      request_(request),
      failure_(failure),
      unit_(reader == scsi::read_cd_block ? device_failure::unit::cd_block
                                          : device_failure::unit::disk_block),
      held_(in_buffer) {}

block_read request_blocks::read(std::uint32_t first, std::uint32_t count, std::uint8_t* into) {
  for (std::uint32_t block = first; block < first + count; ++block, into += block_bytes) {
    if (held_ != block) {
      held_.reset();
      request_.block_address = block;
      request_.block_count = 1;
      if (const int status = read_(request_); status != 0) {
        failure_ = {device_failure::what::read, unit_, block, 1, status};
        return block_read::failed;
      }
      held_ = block;
    }
    std::memcpy(into, request_.buffer, block_bytes);
  }
  return block_read::ok;
}

cd_sector_blocks::cd_sector_blocks(scsi::scsi_request& request, device_failure& failure)
    : request_(request), failure_(failure), first_sector_(request.block_address) {}

block_read cd_sector_blocks::read(std::uint32_t first, std::uint32_t count, std::uint8_t* into) {
  for (std::uint32_t block = first; block < first + count; ++block, into += block_bytes) {
    const std::uint32_t sector = first_sector_ + block / scsi::cd_blocks_per_sector;
    if (held_ != sector) {
      held_.reset();
      request_.block_address = sector;
      if (const int status = scsi::cdrom_rw(request_); status != 0) {
        failure_ = {device_failure::what::read, device_failure::unit::cd_sector, sector, 1, status};
        return block_read::failed;
      }
      held_ = sector;
    }
    std::memcpy(into, request_.buffer + block % scsi::cd_blocks_per_sector * block_bytes,
                block_bytes);
  }
  return block_read::ok;
}

}  // namespace hybrid
