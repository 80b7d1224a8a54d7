// The Windows program: one modal dialog, the main window, is the whole of it.
// There are no command-line options.
#include <windows.h>

#include "app/dialog_helpers_win32.h"
#include "app/main_window_ids.h"
#include "app/main_window_win32.h"
#include "app/shell_win32.h"
#include "scsi/transports/wnaspi32_manager.h"

namespace app {
HINSTANCE app_instance = nullptr;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  app::app_instance = instance;
  // WNASPI32.DLL when the machine has one that serves a host adapter; else
  // the program runs its file jobs with no devices to offer.
  scsi::install_platform_aspi_manager();
  app::run_dialog(app::main_dialog_proc, IDD_MAIN_WINDOW, nullptr, 0);
  return 0;
}
