#include <windows.h>

#include <atomic>

#include "cli/interrupt.h"

namespace cli {
namespace {

// The console runs the handler on a thread of its own.
// The exit status the event gives, 0 until one came; the first one stays.
std::atomic<int> interrupt_flag{0};
constexpr int status_hang_up = 128 + 1;    // as SIGHUP
constexpr int status_interrupt = 128 + 2;  // as SIGINT

// Ctrl-C, Ctrl-Break and closing the console window: raise the flag and say
// the event is handled, so the job can put the ISO image back. (On closing,
// Windows ends the process a few seconds later regardless.)
BOOL WINAPI raise_interrupt_flag(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
      int none = 0;
      interrupt_flag.compare_exchange_strong(
          none, event == CTRL_CLOSE_EVENT ? status_hang_up : status_interrupt);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

void catch_interrupts() { SetConsoleCtrlHandler(raise_interrupt_flag, TRUE); }

bool interrupted() { return interrupt_flag.load() != 0; }

int interrupt_exit_status() { return interrupt_flag.load(); }

}  // namespace cli
