// The few file operations the standard library does not offer with 64-bit
// offsets on every platform. The build picks the implementation
// (file_ops_posix.cpp or file_ops_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

bool file_seek(std::FILE* file, std::uint64_t offset);
bool file_seek_end(std::FILE* file);
bool file_tell(std::FILE* file, std::uint64_t& offset);
// Length of an open file, whatever its position; the stream is flushed first
// so that buffered writes count.
bool file_length(std::FILE* file, std::uint64_t& bytes);
// Cuts or extends the file to exactly `bytes`; the stream is flushed first.
bool file_truncate(std::FILE* file, std::uint64_t bytes);
// How many bytes from `offset` on are a hole: never written, read as zeros
// without the disk being read. 0 where the file holds data, and wherever the
// system cannot tell (Windows, a file system without holes). The stream's
// position stays where it was.
std::uint64_t file_hole_bytes(std::FILE* file, std::uint64_t offset);
// The system's text for the error number of the last failed call.
std::string error_text(int error_number);
// True when both open files are the same file on disk (same path, another
// path to it, or a hard link).
bool same_file(std::FILE* a, std::FILE* b);
// The same for a file not opened yet (false when `path` names nothing), for
// a check that must come before the file is opened and locked.
bool same_file(std::FILE* a, const std::string& path);

enum class file_kind { regular, directory, block_device, character_device, pipe, other };

// What the system records of an open file: enough to tell a plain file from
// a device or a pipe, and to see that a file changed between two looks.
struct file_status {
  file_kind kind = file_kind::other;
  std::uint64_t length = 0;      // meaningful for a regular file or a block device
  std::int64_t modified_ns = 0;  // time of the last change to its bytes
  // The time of the last change to the file or what the system records of
  // it, the other time included. Unlike that one, no program can set it, so
  // a writer that puts the time of its change back still shows here. 0 where
  // the system does not tell (Windows XP).
  std::int64_t changed_ns = 0;
};
bool file_status_of(std::FILE* file, file_status& status);

// Takes the numbers of the standard input, output and error that the
// program was started without (`prog >&-`) with the null device, opened
// for reading only: a file the program opens later would get the number,
// and what is printed would be written into it. A write to a stream that
// was closed then fails, as it would have. Nothing on Windows, whose C
// library keeps those numbers for the standard streams.
void hold_standard_descriptors();

// A new, empty file in the folder of `beside`, open for reading and writing,
// that has no name anyone could open or find: it is deleted when it is closed,
// or when the process ends in any way. It sits on the same disk as `beside`.
// Null when none could be made; errno says why.
std::FILE* open_unnamed_file_beside(const std::string& beside);

}  // namespace platform
