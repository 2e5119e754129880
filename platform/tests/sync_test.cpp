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

}  // namespace
}  // namespace platform
