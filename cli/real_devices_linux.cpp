#include <cstdlib>

#include "cli/real_devices.h"
#include "scsi/transports/sg_io_manager_linux.h"

namespace cli {

real_devices open_real_devices() {
  // The tests point these at a tree of their own, so that the devices of the
  // machine they run on do not move the simulated bus's adapters.
  scsi::sg_io_setup setup;
  if (const char* sysfs = std::getenv("ZELVORANT_SYSFS")) setup.sysfs = sysfs;
  if (const char* devdir = std::getenv("ZELVORANT_DEVDIR")) setup.devdir = devdir;
  auto manager = std::make_unique<scsi::sg_io_manager>(std::move(setup));
  real_devices found;
  found.reasons = manager->reasons();
  found.manager = std::move(manager);
  return found;
}

}  // namespace cli
