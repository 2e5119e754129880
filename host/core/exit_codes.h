// What velmora's exit status means, for scripts that call it.
#pragma once

namespace velmora {

constexpr int kExitSucceeded = 0;
constexpr int kExitFailed = 1;
constexpr int kExitCancelled = 2;
constexpr int kExitUsage = 64;  // as sysexits' EX_USAGE

// A run's result as the plug-in reports it (0 failed, 1 succeeded, 2 cancelled) turned
// into the exit status; anything else counts as a failure.
int ExitStatusForResult(int result);

}  // namespace velmora
