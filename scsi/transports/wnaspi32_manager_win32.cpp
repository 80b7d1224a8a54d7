#include <windows.h>

#include "scsi/transports/library_aspi.h"
#include "scsi/transports/spti_manager_win32.h"
#include "scsi/transports/wnaspi32_manager.h"
#include "scsi/transports/worker_manager.h"

namespace scsi {
namespace {

// GetProcAddress hands out one generic function type; going through
// void (*)() tells the compiler the conversion is meant.
template <typename Entry>
Entry entry_point(HMODULE library, const char* name) {
  const FARPROC found = GetProcAddress(library, name);
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(found));
}

// The system's SCSI pass-through, looked for on first need only: the
// program then touches no device when the library serves it.
spti_manager& pass_through() {
  static spti_manager manager;
  return manager;
}
spti_manager* pass_through_in_use = nullptr;

}  // namespace

aspi_manager* wnaspi32_library() {
  // The library stays loaded for the rest of the program's life.
  static aspi_manager* from_library = nullptr;
  static bool tried = false;
  if (tried) return from_library;
  tried = true;
  // No "cannot find the DLL" box on the way: a missing library is normal.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const HMODULE library = LoadLibraryA("WNASPI32.DLL");
  SetErrorMode(old_mode);
  if (library == nullptr) return nullptr;
  const auto send = entry_point<send_command_entry>(library, "SendASPI32Command");
  const auto support = entry_point<support_info_entry>(library, "GetASPI32SupportInfo");
  if (library_serves_adapters(send, support)) {
    static library_aspi_manager loaded(send, support);
    // A library may carry a transfer out inside SendASPI32Command: on a
    // worker, a stuck drive holds the worker, not the window.
    static worker_manager on_workers(loaded);
    from_library = &on_workers;
  } else {
    FreeLibrary(library);
  }
  return from_library;
}

aspi_manager& install_platform_aspi_manager() {
  aspi_manager* chosen = wnaspi32_library();
  if (chosen == nullptr) chosen = pass_through_in_use = &pass_through();
  install_aspi_manager(chosen);
  return *chosen;
}

std::string platform_aspi_notice() {
  return pass_through_in_use != nullptr ? pass_through_in_use->access_problem() : std::string{};
}

}  // namespace scsi
