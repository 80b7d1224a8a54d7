// The ASPI manager of the Windows program. Windows builds only.
#pragma once

#include <string>

#include "scsi/aspi_manager.h"

namespace scsi {

// Loads WNASPI32.DLL if the machine has one and it serves at least one host
// adapter, else takes the system's SCSI pass-through (spti_manager); installs
// the choice and returns it. The program calls it once, before anything reaches for a
// device. The library is looked up at run time, so the program starts on
// machines without it.
aspi_manager& install_platform_aspi_manager();

// WNASPI32.DLL's manager when the machine has the library and it serves at
// least one host adapter, else null. Loads it on the first call only.
aspi_manager* wnaspi32_library();

// Why devices may be missing from the installed manager, in one line (the
// pass-through was refused for lack of rights); empty when nothing is known.
std::string platform_aspi_notice();

}  // namespace scsi
