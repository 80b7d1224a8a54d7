#include "scsi/block_reader.h"

#include <cstring>

#include "platform/drives.h"
#include "scsi/aspi.h"
#include "scsi/aspi_defs.h"
#include "scsi/device_state.h"

namespace scsi {
namespace {

drive_counter cdrom_counter = nullptr;

std::array<std::uint8_t, cd_sector_bytes>& sector_cache() {
  device_state& state = devices();
  // A CD-ROM job may start from a typed specifier, before anything prepared
  // the cache: it comes into being on first use.
  if (!state.cd_sector_cache) {
    state.cd_sector_cache = std::make_unique<std::array<std::uint8_t, cd_sector_bytes>>();
  }
  return *state.cd_sector_cache;
}

}  // namespace

int read_blocks(scsi_request& request) {
  if (request.command == command_read) request.command = op_read6;
  if (request.command == command_write) request.command = op_write6;
  int status = 0;
  for (int attempt = 0; attempt < disk_read_attempts; ++attempt) {
    status = aspi_rw(request);
    if (status == SS_COMP) return 0;
    // A request that timed out was aborted: asking again would only wait
    // out the time limit again, twenty times over.
    if (status == SS_ABORTED) break;
  }
  return status;
}

int read_cd_block(scsi_request& request) {
  device_state& state = devices();
  std::array<std::uint8_t, cd_sector_bytes>& cache = sector_cache();
  const std::uint32_t sector = request.block_address / cd_blocks_per_sector;
  if (sector != state.cd_cached_sector) {
    state.cd_cached_sector = no_cached_sector;
    request.command = op_read6;
    // One sector, whatever count the caller left: the cache holds no more.
    scsi_request sector_read = request;
    sector_read.block_address = sector;
    sector_read.block_count = 1;
    sector_read.buffer = cache.data();
    int status = 0;
    for (int attempt = 0; attempt < cd_read_attempts; ++attempt) {
      status = cdrom_rw(sector_read);
      if (status == 0 || status == SS_ABORTED) break;
    }
    if (status != 0) return status;
    state.cd_cached_sector = sector;
  }
  const std::uint32_t offset = (request.block_address % cd_blocks_per_sector) * 512;
  std::memcpy(request.buffer, cache.data() + offset, 512);
  return 0;
}

int cd_reader_init() {
  device_state& state = devices();
  state.aspi_unit_size = 512;
  // 512 belongs to no device: a disk job still asks its disk.
  state.unit_size_host = state.unit_size_target = no_selection;
  sector_cache();
  return cdrom_counter != nullptr ? cdrom_counter() : platform::count_cdrom_drives();
}

void forget_cached_sector() { devices().cd_cached_sector = no_cached_sector; }

void set_cdrom_drive_counter(drive_counter counter) { cdrom_counter = counter; }

}  // namespace scsi
