// The floppy drive choice behind the floppy Browse button (template 3).
#pragma once

#include <windows.h>

namespace app {

// Asks for drive A or B when the machine has both and writes "A:" or "B:"
// into edit box `edit_id` of `window`. 1 when a drive was chosen or is the
// only one, -1 when there is none or the user cancelled.
int choose_floppy(HWND window, int edit_id);

INT_PTR CALLBACK floppy_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace app
