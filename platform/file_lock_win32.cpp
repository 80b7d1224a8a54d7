#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/file_lock.h"
#include "platform/wide_path_win32.h"

namespace platform {
namespace {

// errno for the few failures an open meets, so that the stream's message
// names the cause.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

}  // namespace

// The lock is the share mode of the open itself: a locked file is opened
// without write sharing, so no other open for writing succeeds while it is
// open, and a source shared for reading cannot be opened as a target. A
// file that is being written cannot be opened with the same share mode,
// which keeps a job from reading a target that another job writes.
open_outcome open_file(const std::string& path, const char* mode, file_lock lock,
                       std::FILE*& file) {
  file = nullptr;
  const bool update = std::strchr(mode, '+') != nullptr;
  const bool create = mode[0] == 'w';
  const bool fresh = std::strchr(mode, 'x') != nullptr;
  const DWORD access = GENERIC_READ | (update || create ? GENERIC_WRITE : 0);
  const DWORD share =
      lock == file_lock::none ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
  const DWORD disposition = !create ? OPEN_EXISTING : fresh ? CREATE_NEW : CREATE_ALWAYS;
  const HANDLE handle = CreateFileW(wide_path(path).c_str(), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      errno = EBUSY;
      return open_outcome::in_use;
    }
    errno = errno_of(error);
    return open_outcome::failed;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                 (update || create ? _O_RDWR : _O_RDONLY) | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    errno = EMFILE;
    return open_outcome::failed;
  }
  file = _fdopen(fd, update || create ? "r+b" : "rb");
  if (file == nullptr) {
    _close(fd);  // closes the handle too
    return open_outcome::failed;
  }
  return open_outcome::opened;
}

}  // namespace platform
