// Floppy disks are read by an external imaging tool, which leaves the disk's
// raw 512-byte blocks in a temporary file; the job puts a partition map in
// front of them, so that the HFS image is laid out like one read from a CD-ROM
// or hard disk.
#pragma once

#include <cstdint>
#include <string>

#include "hybrid/io/byte_stream.h"
#include "hybrid/job_outcome.h"
#include "hybrid/questions.h"
#include "platform/process.h"

namespace hybrid {

// The file the tool writes, in the private folder it is started in.
inline constexpr const char* floppy_temp_file_name = "zelvora$.nt";

// The tool's command line for drive 0 (A:) or 1 (B:).
std::string floppy_command_line(std::uint8_t drive_index);

// Copies the floppy disk in drive 0 (A:) or 1 (B:) into the HFS image: a
// 64-block partition map with one Apple_HFS partition of the disk's whole
// 512-byte blocks, then every byte of the disk. Unless completed, the HFS
// image is left empty.
job_outcome extract_floppy(std::uint8_t drive_index, byte_stream& hfs_image, questions& ask);
// The same with the places the tool is looked for in (tests bring their own).
job_outcome extract_floppy(std::uint8_t drive_index, byte_stream& hfs_image, questions& ask,
                           const platform::tool_places& tool_places);

}  // namespace hybrid
