// What a long wait does while it waits. The Windows program installs a hook
// that keeps its window's messages flowing; the waits below the jobs (an
// ASPI request polled, the floppy tool run) call it without knowing what it
// does. With no hook installed they wait as they always did.
#pragma once

namespace platform {

using idle_hook = void (*)();

// One hook for the process; null removes it.
void set_idle_hook(idle_hook hook);
bool idle_hook_installed();
// Calls the hook, if any. Callers in a tight loop call it every few
// milliseconds, not at every pass.
void run_idle_hook();

}  // namespace platform
