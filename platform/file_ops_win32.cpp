#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "platform/file_ops.h"
#include "platform/kernel32_win32.h"
#include "platform/wide_path_win32.h"

namespace platform {
namespace {

constexpr auto largest_offset = static_cast<std::uint64_t>(std::numeric_limits<__int64>::max());

// FILE_BASIC_INFO and its class number, which the headers show only to
// programs that need Vista; this one also runs where the call is missing.
struct basic_info {
  LARGE_INTEGER creation;
  LARGE_INTEGER last_access;
  LARGE_INTEGER last_write;
  LARGE_INTEGER change;
  DWORD attributes;
};
constexpr int file_basic_info_class = 0;
using get_information_ex_entry = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

get_information_ex_entry get_information_ex() {
  static const auto entry =
      kernel32_entry<get_information_ex_entry>("GetFileInformationByHandleEx");
  return entry;
}

// The time of the last change to the file or its attributes, times
// included: no program can set it. 0 where the system does not tell.
std::int64_t change_time_ns(HANDLE handle) {
  const get_information_ex_entry get = get_information_ex();
  basic_info info{};
  if (get == nullptr || !get(handle, file_basic_info_class, &info, sizeof info)) return 0;
  return info.change.QuadPart * 100;  // 100 ns steps
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

// Sparse files are rare on Windows and their ranges cost a device control
// call to find: every byte counts as data.
std::uint64_t file_hole_bytes(std::FILE*, std::uint64_t) { return 0; }

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

// A disk file answers GetFileInformationByHandle; a raw disk or volume
// (\\.\PhysicalDrive0, \\.\C:) is of the disk type too, but has no file
// record, or carries the device attribute.
void hold_standard_descriptors() {}

bool file_status_of(std::FILE* file, file_status& status) {
  if (std::fflush(file) != 0) return false;
  const HANDLE handle = handle_of(file);
  status = file_status{};
  switch (GetFileType(handle)) {
    case FILE_TYPE_CHAR:
      status.kind = file_kind::character_device;
      return true;
    case FILE_TYPE_PIPE:
      status.kind = file_kind::pipe;
      return true;
    case FILE_TYPE_DISK:
      break;
    default:
      return true;  // other
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) {
    status.kind = file_kind::block_device;
    return file_length(file, status.length);
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    status.kind = file_kind::directory;
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    status.kind = file_kind::block_device;
  } else {
    status.kind = file_kind::regular;
  }
  status.length = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  // FILETIME counts 100 ns steps.
  const std::uint64_t ticks =
      std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 | info.ftLastWriteTime.dwLowDateTime;
  status.modified_ns = static_cast<std::int64_t>(ticks) * 100;
  status.changed_ns = change_time_ns(handle);
  return true;
}

// Windows cannot unlink an open file; the system deletes this one when its
// last handle closes, which also happens when the process is killed. While
// the job runs it has a name: hidden, and unique to this process.
std::FILE* open_unnamed_file_beside(const std::string& beside) {
  const std::string::size_type slash = beside.find_last_of("\\/:");
  std::string folder = slash == std::string::npos ? std::string() : beside.substr(0, slash + 1);
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = folder + "zelvorant-scratch-" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(counter++) + ".tmp";
    const HANDLE handle = CreateFileW(
        wide_path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD failure = GetLastError();
      if (failure == ERROR_FILE_EXISTS || failure == ERROR_ALREADY_EXISTS) continue;
      errno = failure == ERROR_ACCESS_DENIED    ? EACCES
              : failure == ERROR_DISK_FULL      ? ENOSPC
              : failure == ERROR_PATH_NOT_FOUND ? ENOENT
                                                : EIO;
      return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (descriptor < 0) {
      CloseHandle(handle);
      errno = EIO;
      return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "w+b");
    if (file == nullptr) _close(descriptor);
    return file;
  }
  errno = EEXIST;
  return nullptr;
}

// Opened for its attributes only, which no share mode of a job's open
// refuses.
bool same_file(std::FILE* a, const std::string& path) {
  const HANDLE other = CreateFileW(wide_path(path).c_str(), FILE_READ_ATTRIBUTES,
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
