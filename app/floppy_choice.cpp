#include "app/floppy_choice.h"

#include "app/floppy_dialog_ids.h"
#include "scsi/device_state.h"

namespace app {

namespace {
constexpr int escape_command = 2;  // what the dialog manager sends for Escape
}

int floppy_drive_count(std::uint32_t logical_drives) {
  return static_cast<int>(logical_drives & 1u) + static_cast<int>((logical_drives >> 1) & 1u);
}

std::string chosen_floppy_text() {
  return {static_cast<char>('A' + scsi::devices().sel_target), ':'};
}

floppy_choice choose_floppy_drive(std::uint32_t logical_drives, const std::function<int()>& ask) {
  const int count = floppy_drive_count(logical_drives);
  if (count == 2) {
    if (ask() != 1) return {-1, std::nullopt};
    return {1, chosen_floppy_text()};
  }
  // One drive is always taken as A, whichever letter it has; with none the
  // text still names A, and the job finds no disk there.
  scsi::devices().sel_target = 0;
  return {count != 0 ? 1 : -1, chosen_floppy_text()};
}

std::optional<int> floppy_dialog_command(int control) {
  switch (control) {
    case IDC_FLOPPY_DRIVE_A:
      scsi::devices().sel_target = 0;
      return 1;
    case IDC_FLOPPY_DRIVE_B:
      scsi::devices().sel_target = 1;
      return 1;
    case IDC_FLOPPY_CANCEL:
    case escape_command:
      return 0;
    default:
      return std::nullopt;
  }
}

int floppy_dialog_closed() {
  scsi::devices().sel_target = scsi::no_selection;
  return 0;
}

}  // namespace app
