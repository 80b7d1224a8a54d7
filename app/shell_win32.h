// The two handles every window of the Windows program reaches for.
#pragma once

#include <windows.h>

namespace app {

// The module: every dialog template and the file chooser come from it. Set
// by WinMain before anything else.
extern HINSTANCE app_instance;
// The main window, once it has been initialised; the floppy dialog centres
// itself over it.
extern HWND main_window;

}  // namespace app
