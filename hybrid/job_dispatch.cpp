#include "hybrid/job_dispatch.h"

#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>

#include "hybrid/io/file_stream.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/io/replacement_file.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "platform/file_ops.h"

namespace hybrid {

namespace {

using hybrid::file_stream;

void show_open_failure(const job_outlets& out, const std::string& path, const std::string& reason) {
  if (out.show_open_failure) {
    out.show_open_failure(text::error_opening(path), reason);
  } else {
    out.show_message(text::error_opening(path));
  }
}

// One job at a time: the jobs' boxes have no owner, so Start can be pressed
// again while one of them is open, and a second job on the same files would
// tear them apart.
bool job_running = false;

struct running_guard {
  running_guard() { job_running = true; }
  ~running_guard() { job_running = false; }
  running_guard(const running_guard&) = delete;
  running_guard& operator=(const running_guard&) = delete;
};

// Every file a job works on is locked against other jobs until it is closed
// (`in_use` is the message when another job holds it).
std::unique_ptr<file_stream> open_file(const std::string& path, const char* mode,
                                       platform::file_lock lock, const char* in_use,
                                       const job_outlets& out) {
  auto stream = std::make_unique<file_stream>(path, mode, lock);
  // A folder opens for reading on POSIX systems; it is no file to open all
  // the same, as it is with "r+b" and on Windows.
  platform::file_status status;
  if (!stream->is_open()) {
    if (stream->in_use()) {
      out.show_message(in_use);
    } else {
      show_open_failure(out, path, stream->error_text());
    }
    return nullptr;
  }
  if (stream->status(status) && status.kind == platform::file_kind::directory) {
    show_open_failure(out, path, platform::error_text(EISDIR));
    return nullptr;
  }
  return stream;
}

}  // namespace

std::optional<std::string> outcome_notice(const job_outcome& outcome) {
  switch (outcome.end()) {
    case job_outcome::ending::completed:
      if (outcome.text().empty()) return std::nullopt;
      return outcome.text();
    case job_outcome::ending::refused:
      return outcome.text();
    case job_outcome::ending::cancelled:
      return std::nullopt;
    case job_outcome::ending::failed:
      break;
  }
  switch (outcome.files()) {
    case files_state::iso_as_it_was:
      return outcome.text() + text::iso_restored_suffix(true);
    case files_state::iso_not_restored:
      return outcome.text() + text::iso_restored_suffix(false);
    case files_state::hfs_image_not_written:
      break;
  }
  return outcome.text() + text::hfs_image_kept_suffix;
}

void tell_outcome(const job_outlets& out, const job_outcome& outcome) {
  if (const std::optional<std::string> notice = outcome_notice(outcome)) out.ask->notice(*notice);
  if (outcome.end() != job_outcome::ending::completed) return;
  out.show_message(text::completed);
  if (outcome.shared_bytes() > 0 && out.show_blocks_shared) {
    out.show_blocks_shared(outcome.shared_bytes());
  }
}

int run_job(const job_outlets& out, const std::function<job_outcome()>& job) {
  out.set_status(text::working);
  const job_outcome outcome = job();
  tell_outcome(out, outcome);
  out.set_status(text::idle);
  return outcome.code();
}

namespace {

// The image is made in a new file, which takes the target's place only when
// the job completed; the specifier is checked before the target is touched.
int extract_into_new_image(const job_request& request, const job_outlets& out) {
  questions& ask = *out.ask;
  if (refusal refused = hybrid::check_extract_specifier(request.device_text)) {
    tell_outcome(out, job_outcome::refused(refused.text()));
    return 0;
  }
  if (ask.dry_run()) {
    // Nothing is made, not even the new file: the job writes nothing into
    // this one.
    std::error_code unknown;
    const auto status = std::filesystem::status(request.target_path, unknown);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
      show_open_failure(out, request.target_path,
                        std::filesystem::is_directory(status) ? platform::error_text(EISDIR)
                                                              : text::not_a_regular_file);
      return 0;
    }
    // The new file would be made in the target's folder.
    const auto folder = std::filesystem::path(request.target_path).parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, unknown)) {
      show_open_failure(out, request.target_path, platform::error_text(ENOENT));
      return 0;
    }
    memory_stream nowhere;
    return run_job(out, [&] { return extract_to_hfs_image(request.device_text, nowhere, ask); });
  }
  replacement_file image(request.target_path);
  switch (image.open()) {
    case replacement_file::opened::ok:
      break;
    case replacement_file::opened::in_use:
      out.show_message(text::hfs_image_in_use);
      return 0;
    case replacement_file::opened::failed:
      show_open_failure(out, request.target_path, image.error_text());
      return 0;
  }
  return run_job(out, [&] {
    job_outcome outcome = hybrid::extract_to_hfs_image(request.device_text, image.stream(), ask);
    if (outcome.end() != job_outcome::ending::completed) return outcome;
    if (ask.stop_requested()) {
      return job_outcome::failed(text::stopped, files_state::hfs_image_not_written);
    }
    if (!image.commit()) {
      return job_outcome::failed(
          text::hfs_image_not_replaced(request.target_path, image.error_text()),
          files_state::hfs_image_not_written);
    }
    return outcome;
  });
}

}  // namespace

int dispatch_job(const job_request& request, const job_outlets& out) {
  if (job_running) {
    out.show_message(text::job_under_way);
    return 0;
  }
  running_guard guard;
  hybrid::questions& ask = *out.ask;

  std::unique_ptr<file_stream> source;
  if (request.source == source_kind::file) {
    if (request.target == target_kind::hfs_image) {
      out.show_message(text::incoherent);
      return 0;
    }
    if (request.source_path.empty()) {
      out.show_message(text::no_file);
      return 0;
    }
    // Only read: a file with mode 444, on a read-only mount or on a CD-ROM
    // must do. Shared with other readers, never with a writer.
    source = open_file(request.source_path, "rb", platform::file_lock::shared,
                       text::hfs_image_in_use, out);
    if (!source) return 0;
    // A pipe hands out its bytes once, and the job reads its source more
    // than once: only a file or a device will do.
    platform::file_status status;
    if (source->status(status) &&
        (status.kind == platform::file_kind::pipe || status.kind == platform::file_kind::other)) {
      show_open_failure(out, request.source_path, text::not_a_regular_file);
      return 0;
    }
  } else if (request.device == device_kind::none || request.device_text.empty()) {
    // A drive source with no kind chosen names no device at all: no job can
    // start without a specifier.
    out.show_message(text::no_drive);
    return 0;
  }

  if (request.target_path.empty()) {
    out.show_message(text::no_file);
    return 0;
  }

  if (request.target == target_kind::hfs_image) return extract_into_new_image(request, out);

  // The same file as source and target would be read while it is rewritten;
  // asked before the target is opened, whose lock would refuse it otherwise.
  if (source && platform::same_file(source->file_handle(), request.target_path)) {
    out.show_message(text::same_file);
    return 0;
  }
  // A dry run only reads the ISO image, so a user who may not write it can
  // rehearse the job; other readers may share it, a writer may not.
  const bool rehearsal = ask.dry_run();
  auto iso = open_file(request.target_path, rehearsal ? "rb" : "r+b",
                       rehearsal ? platform::file_lock::shared : platform::file_lock::exclusive,
                       text::iso_in_use, out);
  if (!iso) return 0;
  if (source) {
    return run_job(out, [&] { return hybrid::hybridize_from_file(*source, *iso, ask); });
  }
  return run_job(out,
                 [&] { return hybrid::hybridize_from_device(request.device_text, *iso, ask); });
}

int dispatch_undo(const std::string& path, const job_outlets& out) {
  if (job_running) {
    out.show_message(text::job_under_way);
    return 0;
  }
  running_guard guard;
  if (path.empty()) {
    out.show_message(text::no_file);
    return 0;
  }
  auto iso = open_file(path, "r+b", platform::file_lock::exclusive, text::iso_in_use, out);
  if (!iso) return 0;
  return run_job(out, [&] { return hybrid::undo_hybrid(*iso, *out.ask); });
}

}  // namespace hybrid
