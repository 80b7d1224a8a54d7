#include "app/device_dialog_win32.h"

#include "app/device_dialog_ids.h"
#include "app/device_picker.h"
#include "app/dialog_helpers_win32.h"
#include "hybrid/messages.h"
#include "scsi/device_state.h"

namespace app {
namespace {

// The picker's rows drawn on the dialog's controls.
class dialog_rows : public device_rows {
 public:
  explicit dialog_rows(HWND dialog) : dialog_(dialog) {}

  void set_driver_text(const char* text) override {
    SetDlgItemTextA(dialog_, IDC_DEVICE_DRIVER, text);
  }
  void show_row(int target, const scsi::device_row& row) override {
    EnableWindow(GetDlgItem(dialog_, IDC_DEVICE_ROW + target), TRUE);
    SetDlgItemTextA(dialog_, IDC_DEVICE_VENDOR + target, row.vendor);
    SetDlgItemTextA(dialog_, IDC_DEVICE_PRODUCT + target, row.product);
    SetDlgItemTextA(dialog_, IDC_DEVICE_REVISION + target, row.revision);
  }
  void clear_row(int target) override {
    CheckDlgButton(dialog_, IDC_DEVICE_ROW + target, BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog_, IDC_DEVICE_ROW + target), FALSE);
    SetDlgItemTextA(dialog_, IDC_DEVICE_VENDOR + target, "");
    SetDlgItemTextA(dialog_, IDC_DEVICE_PRODUCT + target, "");
    SetDlgItemTextA(dialog_, IDC_DEVICE_REVISION + target, "");
  }
  void mark_row(int target) override {
    CheckRadioButton(dialog_, IDC_DEVICE_ROW, IDC_DEVICE_ROW + DEVICE_DIALOG_ROWS - 1,
                     IDC_DEVICE_ROW + target);
  }
  void enable_host_buttons(bool next, bool preceding) override {
    EnableWindow(GetDlgItem(dialog_, IDC_DEVICE_NEXT_HOST), next);
    EnableWindow(GetDlgItem(dialog_, IDC_DEVICE_PRECEDING_HOST), preceding);
  }

 private:
  HWND dialog_;
};

void open_dialog(HWND dialog, char* specifier) {
  center_window(dialog, nullptr);
  dialog_rows rows{dialog};
  if (!open_picker(rows, specifier)) {
    // The dialog is not shown yet: the box belongs to the window that
    // opened it.
    message_box(GetWindow(dialog, GW_OWNER), hybrid::text::no_host_adapter, MB_OK);
    EndDialog(dialog, 0);
  }
}

bool on_device_command(HWND dialog, int control) {
  dialog_rows rows{dialog};
  if (control >= IDC_DEVICE_ROW && control < IDC_DEVICE_ROW + DEVICE_DIALOG_ROWS) {
    pick_row(rows, control - IDC_DEVICE_ROW);
  } else if (control == IDC_DEVICE_NEXT_HOST) {
    next_host(rows);
  } else if (control == IDC_DEVICE_PRECEDING_HOST) {
    if (!preceding_host(rows)) MessageBeep(0xFFFFFFFF);
  } else if (control == IDC_DEVICE_OK) {
    switch (confirm_device()) {
      case confirm_result::ended:
        EndDialog(dialog, 0);
        break;
      case confirm_result::host_unnamed:
        message_box(dialog, hybrid::text::unnamed_host(scsi::devices().sel_host), MB_OK);
        break;
      case confirm_result::nothing_chosen:
        MessageBeep(0xFFFFFFFF);
        break;
    }
  } else if (control == IDC_DEVICE_CANCEL || control == IDCANCEL) {
    cancel_picker();
    EndDialog(dialog, 0);
  } else {
    return false;
  }
  return true;
}

}  // namespace

int show_host_devices(HWND dialog, int host_count, int host, const scsi::device_table& table) {
  dialog_rows rows{dialog};
  return show_host_devices(rows, host_count, host, table);
}

int choose_device(int type, char* specifier, HWND owner) {
  picker().result = picker_done;
  // The type travels in the buffer's first byte: -2 as 254.
  specifier[0] = static_cast<char>(type & 0xFF);
  if (run_dialog(device_dialog_proc, IDD_DEVICE_DIALOG, owner,
                 reinterpret_cast<LPARAM>(specifier)) == -1) {
    // Never shown: nothing was chosen, and the type byte is no specifier.
    specifier[0] = '\0';
    picker().result = picker_cancelled;
  }
  return picker().result;
}

INT_PTR CALLBACK device_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      open_dialog(dialog, reinterpret_cast<char*>(lparam));
      return TRUE;
    case WM_COMMAND:
      return on_device_command(dialog, command_control(wparam));
    case WM_SYSCOMMAND:
      if (!is_close_command(wparam)) return FALSE;
      close_picker();
      EndDialog(dialog, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace app
