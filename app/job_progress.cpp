#include "app/job_progress.h"

#include "hybrid/messages.h"

namespace app {

std::string progress_status(std::uint64_t bytes_done, std::uint64_t total_bytes) {
  // A copy of nothing is done; a count past the total is shown as the total.
  if (total_bytes == 0 || bytes_done > total_bytes) bytes_done = total_bytes;
  const std::uint64_t percent = total_bytes == 0 ? 100 : bytes_done * 100 / total_bytes;
  return hybrid::text::working_share(percent, bytes_done >> 20, total_bytes >> 20);
}

bool status_pace::due(std::uint32_t now_ms) {
  // Unsigned difference: right across the counter's wrap.
  if (shown && now_ms - last_ms < status_interval_ms) return false;
  shown = true;
  last_ms = now_ms;
  return true;
}

std::string stop_question(hybrid::target_kind target) {
  return target == hybrid::target_kind::hfs_image ? hybrid::text::stop_question_hfs
                                                  : hybrid::text::stop_question_iso;
}

const char* shutdown_block_reason(hybrid::target_kind target) {
  return target == hybrid::target_kind::hfs_image ? hybrid::text::shutdown_reason_hfs
                                                  : hybrid::text::shutdown_reason_iso;
}

}  // namespace app
