#include "platform/sync.h"

#include <gtest/gtest.h>

#include <thread>

namespace platform {
namespace {

TEST(Event, ManualResetStaysSignalledUntilReset) {
  Event event(true, false);
  EXPECT_FALSE(event.IsSet());
  event.Set();
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.get(), INFINITE), WAIT_OBJECT_0);
  event.Reset();
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
}

TEST(Event, AutoResetReleasesOneWait) {
  Event event(false, true);
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
}

TEST(Event, InfiniteWaitEndsWhenAnotherThreadSets) {
  Event event;
  std::thread setter([&] { event.Set(); });
  EXPECT_EQ(WaitForSingleObject(event.get(), INFINITE), WAIT_OBJECT_0);
  setter.join();
}

TEST(Event, ShortTimeoutOnUnsignalledEventTimesOut) {
  Event event;
  EXPECT_EQ(WaitForSingleObject(event.get(), 1), WAIT_TIMEOUT);
}

TEST(Event, InvalidHandlesFail) {
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE handle = CreateEvent(true, true);
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(CloseHandle(handle));
  // A closed handle is refused, not dereferenced, and is never handed out again.
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(handle));
  EXPECT_FALSE(ResetEvent(handle));
  EXPECT_FALSE(CloseHandle(handle));
  HANDLE next = CreateEvent(true, true);
  EXPECT_NE(next, handle);
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
  CloseHandle(next);
  int local = 0;
  EXPECT_EQ(WaitForSingleObject(&local, 0), WAIT_FAILED);
}

// Set and Reset keep the last event a thread looked up: a close, on any thread, ends
// that at once, and the next event of that thread is found, not the kept one.
TEST(Event, AHandleClosedElsewhereIsRefusedRightAfterUse) {
  HANDLE handle = CreateEvent(true, false);
  HANDLE other = CreateEvent(true, false);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(ResetEvent(handle));
    EXPECT_TRUE(SetEvent(handle));
  }
  std::thread closer([handle] { EXPECT_TRUE(CloseHandle(handle)); });
  closer.join();
  EXPECT_FALSE(SetEvent(handle));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ResetEvent(handle));
  EXPECT_TRUE(SetEvent(other));
  EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(other));
  EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_TIMEOUT);
  CloseHandle(other);
}

}  // namespace
}  // namespace platform
