// Thread-end work on Windows (win32/api/system.cpp): a fiber-local slot's callback, which
// the system runs as the thread ends, before the runtime's thread-local storage goes.
#include "platform/thread_exit.h"

#include "platform/win32/neutral.h"

namespace platform {

void CallAtThreadExit(void (*cleanup)(void*), void* data) {
  win32::CallAtThreadExit(cleanup, data);
}

}  // namespace platform
