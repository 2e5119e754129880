// The wake registered by SetInterruptWake, kept and called the same way on both systems;
// only where the call comes from differs (a thread reading a pipe the signal handler
// writes to, or the console's control-handler thread).
#pragma once
#include <functional>

namespace velmora {

void StoreInterruptWake(std::function<void()> wake);
// Calls the wake in force, if any; never from a signal handler.
void CallInterruptWake();

}  // namespace velmora
