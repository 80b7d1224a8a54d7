#include "app/job_pump_win32.h"

#include <windows.h>

#include "app/shell_win32.h"

namespace app {

void pump_messages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (main_window != nullptr && IsDialogMessageA(main_window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

bool pumping_wanted() {
  static const bool wanted = GetEnvironmentVariableA("ZELVORANT_NO_PUMP", nullptr, 0) == 0;
  return wanted;
}

}  // namespace app
