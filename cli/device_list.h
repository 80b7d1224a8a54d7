// The devices ASPI reports, printed the way the device picker shows them:
// per host adapter its driver, then Id, vendor ("Typ"), product ("Model")
// and revision ("Release") of each listed device.
#pragma once

#include <string>
#include <vector>

namespace cli {

// type_filter as the device scan takes it: -2 disks, 5 CD-ROMs, -1 all.
// `reasons` (devices that are there but cannot be used) follow the table,
// one line each.
std::string device_list_text(int type_filter, const std::vector<std::string>& reasons = {});

}  // namespace cli
