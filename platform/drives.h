// How many drives of each kind the machine has. The build picks the
// implementation: drive letters on Windows, device nodes on Linux.
#pragma once

namespace platform {

int count_cdrom_drives();
int count_floppy_drives();

}  // namespace platform
