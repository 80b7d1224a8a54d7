// What the Windows twins share of kernel32: the system's handle behind a C
// stream, and the calls newer than the Windows XP API the program is built
// for, looked up when first needed (null where the system lacks them).
#pragma once

#include <io.h>
#include <windows.h>

#include <cstdio>

namespace platform {

inline HANDLE handle_of(std::FILE* file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// GetProcAddress hands out one generic function type; going through
// void (*)() tells the compiler the conversion is meant.
template <typename Entry>
Entry kernel32_entry(const char* name) {
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const FARPROC found = kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(found));
}

}  // namespace platform
