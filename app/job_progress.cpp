#include "app/job_progress.h"

namespace app {

std::string progress_status(std::uint64_t bytes_done, std::uint64_t total_bytes) {
  // A copy of nothing is done; a count past the total is shown as the total.
  if (total_bytes == 0 || bytes_done > total_bytes) bytes_done = total_bytes;
  const std::uint64_t percent = total_bytes == 0 ? 100 : bytes_done * 100 / total_bytes;
  return std::string(hybrid::text::working) + " " + std::to_string(percent) + "% (" +
         std::to_string(bytes_done >> 20) + " of " + std::to_string(total_bytes >> 20) + " MB)";
}

bool status_pace::due(std::uint32_t now_ms) {
  // Unsigned difference: right across the counter's wrap.
  if (shown && now_ms - last_ms < status_interval_ms) return false;
  shown = true;
  last_ms = now_ms;
  return true;
}

std::string stop_question(hybrid::target_kind target) {
  return target == hybrid::target_kind::hfs_image
             ? "Stop the job?\n\nNo HFS image file is written; a file already at its path is "
               "left as it was."
             : "Stop the job?\n\nThe ISO image is left as it was.";
}

const char* shutdown_block_reason(hybrid::target_kind target) {
  return target == hybrid::target_kind::hfs_image
             ? "An HFS image file is being written. If Windows ends the program now, no HFS "
               "image file is written."
             : "A hybrid image is being written. If Windows ends the program now, the ISO "
               "image is put back as it was.";
}

}  // namespace app
