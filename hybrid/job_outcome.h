// How a job ended, as one value. The jobs only decide; the dispatch alone
// turns an outcome into what the user reads, so a job cannot forget to say
// why it stopped, nor say it twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace hybrid {

// Where the user's files stand after a job that failed.
enum class files_state {
  iso_as_it_was,          // nothing written, or everything written put back
  iso_not_restored,       // the roll-back failed: the image may be damaged
  hfs_image_not_written,  // the new HFS image was dropped; a file at its path kept
};

// The file a job's words are about: the target, whose state every failure
// reports, unless the job refused because of its source.
enum class job_file { target, source };

class [[nodiscard]] job_outcome {
 public:
  enum class ending { completed, refused, cancelled, failed };

  // Done. `report` is what the job has to say besides the completion
  // message (--undo's account of what it removed), or empty.
  static job_outcome completed(std::string report = {}) {
    return {ending::completed, std::move(report), files_state::iso_as_it_was};
  }
  // Stopped before the first write, for the reason in `text`; nothing changed.
  static job_outcome refused(std::string text) {
    return {ending::refused, std::move(text), files_state::iso_as_it_was};
  }
  // The user answered Cancel; nothing changed and nothing more is said.
  static job_outcome cancelled() { return {ending::cancelled, {}, files_state::iso_as_it_was}; }
  // Stopped, for the reason in `text`, with the files as `files` says.
  static job_outcome failed(std::string text, files_state files) {
    return {ending::failed, std::move(text), files};
  }

  ending end() const { return end_; }
  const std::string& text() const { return text_; }
  files_state files() const { return files_; }
  job_file about() const { return about_; }
  // The same outcome, about the source.
  job_outcome about_source() && {
    about_ = job_file::source;
    return std::move(*this);
  }
  // The jobs' result as the program has always counted it: 1 done, 0 not.
  int code() const { return end_ == ending::completed ? 1 : 0; }

  // Of the bytes a completed job appended, how many are blocks that the file
  // system shares with the source: appended with no copy, and taking no
  // room of their own until either file is rewritten there.
  std::uint64_t shared_bytes() const { return shared_bytes_; }
  job_outcome& note_shared_bytes(std::uint64_t bytes) {
    shared_bytes_ = bytes;
    return *this;
  }

 private:
  job_outcome(ending end, std::string text, files_state files)
      : end_(end), text_(std::move(text)), files_(files) {}
  ending end_;
  std::string text_;
  files_state files_;
  job_file about_ = job_file::target;
  std::uint64_t shared_bytes_ = 0;
};

// What a step of a job answers: nothing when the job goes on, or the
// outcome the job ends with (a refusal, a Cancel, a failure).
using job_stop = std::optional<job_outcome>;

}  // namespace hybrid
