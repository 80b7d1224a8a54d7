#include <windows.h>

#include "platform/drives.h"

namespace platform {
namespace {

// Drive letters are bits 0 (A:) to 25 (Z:) of GetLogicalDrives.
bool drive_is(int letter_index, UINT kind) {
  const char root[] = {static_cast<char>('A' + letter_index), ':', '\\', '\0'};
  return GetDriveTypeA(root) == kind;
}

}  // namespace

int count_cdrom_drives() {
  const DWORD present = GetLogicalDrives();
  int count = 0;
  for (int i = 0; i < 26; ++i) {
    if ((present >> i & 1u) != 0 && drive_is(i, DRIVE_CDROM)) ++count;
  }
  return count;
}

// Only A: and B: can be floppy drives for the floppy job; removable drives
// further on (card readers, USB sticks) are not floppies.
int count_floppy_drives() {
  const DWORD present = GetLogicalDrives();
  int count = 0;
  for (int i = 0; i < 2; ++i) {
    if ((present >> i & 1u) != 0 && drive_is(i, DRIVE_REMOVABLE)) ++count;
  }
  return count;
}

}  // namespace platform
