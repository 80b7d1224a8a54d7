#include <windows.h>

#include "platform/win32_errors.h"

namespace platform {

std::string win32_error_text(std::uint32_t error_code) {
  char buffer[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error_code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "system error " + std::to_string(error_code);
  return text;
}

std::string last_win32_error_text() { return win32_error_text(GetLastError()); }

}  // namespace platform
