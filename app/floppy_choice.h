// Which floppy drive holds the Macintosh disk. Asked only when the machine
// has both A and B; the answer is kept in the device state's sel_target (0 A,
// 1 B), which the SCSI device picker also uses, so every path that writes the
// drive text sets it first.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace app {

// Floppy drives among the logical drives: bit 0 (A) and bit 1 (B) only.
int floppy_drive_count(std::uint32_t logical_drives);

// "A:" or "B:" for the drive in sel_target.
std::string chosen_floppy_text();

struct floppy_choice {
  int result;  // 1 chosen (or the only drive), -1 none or cancelled
  // The text for the edit box; none when the dialog was cancelled, which
  // leaves the box as it was.
  std::optional<std::string> drive_text;
};

// `ask` shows the dialog: 1 when a drive was chosen, 0 when cancelled, -1
// when it could not be shown (taken as a cancel: the user saw no question).
floppy_choice choose_floppy_drive(std::uint32_t logical_drives, const std::function<int()>& ask);

// The dialog's buttons. Returns the code the dialog ends with, or nothing for
// a control it does not know. The drive buttons set sel_target; Cancel and
// Escape leave it.
std::optional<int> floppy_dialog_command(int control);
// The close box: no drive (sel_target 255), ends with 0.
int floppy_dialog_closed();

}  // namespace app
