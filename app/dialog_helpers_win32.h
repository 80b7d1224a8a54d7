// Services every dialog of the Windows program uses.
#pragma once

#include <windows.h>

#include <string>

namespace app {

// Runs dialog template `template_id` of the program modally, owned by `owner`
// (may be null), with `init_param` handed to WM_INITDIALOG. Returns the value
// the dialog ended with, or -1 when it could not be created.
INT_PTR run_dialog(DLGPROC dialog_proc, int template_id, HWND owner, LPARAM init_param);

// Centres `window` on `owner`, or on the screen when `owner` is null, and
// keeps it on the screen.
void center_window(HWND window, HWND owner);

// A modal message box captioned with the program title.
int message_box(HWND owner, const std::string& text, UINT buttons);

// The control id of a WM_COMMAND: the low word; the notification is ignored.
inline int command_control(WPARAM wparam) { return LOWORD(wparam); }
// A WM_SYSCOMMAND for the close box; the low four bits are the system's own.
inline bool is_close_command(WPARAM wparam) { return (wparam & 0xFFF0) == SC_CLOSE; }

}  // namespace app
