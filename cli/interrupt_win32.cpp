#include <windows.h>

#include <atomic>

#include "cli/interrupt.h"

namespace cli {
namespace {

// The console runs the handler on a thread of its own.
std::atomic<bool> interrupt_flag{false};

// Ctrl-C, Ctrl-Break and closing the console window: raise the flag and say
// the event is handled, so the job can put the ISO image back. (On closing,
// Windows ends the process a few seconds later regardless.)
BOOL WINAPI raise_interrupt_flag(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      interrupt_flag.store(true);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void catch_interrupts() { SetConsoleCtrlHandler(raise_interrupt_flag, TRUE); }

bool interrupted() { return interrupt_flag.load(); }

}  // namespace cli
