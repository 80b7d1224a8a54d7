// Ctrl-C, Ctrl-\, a hang-up or a termination request stops a running job at
// its next chunk, so the job can put the ISO image back before the program ends,
// instead of dying with the data half appended.
#pragma once

namespace cli {

// Installs the handlers; from then on, these signals only raise the flag,
// which nothing lowers: one that comes while the job is being set up stops
// it before its first write.
void catch_interrupts();
bool interrupted();

}  // namespace cli
