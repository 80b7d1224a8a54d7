// Ctrl-C, Ctrl-\, a hang-up or a termination request (TERM, and USR1, USR2
// and ALRM, which end a program as TERM does) stops a running job at its
// next chunk, so the job can put the ISO image back before the program ends,
// instead of dying with the data half appended.
#pragma once

namespace cli {

// Installs the handlers; from then on, these signals only raise the flag,
// which nothing lowers: one that comes while the job is being set up stops
// it before its first write.
void catch_interrupts();
bool interrupted();
// The exit status a stopped program gives, as shells report a signal's end:
// 128 + the signal's number (SIGINT 130, SIGTERM 143, SIGHUP 129, SIGQUIT
// 131, SIGALRM 142, SIGUSR1 138 on Linux; on Windows Ctrl-C and Ctrl-Break
// 130, closing the console 129, the end of the session 143, as the SIGTERM
// a POSIX system sends then); 0 when none came.
int interrupt_exit_status();
// The job has ended (done, or rolled back). On Windows the system ends the
// program as soon as the handler of a console close, logoff or shutdown
// returns; that handler waits for this, a few seconds at most. Nothing on
// POSIX, where a signal handler's return ends nothing.
void job_settled();

}  // namespace cli
