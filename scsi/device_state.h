// The device state that the jobs, the block readers, the request layer and
// the device picker share. There is one per process, reached through
// devices(); tests reset it between cases.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "scsi/scsi_request.h"

namespace scsi {

constexpr std::uint32_t no_cached_sector = 0xFFFFFFFFu;
constexpr std::uint8_t no_selection = 255;

struct device_address {
  std::uint8_t host = 0;
  std::uint8_t target = 0;
  bool operator==(const device_address&) const = default;
};

struct device_state {
  std::uint8_t src_host = 0;
  std::uint8_t src_target = 0;
  std::uint16_t src_block_size = 0;
  // Bytes per block of an aspi_rw transfer; 0 until something learns it.
  std::uint16_t aspi_unit_size = 0;
  // The device whose READ CAPACITY gave aspi_unit_size (the device dialog's
  // choice, or a job's source); no_selection when no device did. A job reads
  // another device only after asking that device: a length left by the
  // dialog for an optical drive got a disk typed in later refused.
  std::uint8_t unit_size_host = no_selection;
  std::uint8_t unit_size_target = no_selection;
  std::uint8_t sel_host = 0;
  std::uint8_t sel_target = 0;
  std::unique_ptr<std::array<std::uint8_t, cd_sector_bytes>> cd_sector_cache;
  std::uint32_t cd_cached_sector = no_cached_sector;
  // Devices that refused READ(6) as an unknown command (ATAPI and USB
  // optical drives: their command set has no 6-byte transfers). They get the
  // 10-byte forms from then on; a rescan forgets them, as another device may
  // answer at the same place.
  std::vector<device_address> ten_byte_only;
};

device_state& devices();
// Back to the state at program start (tests).
void reset_device_state();

bool takes_only_ten_byte_transfers(device_address device);
void remember_ten_byte_transfers(device_address device);
void forget_ten_byte_transfers();

}  // namespace scsi
