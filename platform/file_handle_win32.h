// The system's handle behind a C stream, for the calls that take one
// (FlushFileBuffers, DeviceIoControl, GetFileInformationByHandle).
#pragma once

#include <io.h>
#include <windows.h>

#include <cstdio>

namespace platform {

inline HANDLE handle_of(std::FILE* file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

}  // namespace platform
