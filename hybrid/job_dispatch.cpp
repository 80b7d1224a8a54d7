#include "hybrid/job_dispatch.h"

#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>

#include "hybrid/image_info.h"
#include "hybrid/io/file_stream.h"
#include "hybrid/io/memory_stream.h"
#include "hybrid/io/replacement_file.h"
#include "hybrid/jobs.h"
#include "hybrid/messages.h"
#include "platform/file_ops.h"

namespace hybrid {

namespace {

using hybrid::file_stream;

// A refusal of the dispatch's own, about `file`.
void refuse(const job_outlets& out, const std::string& file, const std::string& text) {
  if (out.show_error) {
    out.show_error(file, text);
  } else {
    out.show_message(text);
  }
}

void show_open_failure(const job_outlets& out, const std::string& path, const std::string& reason) {
  if (out.show_error) {
    out.show_error(path, text::not_opened(reason));
  } else if (out.show_open_failure) {
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
      refuse(out, path, in_use);
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

written_target read_back(byte_stream& target, written_target::kind what, const std::string& path) {
  written_target written{what, path, 0, {}};
  std::uint64_t length = 0;
  if (!target.length(length)) return written;
  const image_reader read = [&target](std::uint64_t offset, std::uint8_t* into, std::size_t count) {
    return target.seek(offset) && read_exact(target, into, count);
  };
  image_info info;
  describe_image(read, length, info);
  written.bytes = length;
  for (const map_entry_info& entry : info.entries) {
    if (!entry.hfs) continue;
    written.volumes.push_back(
        {entry.volume.name.empty() ? entry.name : entry.volume.name, entry.first_block});
  }
  return written;
}

void tell_outcome(const job_outlets& out, const job_outcome& outcome, const job_files& files) {
  const bool completed = outcome.end() == job_outcome::ending::completed;
  if (const std::optional<std::string> notice = outcome_notice(outcome)) {
    if (!completed && out.show_error) {
      out.show_error(outcome.about() == job_file::source ? files.source : files.target, *notice);
    } else {
      out.ask->notice(*notice);
    }
  }
  if (!completed) return;
  if (out.show_completion && files.written && !out.ask->dry_run()) {
    written_target written = files.written();
    written.blocks_shared = outcome.shared_bytes() > 0;
    out.show_completion(written);
  } else {
    out.show_message(text::completed);
  }
  if (outcome.shared_bytes() > 0 && out.show_blocks_shared) {
    out.show_blocks_shared(outcome.shared_bytes());
  }
}

int run_job(const job_outlets& out, const std::function<job_outcome()>& job,
            const job_files& files) {
  out.set_status(text::working);
  const job_outcome outcome = job();
  tell_outcome(out, outcome, files);
  out.set_status(text::idle);
  return outcome.code();
}

namespace {

// The extraction refuses only for what its source (the device, or the image
// file) holds or how it answers: its refusals are about the source.
job_outcome about_its_source(job_outcome outcome) {
  if (outcome.end() != job_outcome::ending::refused) return outcome;
  return std::move(outcome).about_source();
}

// The image is made in a new file, which takes the target's place only when
// the job completed; the specifier is checked before the target is touched.
// With a `source` file, its volume is the one copied.
int extract_into_new_image(const job_request& request, byte_stream* source,
                           const job_outlets& out) {
  questions& ask = *out.ask;
  job_files files{
      source != nullptr ? request.source_path : request.device_text, request.target_path, {}};
  const auto extract = [&](byte_stream& image) {
    return about_its_source(source != nullptr
                                ? hybrid::extract_from_image_file(*source, image, ask)
                                : hybrid::extract_to_hfs_image(request.device_text, image, ask));
  };
  if (source == nullptr) {
    if (refusal refused = hybrid::check_extract_specifier(request.device_text)) {
      tell_outcome(out, job_outcome::refused(refused.text()).about_source(), files);
      return 0;
    }
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
    return run_job(
        out, [&] { return extract(nowhere); }, files);
  }
  replacement_file image(request.target_path);
  switch (image.open()) {
    case replacement_file::opened::ok:
      break;
    case replacement_file::opened::in_use:
      refuse(out, request.target_path, text::hfs_image_in_use);
      return 0;
    case replacement_file::opened::failed:
      show_open_failure(out, request.target_path, image.error_text());
      return 0;
  }
  written_target written;
  files.written = [&written] { return written; };
  return run_job(
      out,
      [&] {
        job_outcome outcome = extract(image.stream());
        if (outcome.end() != job_outcome::ending::completed) return outcome;
        if (out.show_completion) {
          written = read_back(image.stream(), written_target::kind::hfs_image, request.target_path);
        }
        if (ask.stop_requested()) {
          return job_outcome::failed(text::stopped, files_state::hfs_image_not_written);
        }
        if (!image.commit()) {
          return job_outcome::failed(
              text::hfs_image_not_replaced(request.target_path, image.error_text()),
              files_state::hfs_image_not_written);
        }
        return outcome;
      },
      files);
}

}  // namespace

int dispatch_job(const job_request& request, const job_outlets& out) {
  if (job_running) {
    refuse(out, request.target_path, text::job_under_way);
    return 0;
  }
  running_guard guard;
  hybrid::questions& ask = *out.ask;

  std::unique_ptr<file_stream> source;
  if (request.source == source_kind::file) {
    if (request.target == target_kind::hfs_image && !request.image_file_to_hfs_image) {
      refuse(out, request.source_path, text::incoherent);
      return 0;
    }
    if (request.source_path.empty()) {
      refuse(out, {}, text::no_file);
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
    refuse(out, {}, text::no_drive);
    return 0;
  }

  if (request.target_path.empty()) {
    refuse(out, {}, text::no_file);
    return 0;
  }

  if (request.target == target_kind::hfs_image) {
    // The new image would take the place of the file it is read from.
    if (source && platform::same_file(source->file_handle(), request.target_path)) {
      refuse(out, request.source_path, text::source_is_hfs_target);
      return 0;
    }
    return extract_into_new_image(request, source.get(), out);
  }

  // The same file as source and target would be read while it is rewritten;
  // asked before the target is opened, whose lock would refuse it otherwise.
  if (source && platform::same_file(source->file_handle(), request.target_path)) {
    refuse(out, request.target_path, text::same_file);
    return 0;
  }
  // A dry run only reads the ISO image, so a user who may not write it can
  // rehearse the job; other readers may share it, a writer may not.
  const bool rehearsal = ask.dry_run();
  auto iso = open_file(request.target_path, rehearsal ? "rb" : "r+b",
                       rehearsal ? platform::file_lock::shared : platform::file_lock::exclusive,
                       text::iso_in_use, out);
  if (!iso) return 0;
  job_files files{source ? request.source_path : request.device_text, request.target_path, [&] {
                    return read_back(*iso, written_target::kind::hybrid, request.target_path);
                  }};
  if (source) {
    return run_job(
        out, [&] { return hybrid::hybridize_from_file(*source, *iso, ask); }, files);
  }
  return run_job(
      out, [&] { return hybrid::hybridize_from_device(request.device_text, *iso, ask); }, files);
}

int dispatch_undo(const std::string& path, const job_outlets& out) {
  if (job_running) {
    refuse(out, path, text::job_under_way);
    return 0;
  }
  running_guard guard;
  if (path.empty()) {
    refuse(out, {}, text::no_file);
    return 0;
  }
  auto iso = open_file(path, "r+b", platform::file_lock::exclusive, text::iso_in_use, out);
  if (!iso) return 0;
  const job_files files{
      {}, path, [&] { return read_back(*iso, written_target::kind::plain_iso, path); }};
  return run_job(
      out, [&] { return hybrid::undo_hybrid(*iso, *out.ask); }, files);
}

}  // namespace hybrid
