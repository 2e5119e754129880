// Ctrl-C, and the signals that ask a program to stop (SIGTERM, SIGHUP): counted by the
// signal handler and announced on a pipe, so that a thread blocked reading the terminal
// wakes up. Nothing else happens in the handler; each counts as the user's Cancel.
#pragma once
#include <functional>

namespace velmora {

// Installs the handler for SIGINT, SIGTERM and SIGHUP (once).
void InstallInterruptHandler();
// How many Ctrl-Cs (or stop signals) arrived since the handler was installed.
int InterruptCount();
// The read end of the announcement pipe (non-blocking), or -1 before installation.
int InterruptWakeFd();
// Empties the pipe.
void DrainInterruptPipe();
// Called (on a thread of its own, never in the handler) after each of them arrives, for
// a wait that no file descriptor can end: a run's message pump. Null: nobody.
void SetInterruptWake(std::function<void()> wake);
// For tests: counts one as the handler would.
void RaiseInterruptForTest();

}  // namespace velmora
