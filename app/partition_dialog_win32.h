// The partition choice dialog (template 2). Run it through run_dialog with
// the partition list's address as the parameter; it ends with a row 0 to 7,
// choice_all or choice_cancelled.
#pragma once

#include <windows.h>

namespace app {

INT_PTR CALLBACK partition_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace app
