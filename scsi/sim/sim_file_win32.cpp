#include <windows.h>

#include <algorithm>

#include "platform/win32_errors.h"
#include "scsi/sim/sim_file.h"

namespace scsi::sim {
namespace {

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// ReadFile and WriteFile take 32-bit counts; larger transfers go in pieces.
constexpr std::size_t largest_piece = 1u << 30;

OVERLAPPED at_offset(std::uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

}  // namespace

sim_file::~sim_file() {
  if (as_handle(handle_) != INVALID_HANDLE_VALUE) CloseHandle(as_handle(handle_));
}

bool sim_file::open(const std::string& path, bool try_write, std::string& error) {
  // Other programs may go on reading and writing the image, as they may on
  // other systems.
  constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (try_write) {
    file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  writable_ = file != INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) {
    file = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) {
    error = platform::last_win32_error_text();
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool sim_file::size(std::uint64_t& bytes, std::string& error) const {
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(as_handle(handle_), &length) || length.QuadPart < 0) {
    error = platform::last_win32_error_text();
    return false;
  }
  bytes = static_cast<std::uint64_t>(length.QuadPart);
  return true;
}

// Each call names its own offset, so the file pointer that the bus thread and
// anyone else share does not matter.
bool sim_file::read_at(std::uint8_t* buffer, std::size_t bytes, std::uint64_t offset,
                       std::size_t& got) const {
  got = 0;
  while (got < bytes) {
    OVERLAPPED where = at_offset(offset + got);
    const auto piece = static_cast<DWORD>(std::min(bytes - got, largest_piece));
    DWORD n = 0;
    if (!ReadFile(as_handle(handle_), buffer + got, piece, &n, &where)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return false;
    }
    if (n == 0) break;
    got += n;
  }
  return true;
}

bool sim_file::write_at(const std::uint8_t* buffer, std::size_t bytes, std::uint64_t offset) const {
  std::size_t done = 0;
  while (done < bytes) {
    OVERLAPPED where = at_offset(offset + done);
    const auto piece = static_cast<DWORD>(std::min(bytes - done, largest_piece));
    DWORD n = 0;
    if (!WriteFile(as_handle(handle_), buffer + done, piece, &n, &where) || n == 0) return false;
    done += n;
  }
  return true;
}

}  // namespace scsi::sim
