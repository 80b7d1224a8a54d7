// What the main window shows and asks while a job runs: the share copied in
// the status line, and the question before a job is stopped. The Windows
// code only passes these on.
#pragma once

#include <cstdint>
#include <string>

#include "hybrid/job_dispatch.h"

namespace app {

// The working status with the share copied (text::working_share); MB are
// 2^20 bytes, as on the headless front end's progress bar.
std::string progress_status(std::uint64_t bytes_done, std::uint64_t total_bytes);

// The status line is redrawn at most this often while bytes are copied.
constexpr std::uint32_t status_interval_ms = 250;

// When the status line is due again, on a millisecond tick counter that
// wraps after 49 days (GetTickCount).
struct status_pace {
  bool shown = false;
  std::uint32_t last_ms = 0;
  // True, and counts as shown, when nothing was shown yet or the interval
  // has passed since the last time.
  bool due(std::uint32_t now_ms);
};

// Exit/Cancel, Escape or the close box during a job: "Stop the job?" and
// what becomes of the target when the user says OK.
std::string stop_question(hybrid::target_kind target);

// What Windows shows, for this program, when the session is to end during
// a job.
const char* shutdown_block_reason(hybrid::target_kind target);

}  // namespace app
