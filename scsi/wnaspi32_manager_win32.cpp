#include <windows.h>

#include "scsi/library_aspi.h"
#include "scsi/wnaspi32_manager.h"

namespace scsi {
namespace {

// GetProcAddress hands out one generic function type; going through
// void (*)() tells the compiler the conversion is meant.
template <typename Entry>
Entry entry_point(HMODULE library, const char* name) {
  const FARPROC found = GetProcAddress(library, name);
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(found));
}

}  // namespace

aspi_manager& install_platform_aspi_manager() {
  static no_adapters_manager no_adapters;
  // The library stays loaded for the rest of the program's life.
  static library_aspi_manager* from_library = nullptr;
  if (from_library == nullptr) {
    // No "cannot find the DLL" box on the way: a missing library is normal.
    const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HMODULE library = LoadLibraryA("WNASPI32.DLL");
    SetErrorMode(old_mode);
    if (library != nullptr) {
      const auto send = entry_point<send_command_entry>(library, "SendASPI32Command");
      const auto support = entry_point<support_info_entry>(library, "GetASPI32SupportInfo");
      if (library_serves_adapters(send, support)) {
        static library_aspi_manager loaded(send, support);
        from_library = &loaded;
      } else {
        FreeLibrary(library);
      }
    }
  }
  aspi_manager& chosen =
      from_library != nullptr ? static_cast<aspi_manager&>(*from_library) : no_adapters;
  install_aspi_manager(&chosen);
  return chosen;
}

}  // namespace scsi
