#include "app/message_box_questions_win32.h"

#include "app/dialog_helpers_win32.h"
#include "app/partition_dialog_ids.h"
#include "app/partition_dialog_win32.h"

namespace app {

void message_box_questions::notice(const std::string& text) { message_box(nullptr, text, MB_OK); }

bool message_box_questions::warning(const std::string& text) {
  return message_box(nullptr, text, MB_OKCANCEL) == IDOK;
}

int message_box_questions::choose_partition(const hybrid::partition_list& list) {
  // A dialog that cannot be shown chose nothing.
  return static_cast<int>(run_dialog(partition_dialog_proc, IDD_PARTITION_DIALOG, nullptr,
                                     reinterpret_cast<LPARAM>(&list)));
}

}  // namespace app
