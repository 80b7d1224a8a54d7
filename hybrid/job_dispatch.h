// The Start action: checks what the user chose, opens the files, runs exactly
// one job and tells the user how it ended. It never touches a window: the
// front end hands it the choices and the outlets through which it speaks.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hybrid/job_outcome.h"
#include "hybrid/messages.h"
#include "hybrid/questions.h"

namespace hybrid {

enum class source_kind { file, drive };
enum class device_kind { none, floppy, scsi, cdrom };
enum class target_kind { iso_image, hfs_image };

// The main window's state when Start was pressed.
struct job_request {
  source_kind source = source_kind::file;
  device_kind device = device_kind::none;
  std::string source_path;  // the HFS image file, for a file source
  std::string device_text;  // the device specifier of the checked kind
  target_kind target = target_kind::iso_image;
  std::string target_path;
  // The headless front end's own job: a file source with an HFS image
  // target copies the file's volume, or a partition of it, into a new HFS
  // image. The window never sets it, and that pair stays incoherent there.
  bool image_file_to_hfs_image = false;
};

// What a completed job left in its target, read back from it as --info
// reads an image.
struct written_target {
  enum class kind { hybrid, hfs_image, plain_iso } what = kind::hybrid;
  std::string path;
  std::uint64_t bytes = 0;
  std::vector<text::volume_at> volumes;  // the HFS volumes its map lists, in map order
  bool blocks_shared = false;            // some appended data share the source's blocks
};

struct job_outlets {
  // A modal notice with OK, owned by the main window.
  std::function<void(const std::string&)> show_message;
  // Replaces the status line; visible at once.
  std::function<void(const std::string&)> set_status;
  // What the jobs ask, answered by the front end.
  questions* ask = nullptr;
  // A file that cannot be opened: the message ("Error opening file X.") and
  // the system's reason, which may be empty. Unset, show_message gets the
  // message alone, as the window shows it.
  std::function<void(const std::string& message, const std::string& reason)> show_open_failure;
  // For a front end that names what was written and the file each error is
  // about; unset, the window's texts. The completion, read back from the
  // target, in place of the completion message (a dry run keeps that);
  // every refusal and failure with the file or device it is about
  // (empty when none was named), in place of the notice or the message.
  std::function<void(const written_target&)> show_completion;
  std::function<void(const std::string& file, const std::string& text)> show_error;
  // After the completion message, when some of the bytes appended are
  // blocks the file system shares with the source (job_outcome::
  // shared_bytes). Unset, nothing more is said: the window keeps its text.
  std::function<void(std::uint64_t shared_bytes)> show_blocks_shared;
};

// The names the user gave the job's files, for show_error, and how to read
// back what the job wrote, for show_completion.
struct job_files {
  std::string source;  // the HFS image file, or the device
  std::string target;
  std::function<written_target()> written;
};

// Runs the whole Start action. Returns 1 when a job ran and completed, 0 when
// the request was refused or the job did not complete; the user has been told
// either way.
int dispatch_job(const job_request& request, const job_outlets& outlets);

// How a job ended, told on the two channels: what the job has to say in a
// notice (questions::notice; in the Windows program a box with no owner),
// then, when it completed, the completion message through show_message.
// outcome_notice is that notice: a refusal's or a report's text, a
// failure's with what became of the files; nothing after a Cancel or a
// completion without a report.
std::optional<std::string> outcome_notice(const job_outcome& outcome);
void tell_outcome(const job_outlets& outlets, const job_outcome& outcome,
                  const job_files& files = {});

// Runs one job under the status line: "working" for exactly the length of
// the job, every message about how it ended read while it still says so.
// The job's 1 or 0.
int run_job(const job_outlets& outlets, const std::function<job_outcome()>& job,
            const job_files& files = {});

// --undo on the ISO image at `path`: opened and locked as the job's target
// is, the same answers.
int dispatch_undo(const std::string& path, const job_outlets& outlets);

}  // namespace hybrid
