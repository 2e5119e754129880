#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(VirtualClock, StartsAtZeroAndMovesOnlyBySleeps) {
  VirtualClock clock;
  EXPECT_EQ(clock.NowUs(), 0u);
  clock.SleepMs(1500);
  EXPECT_EQ(clock.NowMs(), 1500u);
  clock.SleepUs(260);
  EXPECT_EQ(clock.NowUs(), 1500260u);
  EXPECT_EQ(clock.NowMs(), 1500u);
  EXPECT_TRUE(clock.IsVirtual());
}

TEST(VirtualClock, AdvanceToNeverGoesBack) {
  VirtualClock clock;
  clock.AdvanceToUs(5000);
  EXPECT_EQ(clock.NowUs(), 5000u);
  clock.AdvanceToUs(1000);
  EXPECT_EQ(clock.NowUs(), 5000u);
}

TEST(VirtualClock, SleepsFromManyThreadsAllCount) {
  VirtualClock clock;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) clock.SleepUs(1);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(clock.NowUs(), 4000u);
}

TEST(GetClock, ScopedClockInstallsAndRestores) {
  Clock* before = &GetClock();
  EXPECT_FALSE(before->IsVirtual());
  {
    VirtualClock clock;
    ScopedClock scope(clock);
    EXPECT_EQ(&GetClock(), &clock);
    Sleep(10000);  // passes at once: virtual time
    EXPECT_EQ(GetTickCount64(), 10000u);
    {
      VirtualClock inner;
      ScopedClock innerScope(inner);
      EXPECT_EQ(GetTickCount64(), 0u);
    }
    EXPECT_EQ(&GetClock(), &clock);
  }
  EXPECT_EQ(&GetClock(), before);
}

TEST(SystemClock, IsMonotonic) {
  SystemClock clock;
  std::uint64_t first = clock.NowUs();
  clock.SleepUs(0);
  std::uint64_t second = clock.NowUs();
  EXPECT_GE(second, first);
  EXPECT_EQ(clock.NowMs(), clock.NowUs() / 1000);
}

}  // namespace
}  // namespace platform
