// Bytes at the end of the ISO image that a job removes before it appends
// (those after the ISO 9660 volume, left there by an interrupted run, once
// the user agreed; --undo's appended data). They are copied into a file
// beside the image before it is cut, and put back if the job fails: they can
// be hundreds of megabytes, so they are kept on the disk, never in memory,
// and between two files on one disk the system may copy them without moving
// a byte at all.
//
// The bytes after the volume are the user's: they are kept in a named file
// that a kill, a crash or a power cut leaves where the next run finds it
// (hybrid/tail_recovery.h). The file is written under a name that says it is
// incomplete, synced, renamed and the folder synced, all before the image is
// cut; so a file under the complete name always holds every byte, and an
// incomplete one was never the only copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hybrid/io/byte_stream.h"
#include "hybrid/io/copy_progress.h"

namespace hybrid {

// Where remove() keeps the bytes.
enum class tail_keeping {
  scratch,       // an unnamed scratch file, gone with the job however it ends
  beside_image,  // a named file beside the image, removed once the job is final
};

// The names of the file that keeps the bytes of `iso_name` from byte `from`
// on: "NAME.removed-FROM-CHECK", where CHECK is the image's
// volume_fingerprint in 8 hex digits; "….incomplete" while it is written.
struct kept_tail_names {
  std::string complete, incomplete;
};
kept_tail_names kept_tail_names_for(const std::string& iso_name, std::uint64_t from,
                                    std::uint32_t fingerprint);

// The CRC-32 of the 2,048 bytes after the system area (the first volume
// descriptor: the volume's name and dates), which neither the job nor
// --undo writes: it tells the image the bytes came from from another one
// made under the same name. False when they cannot be read.
bool volume_fingerprint(byte_stream& iso, std::uint32_t& fingerprint);

// True when `count` bytes of `a` from `a_at` equal those of `b` from `b_at`
// (false too when either cannot be read).
bool same_bytes(byte_stream& a, std::uint64_t a_at, byte_stream& b, std::uint64_t b_at,
                std::uint64_t count);

class removed_tail {
 public:
  // What remove() was doing when it failed, and on which stream; keep_file:
  // making, renaming or syncing the named file (the folder's error text).
  enum class step { measure, make_scratch, seek, read, write, keep_file };

  explicit removed_tail(byte_stream& iso) : iso_(iso) {}
  removed_tail(const removed_tail&) = delete;
  removed_tail& operator=(const removed_tail&) = delete;

  // Keeps the bytes from `from` to the end aside and cuts the image at
  // `from`. False when that could not be done (failed_step, failed_stream);
  // the image is cut only once the bytes are safe, and put_back undoes a cut
  // that failed halfway. A named file that could not be completed is removed
  // again: the image still holds its bytes. `progress` (may be null) may stop
  // the copy between two chunks, which fails it too: the caller that asked to
  // stop knows why.
  bool remove(std::uint64_t from, tail_keeping keeping = tail_keeping::scratch,
              copy_progress* progress = nullptr);
  // Writes the bytes kept aside back from `from` on, each step tried even
  // when one before it failed; true when every step worked, or there was
  // nothing to put back. The caller cuts the image to its old length and
  // reads it back (reads_back).
  bool put_back();
  // True when the image holds the kept bytes at `from` again.
  bool reads_back();
  // The job's writes are final, or the image was read back whole: the bytes
  // kept aside go. False when a named file could not be removed (it keeps
  // its name, and the next run on the image removes it).
  bool drop();

  bool holds_bytes() const { return kept_; }
  std::uint64_t from() const { return from_; }
  std::uint64_t byte_count() const { return bytes_; }
  // The named file's complete name; empty for a scratch file.
  const std::string& kept_name() const { return kept_name_; }
  // The named file exists, under kept_name(): it holds the bytes, or could
  // not be removed once they were no longer needed.
  bool named_file_kept() const { return named_file_; }

  step failed_step() const { return failed_step_; }
  // The stream that failed (its error_text says why); null when no scratch
  // stream could be made, or the named file could not be kept, and
  // scratch_refusal() says why.
  const byte_stream* failed_stream() const { return failed_stream_; }
  const std::string& scratch_refusal() const { return scratch_refusal_; }

 private:
  bool fail(step at, const byte_stream* stream);
  bool keep_beside(std::uint64_t from, std::uint64_t length, copy_progress* progress);
  bool abandon_file(const std::string& reason);
  bool remove_file();

  byte_stream& iso_;
  std::unique_ptr<byte_stream> scratch_;
  bool kept_ = false;  // the scratch holds the bytes and the image may be cut
  std::uint64_t from_ = 0, bytes_ = 0;
  std::string kept_name_, incomplete_name_;
  bool named_file_ = false;
  step failed_step_ = step::measure;
  const byte_stream* failed_stream_ = nullptr;
  std::string scratch_refusal_;
};

}  // namespace hybrid
