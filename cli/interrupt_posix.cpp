#include <signal.h>

#include <csignal>
#include <initializer_list>

#include "cli/interrupt.h"

namespace cli {
namespace {

// The first signal's number; a second one does not change the status.
volatile std::sig_atomic_t interrupt_flag = 0;

extern "C" void raise_interrupt_flag(int signal_number) {
  if (interrupt_flag == 0) interrupt_flag = signal_number;
}

}  // namespace

void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = raise_interrupt_flag;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a prompt waiting for input ends at once, as Cancel.
  // SIGQUIT (Ctrl-\) would otherwise end the program halfway through an
  // append, leaving the data behind the ISO volume.
  action.sa_flags = 0;
  // USR1, USR2 and ALRM end a program by default just as TERM does, and
  // are sent as such: they stop the job the same way.
  for (const int signal_number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM})
    sigaction(signal_number, &action, nullptr);
}

bool interrupted() { return interrupt_flag != 0; }

int interrupt_exit_status() { return interrupt_flag != 0 ? 128 + interrupt_flag : 0; }

void job_settled() {}

}  // namespace cli
