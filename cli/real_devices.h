// The platform's own way to reach SCSI devices, for the headless front end.
// Its host adapters come first; the simulated bus of --attach follows them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scsi/aspi_manager.h"

namespace cli {

struct real_devices {
  std::unique_ptr<scsi::aspi_manager> manager;  // null where there is none
  // One line for each device that is there but cannot be used, saying why.
  std::vector<std::string> reasons;
};

real_devices open_real_devices();

}  // namespace cli
