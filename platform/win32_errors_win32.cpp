#include <windows.h>

#include "platform/win32_errors.h"

namespace platform {

std::string win32_error_text(std::uint32_t error_code) {
  // The system sizes the text: in UTF-8, the programs' code page, a message
  // in another language can be longer than any buffer picked here.
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, error_code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text(buffer != nullptr ? buffer : "", buffer != nullptr ? length : 0);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "system error " + std::to_string(error_code);
  return text;
}

std::string last_win32_error_text() { return win32_error_text(GetLastError()); }

}  // namespace platform
