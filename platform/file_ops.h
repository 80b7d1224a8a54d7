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
// The system's text for the error number of the last failed call.
std::string error_text(int error_number);
// Copies up to `count` bytes between two files at the given offsets inside
// the kernel, without touching either stream's position or buffer; `copied`
// is 0 at the end of `from`. False when the system cannot do it or it
// failed: the caller then copies through its own buffer, which also finds out
// which file is at fault.
bool kernel_copy(std::FILE* from, std::uint64_t from_offset, std::FILE* to, std::uint64_t to_offset,
                 std::size_t count, std::size_t& copied);
// True when both open files are the same file on disk (same path, another
// path to it, or a hard link).
bool same_file(std::FILE* a, std::FILE* b);
// The same for a file not opened yet (false when `path` names nothing), for
// a check that must come before the file is opened and locked.
bool same_file(std::FILE* a, const std::string& path);

}  // namespace platform
