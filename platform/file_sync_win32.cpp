#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_sync.h"
#include "platform/kernel32_win32.h"
#include "platform/wide_path_win32.h"

namespace platform {

bool sync_file(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  if (FlushFileBuffers(handle_of(file)) == 0) {
    errno = GetLastError() == ERROR_DISK_FULL ? ENOSPC : EIO;
    return false;
  }
  return true;
}

// Write-through: MoveFileEx returns once the rename is on the disk.
bool replace_file(const std::string& from, const std::string& to) {
  if (MoveFileExW(wide_path(from).c_str(), wide_path(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  const DWORD error = GetLastError();
  errno = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES : EIO;
  return false;
}

// Without MOVEFILE_REPLACE_EXISTING MoveFileEx refuses a name that is taken.
bool rename_new_name(const std::string& from, const std::string& to) {
  if (MoveFileExW(wide_path(from).c_str(), wide_path(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  const DWORD error = GetLastError();
  errno = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS        ? EEXIST
          : error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
                                                                             : EIO;
  return false;
}

bool remove_file(const std::string& path) { return DeleteFileW(wide_path(path).c_str()) != 0; }

// MoveFileEx wrote the rename through already.
bool sync_folder(const std::string&) { return true; }

bool replace_needs_closed_files() { return true; }

// No unnamed files on Windows: the caller makes a named one.
std::FILE* open_unnamed_new_file(const std::string&) {
  errno = ENOSYS;
  return nullptr;
}

bool name_new_file(std::FILE*, const std::string&) {
  errno = ENOSYS;
  return false;
}

// Opened with no sharing at all: that is the lock. No other process can
// open it, to read it or to remove it, until the job closes it.
std::FILE* open_named_new_file(const std::string& path) {
  const HANDLE handle = CreateFileW(wide_path(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                    error == ERROR_SHARING_VIOLATION
                ? EEXIST
            : error == ERROR_ACCESS_DENIED  ? EACCES
            : error == ERROR_DISK_FULL      ? ENOSPC
            : error == ERROR_PATH_NOT_FOUND ? ENOENT
                                            : EIO;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    errno = EMFILE;
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "w+b");
  if (file == nullptr) _close(fd);  // closes the handle too
  return file;
}

// An open that shares nothing fails while any other handle is open; one
// that succeeds deletes the file as it closes. A folder or a link is no file
// of ours; a link is opened as itself, so that what it points to is never
// what goes.
bool remove_unheld_file(const std::string& path) {
  const std::wstring wide = wide_path(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  const HANDLE handle =
      CreateFileW(wide.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                  FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

// A new file takes the folder's access rights, as the old one did.
unsigned usual_new_file_mode() { return 0; }

void set_final_permissions(std::FILE*, std::FILE*, unsigned) {}

}  // namespace platform
