// The device selection dialog (template 998) behind the SCSI and CD-ROM
// Browse buttons.
#pragma once

#include <windows.h>

#include "scsi/device_scan.h"

namespace app {

// Lets the user pick a device of `type` (5 CD-ROM, -2 disks and optical
// memory) and writes its specifier ("A" or "C", host, target, "0") into
// `specifier`, which holds at least 5 bytes. 0 when written, -1 cancelled or
// closed, -2 when the device did not answer READ CAPACITY.
int choose_device(int type, char* specifier, HWND owner);

INT_PTR CALLBACK device_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Shows host adapter `host` (or the next one with devices) in the dialog's
// rows; the target of its only device, else 255.
int show_host_devices(HWND dialog, int host_count, int host, const scsi::device_table& table);

}  // namespace app
