// Reports to the host window and the cancellation point.
#include "reporting/reporting.h"

#include <gtest/gtest.h>

#include "framework/afx.h"
#include "platform/sync.h"
#include "reporting/testing/recording_host.h"
#include "resources/resource.h"
#include "resources/testing/kv70_test_module.h"

namespace {

using kv70::testing::ProgressEvent;
using kv70::testing::RecordingHost;
using kv70::testing::StatusEvent;

class Reporting : public ::testing::Test {
 protected:
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    record_ = {1, 0, host_.hwnd(), cancel_.get()};
  }
  RecordingHost host_;
  platform::Event cancel_;
  RunRecord record_{};
};

TEST_F(Reporting, SendStatusSendsTheStringOfTheId) {
  SendStatus(&record_, IDS_ESTABLISHING);
  SendStatus(&record_, IDS_WAITING_FOR_RECONNECT);
  EXPECT_EQ(host_.events(),
            (std::vector{StatusEvent("Establishing communication with the KV70. Please wait..."),
                         StatusEvent("Timeout getting response from KV!  Check the cables!  "
                                     "Waiting for reconnect...")}));
}

TEST_F(Reporting, SendStatusOfAnIdWithoutStringSendsAnEmptyText) {
  SendStatus(&record_, 2);
  SendStatus(&record_, 65000);
  EXPECT_EQ(host_.events(), (std::vector{StatusEvent(""), StatusEvent("")}));
}

TEST_F(Reporting, SendStatusTextSendsACopyNotTheCallersBuffer) {
  const char* seen = nullptr;
  HWND window = platform::CreateWindowObject([&](HWND, UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
    if (msg == WM_OPERATION_STATUS) seen = reinterpret_cast<const char*>(lParam);
    return 0;
  });
  RunRecord record{1, 0, window, nullptr};
  char text[] = "Reading file system...";
  SendStatusText(&record, text);
  EXPECT_NE(seen, nullptr);
  EXPECT_NE(seen, text);
  platform::DestroyWindowObject(window);
}

TEST_F(Reporting, SendStatusTextOfNullSendsAnEmptyText) {
  SendStatusText(&record_, nullptr);
  EXPECT_EQ(host_.events(), std::vector{StatusEvent("")});
}

TEST_F(Reporting, ProgressIsSentAsGivenWithoutClamping) {
  for (int position : {0, 37, 100, 101, 250, -1}) SendProgress(&record_, position);
  EXPECT_EQ(host_.events(),
            (std::vector{ProgressEvent(0), ProgressEvent(37), ProgressEvent(100),
                         ProgressEvent(101), ProgressEvent(250), ProgressEvent(-1)}));
}

TEST_F(Reporting, CheckCancelReturnsWhileTheEventIsClear) {
  EXPECT_NO_THROW(CheckCancel(&record_));
}

TEST_F(Reporting, CheckCancelThrowsTheUserCancelFailureOnceSignalled) {
  cancel_.Set();
  bool cancelled = false;
  try {
    CheckCancel(&record_);
  } catch (CUserException* failure) {
    cancelled = true;
    failure->Delete();
  }
  EXPECT_TRUE(cancelled);
  // Testing does not consume the signal.
  EXPECT_TRUE(cancel_.IsSet());
}

TEST_F(Reporting, CheckCancelTreatsAFailedWaitAsNotCancelled) {
  RunRecord noEvent{1, 0, host_.hwnd(), nullptr};
  EXPECT_NO_THROW(CheckCancel(&noEvent));
  int bogus = 0;
  RunRecord badEvent{1, 0, host_.hwnd(), &bogus};
  EXPECT_NO_THROW(CheckCancel(&badEvent));
}

TEST(ComPorts, OnlyCom1ToCom6AreValid) {
  struct Row {
    int port;
    bool valid;
  } rows[] = {{-1, false}, {0, false}, {1, true}, {2, true},  {3, true},
              {4, true},   {5, true},  {6, true}, {7, false}, {256, false}};
  for (const auto& row : rows) EXPECT_EQ(IsValidComPort(row.port), row.valid) << row.port;
}

}  // namespace
