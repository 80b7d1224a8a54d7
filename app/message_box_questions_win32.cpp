#include "app/message_box_questions_win32.h"

#include "app/dialog_helpers_win32.h"
#include "app/job_pump_win32.h"
#include "app/main_window_win32.h"
#include "app/partition_dialog_ids.h"
#include "app/partition_dialog_win32.h"
#include "hybrid/messages.h"
#include "platform/idle.h"

namespace app {
namespace {

// The job whose waits the idle hook serves.
message_box_questions* waiting_job = nullptr;

// The waits below the job read the window's messages, and give up once the
// user asked to stop.
bool pump_while_waiting() {
  pump_messages();
  return waiting_job == nullptr || !waiting_job->stop_requested();
}

}  // namespace

void message_box_questions::notice(const std::string& text) {
  if (!session_ending_) message_box(nullptr, text, MB_OK);
}

bool message_box_questions::warning(const std::string& text) {
  return !session_ending_ && message_box(nullptr, text, MB_OKCANCEL) == IDOK;
}

int message_box_questions::choose_partition(const hybrid::partition_list& list) {
  if (session_ending_) return hybrid::choice_cancelled;
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
  session_ending_ = false;
  target_ = target;
  pumping_ = pumping_wanted();
  // The waits below the job (an ASPI request, the floppy tool) read the
  // window's messages too.
  if (pumping_) {
    waiting_job = this;
    platform::set_idle_hook(pump_while_waiting);
  }
}

void message_box_questions::job_ended() {
  platform::set_idle_hook(nullptr);
  waiting_job = nullptr;
  running_ = false;
}

}  // namespace app
