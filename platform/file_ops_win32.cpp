#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/file_ops.h"

namespace platform {
namespace {

constexpr auto largest_offset = static_cast<std::uint64_t>(std::numeric_limits<__int64>::max());

HANDLE handle_of(std::FILE* file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

}  // namespace

bool file_seek(std::FILE* file, std::uint64_t offset) {
  if (offset > largest_offset) {
    errno = EOVERFLOW;
    return false;
  }
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool file_seek_end(std::FILE* file) { return _fseeki64(file, 0, SEEK_END) == 0; }

bool file_tell(std::FILE* file, std::uint64_t& offset) {
  const __int64 at = _ftelli64(file);
  if (at < 0) return false;
  offset = static_cast<std::uint64_t>(at);
  return true;
}

bool file_length(std::FILE* file, std::uint64_t& bytes) {
  if (std::fflush(file) != 0) return false;
  // _filelengthi64 sets errno, so the caller's message names the cause.
  const __int64 length = _filelengthi64(_fileno(file));
  if (length < 0) return false;
  bytes = static_cast<std::uint64_t>(length);
  return true;
}

// SetEndOfFile rather than _chsize_s: the C library extends a file by
// writing zeros, which on a large image takes long and fills the disk, where
// the file system can simply extend it. The end is set at the system's file
// pointer, which the stream relies on, so that pointer is put back.
bool file_truncate(std::FILE* file, std::uint64_t bytes) {
  if (std::fflush(file) != 0) return false;
  if (bytes > largest_offset) {
    errno = EOVERFLOW;
    return false;
  }
  const HANDLE handle = handle_of(file);
  LARGE_INTEGER here{}, end{}, none{};
  end.QuadPart = static_cast<LONGLONG>(bytes);
  if (!SetFilePointerEx(handle, none, &here, FILE_CURRENT)) {
    errno = EBADF;
    return false;
  }
  const bool done = SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
  const DWORD failure = done ? ERROR_SUCCESS : GetLastError();
  SetFilePointerEx(handle, here, nullptr, FILE_BEGIN);
  if (!done) errno = failure == ERROR_DISK_FULL ? ENOSPC : EIO;
  return done;
}

// Windows offers no copy between two open files inside the kernel: the
// caller copies through its own buffer.
bool kernel_copy(std::FILE*, std::uint64_t, std::FILE*, std::uint64_t, std::size_t,
                 std::size_t& copied) {
  copied = 0;
  return false;
}

std::string error_text(int error_number) { return std::strerror(error_number); }

// The volume's serial number and the file's index name one file, whatever the
// path (a hard link, another drive letter for the same share) it was opened by.
bool same_file(std::FILE* a, std::FILE* b) {
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  if (!GetFileInformationByHandle(handle_of(a), &ia) ||
      !GetFileInformationByHandle(handle_of(b), &ib)) {
    return false;
  }
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

// Opened for its attributes only, which no share mode of a job's open
// refuses.
bool same_file(std::FILE* a, const std::string& path) {
  const HANDLE other = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  const bool same = GetFileInformationByHandle(handle_of(a), &ia) &&
                    GetFileInformationByHandle(other, &ib) &&
                    ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
                    ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  CloseHandle(other);
  return same;
}

}  // namespace platform
