// The Linux drive count, over any folder of device nodes so that tests can
// count a folder of their own.
#pragma once

#include <string>

namespace platform {

// Entries named "sr" and one or more digits: the SCSI CD-ROM drives.
int count_cdrom_drives_in(const std::string& device_folder);
// fd0 and fd1, the drives a floppy letter A: or B: can name.
int count_floppy_drives_in(const std::string& device_folder);

}  // namespace platform
