// The ASPI manager of the Windows program. Windows builds only.
#pragma once

#include "scsi/aspi_manager.h"

namespace scsi {

// Loads WNASPI32.DLL if the machine has one and it serves at least one host
// adapter, else takes a manager without host adapters; installs the choice
// and returns it. The program calls it once, before anything reaches for a
// device. The library is looked up at run time, so the program starts on
// machines without it.
aspi_manager& install_platform_aspi_manager();

}  // namespace scsi
