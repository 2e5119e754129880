// A run as a test sees it: a run record whose host window (on the test's thread) keeps
// every status text and progress value, a cancel event the test may signal (also from a
// hook, say after the n-th status), and the message boxes shown meanwhile.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "framework/plugin_abi.h"
#include "platform/msgbox.h"
#include "platform/sync.h"

namespace kv70test {

class TestRun {
 public:
  explicit TestRun(int comPort = 1);
  ~TestRun();
  TestRun(const TestRun&) = delete;
  TestRun& operator=(const TestRun&) = delete;

  RunRecord record{};
  std::vector<std::string> statuses;
  std::vector<int> progress;
  std::vector<platform::MessageBoxRequest> boxes;

  // Called after each status or progress message was recorded.
  std::function<void(TestRun&)> onReport;
  // Answers message boxes; IDOK when unset.
  std::function<int(const platform::MessageBoxRequest&)> answerBox;

  void Cancel() { cancel_.Set(); }

 private:
  platform::Event cancel_;
};

}  // namespace kv70test
