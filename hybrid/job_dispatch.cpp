#include "hybrid/job_dispatch.h"

#include <memory>

#include "hybrid/io/file_stream.h"
#include "hybrid/jobs.h"
#include "platform/file_ops.h"

namespace hybrid {

std::string text::error_opening(const std::string& path) {
  return "Error opening file " + path + ".";
}

namespace {

using hybrid::file_stream;

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

std::unique_ptr<file_stream> open_file(const std::string& path, const char* mode,
                                       const job_outlets& out) {
  auto stream = std::make_unique<file_stream>(path, mode);
  // A folder opens for reading on POSIX systems; it is no file to open all
  // the same, as it is with "r+b" and on Windows.
  platform::file_status status;
  if (!stream->is_open() ||
      (stream->status(status) && status.kind == platform::file_kind::directory)) {
    out.show_message(text::error_opening(path));
    return nullptr;
  }
  return stream;
}

// The status line says "working" for exactly the length of the job, and the
// completion message is read while it still does.
int run_job(const job_outlets& out, const std::function<int()>& job) {
  out.set_status(text::working);
  const int result = job();
  if (result != 0) out.show_message(text::completed);
  out.set_status(text::idle);
  return result != 0 ? 1 : 0;
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
    // must do.
    source = open_file(request.source_path, "rb", out);
    if (!source) return 0;
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

  if (request.target == target_kind::hfs_image) {
    auto image = open_file(request.target_path, "w+b", out);
    if (!image) return 0;
    return run_job(out,
                   [&] { return hybrid::extract_to_hfs_image(request.device_text, *image, ask); });
  }

  auto iso = open_file(request.target_path, "r+b", out);
  if (!iso) return 0;
  if (source) {
    // The same file as source and target would be read while it is rewritten.
    if (platform::same_file(source->file_handle(), iso->file_handle())) {
      out.show_message(text::same_file);
      return 0;
    }
    return run_job(out, [&] { return hybrid::hybridize_from_file(*source, *iso, ask); });
  }
  return run_job(out,
                 [&] { return hybrid::hybridize_from_device(request.device_text, *iso, ask); });
}

}  // namespace hybrid
