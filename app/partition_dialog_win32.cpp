#include "app/partition_dialog_win32.h"

#include "app/dialog_helpers_win32.h"
#include "app/partition_choice.h"
#include "app/partition_dialog_ids.h"
#include "hybrid/messages.h"
#include "hybrid/questions.h"

namespace app {
namespace {

// The row the user clicked last; one dialog is open at a time.
int marked_row = no_row_marked;

void open_dialog(HWND dialog, const hybrid::partition_list& list) {
  center_window(dialog, nullptr);
  int row = 0;
  for (const partition_row& shown : partition_rows(list)) {
    EnableWindow(GetDlgItem(dialog, IDC_PARTITION_ROW + row), TRUE);
    SetDlgItemTextA(dialog, IDC_PARTITION_NAME + row, shown.name.c_str());
    SetDlgItemTextA(dialog, IDC_PARTITION_BLOCKS + row, shown.blocks.c_str());
    ++row;
  }
  marked_row = no_row_marked;
}

void mark_row(HWND dialog, int row) {
  CheckRadioButton(dialog, IDC_PARTITION_ROW, IDC_PARTITION_ROW + PARTITION_DIALOG_ROWS - 1,
                   IDC_PARTITION_ROW + row);
  marked_row = row;
}

void confirm(HWND dialog) {
  const bool all = IsDlgButtonChecked(dialog, IDC_PARTITION_ALL) == BST_CHECKED;
  if (const auto choice = partition_ok(marked_row, all)) {
    EndDialog(dialog, *choice);
  } else {
    message_box(dialog, hybrid::text::no_partition_chosen, MB_OK);
  }
}

bool on_partition_command(HWND dialog, int control) {
  if (control >= IDC_PARTITION_ROW && control < IDC_PARTITION_ROW + PARTITION_DIALOG_ROWS) {
    mark_row(dialog, control - IDC_PARTITION_ROW);
  } else if (control == IDC_PARTITION_OK) {
    confirm(dialog);
  } else if (control == IDC_PARTITION_CANCEL || control == IDCANCEL) {
    EndDialog(dialog, hybrid::choice_cancelled);
  } else {
    return false;  // "All partitions" ticks itself
  }
  return true;
}

}  // namespace

INT_PTR CALLBACK partition_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      open_dialog(dialog, *reinterpret_cast<const hybrid::partition_list*>(lparam));
      return TRUE;
    case WM_COMMAND:
      return on_partition_command(dialog, command_control(wparam));
    case WM_SYSCOMMAND:
      if (!is_close_command(wparam)) return FALSE;
      EndDialog(dialog, hybrid::choice_cancelled);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace app
