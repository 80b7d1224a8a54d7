#include "app/message_box_questions_win32.h"

#include "app/dialog_helpers_win32.h"
#include "app/job_pump_win32.h"
#include "app/main_window_win32.h"
#include "app/partition_dialog_ids.h"
#include "app/partition_dialog_win32.h"
#include "platform/idle.h"

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

void message_box_questions::copy_started(std::uint64_t total_bytes) {
  total_ = total_bytes;
  pace_ = status_pace{};
  copy_advanced(0);
}

void message_box_questions::copy_advanced(std::uint64_t bytes_done) {
  if (!pumping_) return;
  if (pace_.due(GetTickCount())) set_status(progress_status(bytes_done, total_));
  pump_messages();
}

// Outside the copy the status line says what the dispatch put there.
void message_box_questions::copy_ended() {
  if (pumping_) set_status(hybrid::text::working);
}

void message_box_questions::job_began(hybrid::target_kind target) {
  running_ = true;
  stop_ = false;
  target_ = target;
  pumping_ = pumping_wanted();
  // The waits below the job (an ASPI request, the floppy tool) read the
  // window's messages too.
  if (pumping_) platform::set_idle_hook(pump_messages);
}

void message_box_questions::job_ended() {
  platform::set_idle_hook(nullptr);
  running_ = false;
}

}  // namespace app
