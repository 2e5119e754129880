// Ctrl-C: counted by the signal handler and announced on a pipe, so that a thread
// blocked reading the terminal wakes up. Nothing else happens in the handler.
#pragma once

namespace velmora {

// Installs the SIGINT handler (once).
void InstallInterruptHandler();
// How many Ctrl-Cs arrived since the handler was installed.
int InterruptCount();
// The read end of the announcement pipe (non-blocking), or -1 before installation.
int InterruptWakeFd();
// Empties the pipe.
void DrainInterruptPipe();
// For tests: counts one as the handler would.
void RaiseInterruptForTest();

}  // namespace velmora
