// What the ISO image target holds, looked at before anything is written to
// it. A target whose first 32,768 bytes are all zero is taken as it is, ISO
// 9660 volume descriptor or not; everything else that the job would
// overwrite or cut away is refused or asked about first: a device or a
// folder, a file that is already a Mac volume (a hybrid, or an HFS volume
// given as the target by mistake), a boot record or other data in the system
// area, and bytes after the ISO 9660 volume.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "hybrid/hybrid_layout.h"
#include "hybrid/io/byte_stream.h"
#include "hybrid/job_outcome.h"
#include "hybrid/questions.h"
#include "hybrid/refusal.h"

namespace hybrid {

struct iso_target {
  std::uint64_t length = 0;  // the ISO image's length as the job found it
  // Where the image ends for the job: its length, or the end of its ISO
  // 9660 volume once the user agreed to remove the bytes after it. The
  // hybrid's data go here, after padding to a whole block.
  std::uint64_t kept_length = 0;
  bool removes_bytes_after_volume() const { return kept_length < length; }
};

// The end of the ISO 9660 volume as its primary volume descriptor declares
// it; nothing when there is no such descriptor or its numbers cannot be
// believed (the two copies differ, an odd block size, a volume that would
// end inside its own descriptors). Refused only when a read fails.
refusal find_volume_end(byte_stream& iso, std::uint64_t length,
                        std::optional<std::uint64_t>& volume_end);

// Refuses anything but a regular file, before a byte of it is read (a pipe
// would wait for ever); takes the length.
refusal measure_iso_target(byte_stream& iso, iso_target& target);

// In this order: "ER" at byte 0 (already hybrid), a file too short for the
// map, an HFS or HFS+ volume header at byte 1024 (already hybrid, or an HFS
// volume): refused. Then the questions, OK or Cancel: anything but zeros in
// the first 32,768 bytes, and bytes after the ISO 9660 volume that are not
// all zero. Nothing is written either way; the job goes on when nothing
// stopped it.
job_stop check_iso_target(byte_stream& iso, iso_target& target, questions& ask);

// What both hybrid jobs do first: measure_iso_target, then `before_checks`
// with the target measured (the file job's capacity question; false is a
// Cancel), then check_iso_target.
job_stop prepare_iso_target(byte_stream& iso, iso_target& target, questions& ask,
                            const std::function<bool(const iso_target&)>& before_checks = {});

// Cuts the ISO image where the layout was planned to begin, when the user
// agreed to remove the bytes after its ISO 9660 volume.
void set_layout_cut(const iso_target& target, hybrid_layout& layout);

}  // namespace hybrid
