// The job runs on the program's one thread, started by the Start button's
// handler, on a fiber of its own: while it copies, waits for an ASPI request
// or for the floppy tool, it calls pump_messages, which hands over to the
// window's fiber; that one reads the window's messages (repaints, progress,
// Exit/Cancel) and hands back. So Windows never marks the window "Not
// Responding", and a handler there can let the job run on to its end before
// it returns (the session's end: roll back, then return).
#pragma once

#include <functional>

namespace app {

// On the job's fiber: lets the window's fiber read the messages waiting,
// then goes on. Anywhere else: reads and dispatches every message waiting
// for the program's windows, as the main window's own loop would (keys
// through IsDialogMessage, so Escape is Cancel). A quit message is put back
// for the loop that owns it.
void pump_messages();

// Runs `job` to its end on a fiber of its own, reading the window's
// messages whenever it pumps. Runs it directly, reading nothing meanwhile,
// when pumping is not wanted or no fiber can be had.
void run_pumped_job(const std::function<void()>& job);

// From a message handler on the window's fiber, while a job runs: lets the
// job run on until it has ended, reading no messages meanwhile. False, at
// once, when called from the job's own fiber (a box or dialog of the job
// is open), where the job cannot go on until the handler returns.
bool run_job_to_its_end();

// False when ZELVORANT_NO_PUMP is set: the benchmark's comparison run, in
// which a job reads no messages at all, as the program once did.
bool pumping_wanted();

}  // namespace app
