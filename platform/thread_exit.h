// Inside the platform layer only: work to do when the calling thread ends, one backend per
// system (posix/thread_exit.cpp, win32/thread_exit.cpp). A thread_local object with a
// destructor cannot do it everywhere: under MinGW-w64's emulated thread-local storage
// the storage is freed before such destructors run.
#pragma once

namespace platform {

// Calls cleanup(data) on the calling thread as it ends, latest registration first.
void CallAtThreadExit(void (*cleanup)(void*), void* data);

}  // namespace platform
