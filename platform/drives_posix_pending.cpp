#include "platform/drives.h"
namespace platform {
int count_cdrom_drives() { return 0; }
int count_floppy_drives() { return 0; }
}  // namespace platform
