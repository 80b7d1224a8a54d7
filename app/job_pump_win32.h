// The job runs inside the Start button's handler, on the program's one
// thread. While it copies, waits for an ASPI request or for the floppy tool,
// it calls pump_messages, so the window repaints, shows progress and hears
// Exit/Cancel, and Windows never marks it "Not Responding".
#pragma once

namespace app {

// Reads and dispatches every message waiting for the program's windows, as
// the main window's own loop would (keys through IsDialogMessage, so Escape
// is Cancel). A quit message is put back for the loop that owns it.
void pump_messages();

// False when ZELVORANT_NO_PUMP is set: the benchmark's comparison run, in
// which a job reads no messages at all, as the program once did.
bool pumping_wanted();

}  // namespace app
