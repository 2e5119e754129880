// Thread-end work on POSIX: a thread_local list whose destructor runs it.
#include "platform/thread_exit.h"

#include <utility>
#include <vector>

namespace platform {

namespace {

struct ExitCalls {
  std::vector<std::pair<void (*)(void*), void*>> calls;
  ~ExitCalls() {
    // One at a time from the back: a cleanup may register another.
    while (!calls.empty()) {
      const auto call = calls.back();
      calls.pop_back();
      call.first(call.second);
    }
  }
};

}  // namespace

void CallAtThreadExit(void (*cleanup)(void*), void* data) {
  thread_local ExitCalls exitCalls;
  exitCalls.calls.emplace_back(cleanup, data);
}

}  // namespace platform
