#include <windows.h>

#include <atomic>

#include "cli/interrupt.h"

namespace cli {
namespace {

// The console runs the handler on a thread of its own.
// The exit status the event gives, 0 until one came; the first one stays.
std::atomic<int> interrupt_flag{0};
constexpr int status_hang_up = 128 + 1;     // as SIGHUP
constexpr int status_interrupt = 128 + 2;   // as SIGINT
constexpr int status_terminate = 128 + 15;  // as SIGTERM

// Set once the job has ended; the program's end may come then.
HANDLE settled = nullptr;
// Windows ends a program whose handler has not returned 5 s after a close,
// logoff or shutdown event; the job gets nearly all of that to roll back.
constexpr DWORD settle_wait_ms = 4000;

int status_of(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return status_interrupt;
    case CTRL_CLOSE_EVENT:
      return status_hang_up;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      return status_terminate;
    default:
      return 0;
  }
}

// Ctrl-C, Ctrl-Break, closing the console window, logoff and shutdown:
// raise the flag and say the event is handled, so the job can put the ISO
// image back. After the last three Windows ends the program as soon as this
// returns, so it waits until the job has rolled back (or a little less than
// the time Windows allows).
BOOL WINAPI raise_interrupt_flag(DWORD event) {
  const int status = status_of(event);
  if (status == 0) return FALSE;
  int none = 0;
  interrupt_flag.compare_exchange_strong(none, status);
  if (status != status_interrupt && settled != nullptr) {
    WaitForSingleObject(settled, settle_wait_ms);
  }
  return TRUE;
}

}  // namespace

void catch_interrupts() {
  settled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(raise_interrupt_flag, TRUE);
}

bool interrupted() { return interrupt_flag.load() != 0; }

int interrupt_exit_status() { return interrupt_flag.load(); }

void job_settled() {
  if (settled != nullptr) SetEvent(settled);
}

}  // namespace cli
