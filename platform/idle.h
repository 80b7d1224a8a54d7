// What a long wait does while it waits. The Windows program installs a hook
// that keeps its window's messages flowing; the waits below the jobs (an
// ASPI request polled, the floppy tool run) call it without knowing what it
// does. With no hook installed they wait as they always did. The hook's
// answer is false once the user asked to stop: a wait that can give up
// (an ASPI request, which is then aborted) does so at once.
#pragma once

namespace platform {

using idle_hook = bool (*)();

// One hook for the process; null removes it.
void set_idle_hook(idle_hook hook);
bool idle_hook_installed();
// Calls the hook, if any, and returns its answer (true without one): false
// when the wait should end. Callers in a tight loop call it every few
// milliseconds, not at every pass.
bool run_idle_hook();

}  // namespace platform
