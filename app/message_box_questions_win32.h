// How the Windows program answers the jobs: message boxes and the partition
// dialog, none of them owned by the main window, so that it stays usable
// (and a second Start is refused by the dispatch, not by a disabled window).
// While bytes are copied it keeps the window's messages flowing, shows the
// share done in the status line and passes on a stop the user asked for.
#pragma once

#include <cstdint>

#include "app/job_progress.h"
#include "hybrid/questions.h"

namespace app {

class message_box_questions : public hybrid::questions {
 public:
  void notice(const std::string& text) override;
  bool warning(const std::string& text) override;
  int choose_partition(const hybrid::partition_list& list) override;

  void copy_started(std::uint64_t total_bytes) override;
  void copy_advanced(std::uint64_t bytes_done) override;
  void copy_ended() override;
  bool stop_requested() override { return stop_; }

  // Start's job, from its beginning to its end; the target decides what the
  // stop question says.
  void job_began(hybrid::target_kind target);
  void job_ended();
  bool job_running() const { return running_; }
  hybrid::target_kind target() const { return target_; }
  // The user answered OK to "Stop the job?": the copy stops at its next
  // chunk (a device request pending is aborted), and the job rolls back as
  // after Ctrl-C on a terminal.
  void request_stop() { stop_ = true; }
  // The session ends during the job: it stops as above, and from now on
  // nothing waits for the user (no boxes, every question answered Cancel).
  void end_session() {
    stop_ = true;
    session_ending_ = true;
  }
  bool session_ending() const { return session_ending_; }

 private:
  bool running_ = false;
  bool stop_ = false;
  bool session_ending_ = false;
  bool pumping_ = true;
  hybrid::target_kind target_ = hybrid::target_kind::iso_image;
  std::uint64_t total_ = 0;
  status_pace pace_;
};

}  // namespace app
