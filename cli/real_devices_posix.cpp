#include "cli/real_devices.h"
#include "hybrid/messages.h"

namespace cli {

// This system has no SCSI pass-through we know how to drive: the devices are
// those of --attach, and --list-devices says why there are no others.
real_devices open_real_devices() {
  real_devices found;
  found.reasons.push_back(hybrid::text::no_pass_through);
  return found;
}

}  // namespace cli
