#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_sync.h"
#include "platform/wide_path_win32.h"

namespace platform {

bool sync_file(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) == 0) {
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

// A new file takes the folder's access rights, as the old one did.
void copy_permissions(std::FILE*, std::FILE*) {}

}  // namespace platform
