#include "hybrid/device/device_copy.h"

#include <algorithm>
#include <vector>

#include "scsi/aspi.h"
#include "scsi/block_reader.h"
#include "scsi/device_state.h"

namespace hybrid {
namespace {

using failure_unit = device_failure::unit;

int read_failed(device_copy& copy, failure_unit place, std::uint32_t address, int status,
                std::uint32_t count = 1) {
  copy.failure = {device_failure::what::read, place, address, count, status};
  // A stop asked for while a read was pending aborts that read: the job was
  // stopped, the block is not unreadable.
  if (copy.progress != nullptr && copy.progress->stop_requested()) {
    copy.failure.kind = device_failure::what::stopped;
  }
  return 0;
}

// Writes what was read and tells the front end; false when the write failed
// or the user asked to stop.
bool deliver(byte_stream& out, const std::uint8_t* bytes, std::size_t count, device_copy& copy) {
  if (!out.write(bytes, count)) {
    copy.failure.kind = device_failure::what::write;
    return false;
  }
  copy.done += count;
  if (copy.progress != nullptr) {
    copy.progress->copy_advanced(copy.done);
    if (copy.progress->stop_requested()) {
      copy.failure.kind = device_failure::what::stopped;
      return false;
    }
  }
  return true;
}

// One 512-byte block through the sector cache.
bool copy_one_cd_block(byte_stream& out, scsi::scsi_request& request, std::uint32_t block,
                       device_copy& copy) {
  request.block_address = block;
  request.block_count = 1;
  if (const int status = scsi::read_cd_block(request); status != 0) {
    return read_failed(copy, failure_unit::cd_block, block, status) != 0;
  }
  return deliver(out, request.buffer, block_bytes, copy);
}

}  // namespace

int copy_disk_blocks(byte_stream& out, scsi::scsi_request& request, std::uint32_t first,
                     std::uint32_t count, device_copy& copy) {
  const std::uint32_t unit = scsi::devices().src_block_size;
  // The reader moves aspi_unit_size bytes per block into this buffer: the two
  // sizes must agree, or a transfer would overrun it.
  if (unit == 0 || unit != scsi::devices().aspi_unit_size) {
    return read_failed(copy, failure_unit::disk_block, first, 0);
  }
  const std::uint16_t chunk = unit == block_bytes ? disk_chunk_blocks : large_disk_chunk_blocks;
  std::vector<std::uint8_t> buffer(std::size_t{unit} * chunk);
  request.buffer = buffer.data();
  request.block_address = first;
  std::uint32_t remaining = count;
  while (remaining > 0) {
    // The last read asks only for the blocks that remain: near the end of
    // the medium a full chunk would ask for blocks that are not there.
    const auto n = static_cast<std::uint16_t>(std::min<std::uint32_t>(chunk, remaining));
    request.block_count = n;
    if (const int status = scsi::read_blocks(request); status != 0) {
      return read_failed(copy, failure_unit::disk_block, request.block_address, status, n);
    }
    if (!deliver(out, buffer.data(), std::size_t{n} * unit, copy)) return 0;
    request.block_address += n;
    remaining -= n;
  }
  return 1;
}

int copy_cd_blocks(byte_stream& out, scsi::scsi_request& request, std::uint32_t first,
                   std::uint32_t count, device_copy& copy) {
  std::vector<std::uint8_t> buffer(std::size_t{scsi::cd_sector_bytes} * cd_chunk_sectors);
  request.buffer = buffer.data();
  std::uint32_t remaining = count;

  // Head: the blocks before the first sector boundary, never more than asked.
  while (remaining > 0 && first % scsi::cd_blocks_per_sector != 0) {
    if (!copy_one_cd_block(out, request, first, copy)) return 0;
    ++first;
    --remaining;
  }

  std::uint32_t sectors = remaining / scsi::cd_blocks_per_sector;
  const std::uint32_t tail = remaining % scsi::cd_blocks_per_sector;
  std::uint32_t sector = first / scsi::cd_blocks_per_sector;
  request.command = scsi::op_read6;
  while (sectors > 0) {
    const auto n = static_cast<std::uint16_t>(std::min<std::uint32_t>(cd_chunk_sectors, sectors));
    request.block_address = sector;
    request.block_count = n;
    if (const int status = scsi::cdrom_rw(request); status != 0) {
      return read_failed(copy, failure_unit::cd_sector, sector, status, n);
    }
    if (!deliver(out, buffer.data(), std::size_t{n} * scsi::cd_sector_bytes, copy)) return 0;
    sector += n;
    sectors -= n;
  }

  std::uint32_t block = sector * scsi::cd_blocks_per_sector;
  for (std::uint32_t k = 0; k < tail; ++k, ++block) {
    if (!copy_one_cd_block(out, request, block, copy)) return 0;
  }
  return 1;
}

}  // namespace hybrid
