#include "app/floppy_dialog_win32.h"

#include "app/dialog_helpers_win32.h"
#include "app/floppy_choice.h"
#include "app/floppy_dialog_ids.h"
#include "app/shell_win32.h"

namespace app {

int choose_floppy(HWND window, int edit_id) {
  const floppy_choice choice = choose_floppy_drive(GetLogicalDrives(), [window] {
    return static_cast<int>(run_dialog(floppy_dialog_proc, IDD_FLOPPY_DIALOG, window, 0));
  });
  if (choice.drive_text) SetDlgItemTextA(window, edit_id, choice.drive_text->c_str());
  return choice.result;
}

INT_PTR CALLBACK floppy_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  switch (message) {
    case WM_INITDIALOG:
      center_window(dialog, main_window);
      return TRUE;
    case WM_COMMAND:
      if (const auto end = floppy_dialog_command(command_control(wparam))) {
        EndDialog(dialog, *end);
        return TRUE;
      }
      return FALSE;
    case WM_SYSCOMMAND:
      if (!is_close_command(wparam)) return FALSE;
      EndDialog(dialog, floppy_dialog_closed());
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace app
