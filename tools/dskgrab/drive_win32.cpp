#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/win32_errors.h"
#include "tools/dskgrab/drive.h"

namespace dskgrab {
namespace {

// A volume opened as \\.\A: reads only whole sectors, so every read asks for
// a multiple of the sector size and the tail of the last one is kept back.
class raw_drive final : public disk_source {
 public:
  raw_drive(HANDLE drive, std::uint64_t sector_bytes)
      : drive_(drive), sector_bytes_(static_cast<std::size_t>(sector_bytes)) {}
  ~raw_drive() override { CloseHandle(drive_); }
  raw_drive(const raw_drive&) = delete;
  raw_drive& operator=(const raw_drive&) = delete;

  bool read(char* buffer, std::size_t want, std::size_t& got, std::string& error) override {
    got = 0;
    const std::size_t whole = (want + sector_bytes_ - 1) / sector_bytes_ * sector_bytes_;
    char* into = buffer;
    if (whole != want) {
      spare_.resize(whole);
      into = spare_.data();
    }
    while (got < whole) {
      DWORD n = 0;
      const auto ask = static_cast<DWORD>(std::min<std::size_t>(whole - got, 1u << 20));
      if (!ReadFile(drive_, into + got, ask, &n, nullptr)) {
        error = platform::last_win32_error_text();
        return false;
      }
      if (n == 0) break;
      got += n;
    }
    got = std::min(got, want);
    if (into != buffer) std::copy(into, into + got, buffer);
    return true;
  }

 private:
  HANDLE drive_;
  std::size_t sector_bytes_;
  std::vector<char> spare_;
};

}  // namespace

std::unique_ptr<disk_source> open_drive(char drive, std::uint64_t sector_bytes, std::string& name,
                                        std::string& error) {
  name = std::string("\\\\.\\") + drive + ":";
  // No message box asking for a disk: a missing disk is an error line.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  SetErrorMode(old_mode);
  if (handle == INVALID_HANDLE_VALUE) {
    error = platform::last_win32_error_text();
    return nullptr;
  }
  if (sector_bytes == 0 || sector_bytes > (1u << 16)) sector_bytes = 512;
  return std::make_unique<raw_drive>(handle, sector_bytes);
}

}  // namespace dskgrab
