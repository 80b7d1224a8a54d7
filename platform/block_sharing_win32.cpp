#include <io.h>
#include <windows.h>
#include <winioctl.h>

#include <string>
#include <vector>

#include "platform/block_sharing.h"
#include "platform/kernel32_win32.h"

namespace platform {
namespace {

// The request and its record came with Windows Server 2016 (ReFS, later
// Dev Drive); MinGW's headers do not have them, and the program is built
// for Windows XP's API. Laid out as the system's own header lays them out.
struct duplicate_extents_data {
  HANDLE file_handle;
  LARGE_INTEGER source_file_offset;
  LARGE_INTEGER target_file_offset;
  LARGE_INTEGER byte_count;
};
constexpr DWORD duplicate_extents_to_file =
    CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 209, METHOD_BUFFERED, FILE_WRITE_DATA);
// GetVolumeInformation's flag for a volume that can share clusters.
constexpr DWORD supports_block_refcounting = 0x08000000;

using final_path_entry = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
using volume_information_entry = BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD,
                                               LPWSTR, DWORD);

// Whether the volume an open file lies on shares clusters. Asked through the
// handle: GetVolumeInformationW by the root's name also reads the volume's
// label, and Wine, which shares nothing, then reads the drive's device and
// prints to the program's standard error when it may not. The call came
// with Vista; no earlier Windows shares blocks.
bool volume_shares_clusters(HANDLE file) {
  static const auto by_handle =
      kernel32_entry<volume_information_entry>("GetVolumeInformationByHandleW");
  DWORD flags = 0;
  return by_handle != nullptr &&
         by_handle(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) != 0 &&
         (flags & supports_block_refcounting) != 0;
}

// The root of the volume an open file lies on ("\\?\C:\"); empty where the
// system cannot tell.
std::wstring volume_root(HANDLE file) {
  static const auto final_path = kernel32_entry<final_path_entry>("GetFinalPathNameByHandleW");
  if (final_path == nullptr) return {};
  const DWORD needed = final_path(file, nullptr, 0, 0);
  if (needed == 0) return {};
  std::vector<wchar_t> path(needed + 1);
  const DWORD got = final_path(file, path.data(), static_cast<DWORD>(path.size()), 0);
  if (got == 0 || got >= path.size()) return {};
  std::vector<wchar_t> root(path.size());
  if (GetVolumePathNameW(path.data(), root.data(), static_cast<DWORD>(root.size())) == 0) return {};
  return root.data();
}

bool file_length(HANDLE file, LARGE_INTEGER& length) { return GetFileSizeEx(file, &length) != 0; }

bool set_length(HANDLE file, LONGLONG bytes) {
  LARGE_INTEGER where;
  where.QuadPart = bytes;
  return SetFilePointerEx(file, where, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(file) != 0;
}

}  // namespace

std::uint64_t sharing_block_bytes(std::FILE* source, std::FILE* target) {
  const HANDLE source_handle = handle_of(source);
  const HANDLE target_handle = handle_of(target);
  BY_HANDLE_FILE_INFORMATION source_info{};
  BY_HANDLE_FILE_INFORMATION target_info{};
  if (GetFileInformationByHandle(source_handle, &source_info) == 0 ||
      GetFileInformationByHandle(target_handle, &target_info) == 0 ||
      source_info.dwVolumeSerialNumber != target_info.dwVolumeSerialNumber) {
    return 0;
  }
  if (!volume_shares_clusters(target_handle)) return 0;
  const std::wstring root = volume_root(target_handle);
  if (root.empty()) return 0;
  DWORD sectors_per_cluster = 0;
  DWORD bytes_per_sector = 0;
  DWORD free_clusters = 0;
  DWORD clusters = 0;
  if (GetDiskFreeSpaceW(root.c_str(), &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                        &clusters) == 0) {
    return 0;
  }
  return std::uint64_t{sectors_per_cluster} * bytes_per_sector;
}

bool share_blocks(std::FILE* source, std::uint64_t source_offset, std::FILE* target,
                  std::uint64_t target_offset, std::uint64_t length) {
  const HANDLE target_handle = handle_of(target);
  LARGE_INTEGER old_length;
  if (length == 0 || !file_length(target_handle, old_length)) return false;
  // The system shares into a range the file already covers: it is
  // extended first, and cut back when the system refuses.
  const auto end = static_cast<LONGLONG>(target_offset + length);
  const bool extended = end > old_length.QuadPart;
  if (extended && !set_length(target_handle, end)) return false;
  duplicate_extents_data request{};
  request.file_handle = handle_of(source);
  request.source_file_offset.QuadPart = static_cast<LONGLONG>(source_offset);
  request.target_file_offset.QuadPart = static_cast<LONGLONG>(target_offset);
  request.byte_count.QuadPart = static_cast<LONGLONG>(length);
  DWORD returned = 0;
  if (DeviceIoControl(target_handle, duplicate_extents_to_file, &request, sizeof request, nullptr,
                      0, &returned, nullptr) != 0) {
    return true;
  }
  if (extended) set_length(target_handle, old_length.QuadPart);
  return false;
}

}  // namespace platform
