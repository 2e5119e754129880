#include "protocol/testing/test_run.h"

#include "platform/window.h"

namespace kv70test {

TestRun::TestRun(int comPort) : cancel_(true, false) {
  record.comPort = comPort;
  record.operationIndex = 0;
  record.cancelEvent = cancel_.get();
  record.hostWindow =
      platform::CreateWindowObject([this](HWND, UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
        if (msg == WM_OPERATION_STATUS) {
          statuses.emplace_back(reinterpret_cast<const char*>(lParam));
        } else if (msg == WM_OPERATION_PROGRESS) {
          progress.push_back(static_cast<int>(lParam));
        } else {
          return 0;
        }
        if (onReport) onReport(*this);
        return 0;
      });
  platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest& box) {
    boxes.push_back(box);
    return answerBox ? answerBox(box) : IDOK;
  });
}

TestRun::~TestRun() {
  platform::SetMessageBoxHandler(nullptr);
  platform::DestroyWindowObject(record.hostWindow);
}

}  // namespace kv70test
