// Bytes at the end of the ISO image that a job removes before it appends
// (those after the ISO 9660 volume, left there by an interrupted run, once
// the user agreed). They are copied into a scratch stream beside the image
// before it is cut, and put back if the job fails: they can be hundreds of
// megabytes, so they are kept on the disk, never in memory, and between two
// files on one disk the system may copy them without moving a byte at all.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hybrid/io/byte_stream.h"
#include "hybrid/io/copy_progress.h"

namespace hybrid {

class removed_tail {
 public:
  // What remove() was doing when it failed, and on which stream.
  enum class step { measure, make_scratch, seek, read, write };

  explicit removed_tail(byte_stream& iso) : iso_(iso) {}
  removed_tail(const removed_tail&) = delete;
  removed_tail& operator=(const removed_tail&) = delete;

  // Keeps the bytes from `from` to the end aside and cuts the image at
  // `from`. False when that could not be done (failed_step, failed_stream);
  // the image is cut only once the bytes are safe, and put_back undoes a cut
  // that failed halfway. `progress` (may be null) may stop the copy between
  // two chunks, which fails it too: the caller that asked to stop knows why.
  bool remove(std::uint64_t from, copy_progress* progress = nullptr);
  // Cuts the image at `from` again and appends the bytes kept aside; true
  // when there was nothing to put back.
  bool put_back();
  // The job's writes are final: the bytes kept aside go.
  void drop();

  step failed_step() const { return failed_step_; }
  // The stream that failed (its error_text says why); null when no scratch
  // stream could be made, and scratch_refusal() says why.
  const byte_stream* failed_stream() const { return failed_stream_; }
  const std::string& scratch_refusal() const { return scratch_refusal_; }

 private:
  bool fail(step at, const byte_stream* stream);

  byte_stream& iso_;
  std::unique_ptr<byte_stream> scratch_;
  bool kept_ = false;  // the scratch holds the bytes and the image may be cut
  std::uint64_t from_ = 0, bytes_ = 0;
  step failed_step_ = step::measure;
  const byte_stream* failed_stream_ = nullptr;
  std::string scratch_refusal_;
};

}  // namespace hybrid
