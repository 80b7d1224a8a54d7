#include "app/dialog_helpers_win32.h"

#include "app/dialog_placement.h"
#include "app/shell_win32.h"
#include "hybrid/messages.h"

namespace app {

INT_PTR run_dialog(DLGPROC dialog_proc, int template_id, HWND owner, LPARAM init_param) {
  return DialogBoxParamA(app::app_instance, MAKEINTRESOURCEA(template_id), owner, dialog_proc,
                         init_param);
}

void center_window(HWND window, HWND owner) {
  HDC dc = GetDC(window);
  const int screen_width = GetDeviceCaps(dc, HORZRES);
  const int screen_height = GetDeviceCaps(dc, VERTRES);
  ReleaseDC(window, dc);

  RECT own{};
  GetWindowRect(window, &own);
  RECT reference{0, 0, screen_width, screen_height};
  if (owner != nullptr) GetWindowRect(owner, &reference);

  const int x = centered_start(reference.left, reference.right - reference.left,
                               own.right - own.left, screen_width);
  const int y = centered_start(reference.top, reference.bottom - reference.top,
                               own.bottom - own.top, screen_height);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

int message_box(HWND owner, const std::string& text, UINT buttons) {
  return MessageBoxA(owner, text.c_str(), hybrid::text::program_title, buttons);
}

}  // namespace app
