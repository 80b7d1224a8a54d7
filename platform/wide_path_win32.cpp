#include "platform/wide_path_win32.h"

#include <windows.h>

namespace platform {

// CP_ACP is the code page the ANSI functions would have used, so a path
// means the same file either way.
std::wstring wide_path(const std::string& path) {
  if (path.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
  return wide;
}

}  // namespace platform
