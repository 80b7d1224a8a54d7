// What went wrong while a job read a device, so that the user learns which
// block failed. The readers have retried by then.
#pragma once

#include <cstdint>

namespace hybrid {

struct device_failure {
  enum class what { none, read, write, stopped } kind = what::none;
  enum class unit { disk_block, cd_block, cd_sector } place = unit::disk_block;
  std::uint32_t address = 0;  // in the unit above
  std::uint32_t count = 1;    // units in the failed transfer
  int status = 0;             // the last ASPI status of the failed read
};

}  // namespace hybrid
