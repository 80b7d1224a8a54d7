#include "cli/real_devices.h"

namespace cli {

// This system has no SCSI pass-through we know how to drive: the devices are
// those of --attach, and --list-devices says why there are no others.
real_devices open_real_devices() {
  real_devices found;
  found.reasons.push_back(
      "This build of zelvorant-cli has no SCSI pass-through for this system: only the "
      "simulated devices of --attach are listed.");
  return found;
}

}  // namespace cli
