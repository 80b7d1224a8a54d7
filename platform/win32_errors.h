// The system's words for a Windows error code, for messages that tell the
// user why something could not be done. Windows builds only.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// One sentence without the trailing line break FormatMessage adds; a code
// the system has no text for is given as a number.
std::string win32_error_text(std::uint32_t error_code);
// The text for GetLastError() of the calling thread.
std::string last_win32_error_text();

}  // namespace platform
