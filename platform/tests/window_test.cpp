#include "platform/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/sync.h"

namespace platform {
namespace {

struct Seen {
  UINT msg;
  WPARAM wParam;
  std::thread::id thread;
};

// Pumps the calling thread until `done` holds.
template <typename Done>
void PumpUntil(Done done) {
  while (!done()) PumpMessages(true, INFINITE);
}

TEST(Window, SendFromOwnThreadCallsTheProcedureDirectly) {
  std::vector<Seen> seen;
  HWND hwnd = CreateWindowObject([&](HWND, UINT msg, WPARAM wp, LPARAM) -> LRESULT {
    seen.push_back({msg, wp, std::this_thread::get_id()});
    return static_cast<LRESULT>(wp + 1);
  });
  EXPECT_EQ(SendMessage(hwnd, WM_USER, 41, 0), 42);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(PumpMessages(), 0);
  DestroyWindowObject(hwnd);
}

TEST(Window, CrossThreadSendsWaitAndArriveInOrderOnTheOwnerThread) {
  std::vector<Seen> seen;
  HWND hwnd = CreateWindowObject([&](HWND, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    seen.push_back({msg, wp, std::this_thread::get_id()});
    if (msg == WM_USER + 500) {
      // The text is only valid until the send returns: read it now.
      EXPECT_STREQ(reinterpret_cast<const char*>(lp), "status");
    }
    return static_cast<LRESULT>(wp * 2);
  });
  constexpr int kCount = 200;
  std::vector<LRESULT> results;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int i = 0; i < kCount; ++i) {
      std::string text = "status";
      results.push_back(SendMessage(hwnd, WM_USER + 500, static_cast<WPARAM>(i),
                                    reinterpret_cast<LPARAM>(text.c_str())));
      text.assign("freed!");
    }
    PostMessage(hwnd, WM_USER + 503, 0, 0);
    finished = true;
  });
  PumpUntil([&] { return !seen.empty() && seen.back().msg == WM_USER + 503; });
  worker.join();
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kCount + 1));
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(seen[i].wParam, static_cast<WPARAM>(i));
    EXPECT_EQ(seen[i].thread, std::this_thread::get_id());
    EXPECT_EQ(results[i], 2 * i);
  }
  DestroyWindowObject(hwnd);
}

TEST(Window, PostedMessagesQueueUntilPumped) {
  std::vector<UINT> seen;
  HWND hwnd = CreateWindowObject([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    seen.push_back(msg);
    return 0;
  });
  EXPECT_TRUE(PostMessage(hwnd, WM_USER + 1, 0, 0));
  EXPECT_TRUE(PostMessage(hwnd, WM_USER + 2, 0, 0));
  EXPECT_TRUE(PostMessage(hwnd, WM_USER + 3, 0, 0));
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(PumpMessages(), 3);
  EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_USER + 3}));
  EXPECT_EQ(PumpMessages(), 0);
  DestroyWindowObject(hwnd);
}

TEST(Window, ProcedureThatPostsToItselfDoesNotHoldOnePumpForever) {
  int calls = 0;
  HWND hwnd = 0;
  hwnd = CreateWindowObject([&](HWND self, UINT msg, WPARAM, LPARAM) -> LRESULT {
    ++calls;
    PostMessage(self, msg, 0, 0);
    return 0;
  });
  PostMessage(hwnd, WM_USER, 0, 0);
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(calls, 2);
  DestroyWindowObject(hwnd);
  EXPECT_EQ(PumpMessages(), 0);  // the re-posted message went with the window
}

TEST(Window, SenderServesItsOwnWindowsWhileWaiting) {
  // The owner's procedure sends back to a window of the waiting thread: without serving
  // its own windows while it waits, the sender and the owner would block each other.
  HWND workerWindow = nullptr;
  Event workerReady;
  HWND mainWindow = CreateWindowObject([&](HWND, UINT msg, WPARAM wp, LPARAM) -> LRESULT {
    return SendMessage(workerWindow, WM_USER + 7, wp + 1, 0) + 100;
  });
  LRESULT result = 0;
  std::thread::id handledOn;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    workerWindow = CreateWindowObject([&](HWND, UINT, WPARAM wp, LPARAM) -> LRESULT {
      handledOn = std::this_thread::get_id();
      return static_cast<LRESULT>(wp * 10);
    });
    workerReady.Set();
    result = SendMessage(mainWindow, WM_USER, 4, 0);
    done = true;
    DestroyWindowObject(workerWindow);
    WakeWindowThread(mainWindow);
  });
  WaitForSingleObject(workerReady.get(), INFINITE);
  PumpUntil([&] { return done.load(); });
  std::thread::id workerId = worker.get_id();
  worker.join();
  EXPECT_EQ(result, 150);
  EXPECT_EQ(handledOn, workerId);
  DestroyWindowObject(mainWindow);
}

TEST(Window, SendToADestroyedWindowReturnsZeroAndWakesWaiters) {
  std::atomic<int> calls{0};
  HWND hwnd = CreateWindowObject([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    ++calls;
    return 7;
  });
  Event sending;
  LRESULT result = -1;
  std::thread worker([&] {
    sending.Set();
    result = SendMessage(hwnd, WM_USER, 0, 0);  // nobody pumps: only destruction ends it
  });
  WaitForSingleObject(sending.get(), INFINITE);
  DestroyWindowObject(hwnd);
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(PumpMessages(), 0);
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(SendMessage(hwnd, WM_USER, 0, 0), 0);
  EXPECT_FALSE(PostMessage(hwnd, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Window, DestroyDropsQueuedPostedMessages) {
  int calls = 0;
  HWND hwnd = CreateWindowObject([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++calls; });
  HWND other = CreateWindowObject([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  PostMessage(hwnd, WM_USER, 0, 0);
  PostMessage(other, WM_USER, 0, 0);
  DestroyWindowObject(hwnd);
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(calls, 0);
  DestroyWindowObject(other);
}

TEST(Window, WindowOfAnEndedThreadNoLongerTakesMessages) {
  HWND orphan = nullptr;
  std::thread([&] {
    orphan = CreateWindowObject([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 1; });
  }).join();
  EXPECT_EQ(SendMessage(orphan, WM_USER, 0, 0), 0);
  EXPECT_FALSE(PostMessage(orphan, WM_USER, 0, 0));
  DestroyWindowObject(orphan);
}

TEST(Window, WakeEndsAWaitingPumpWithoutMessages) {
  HWND hwnd = CreateWindowObject(nullptr);
  std::thread waker([&] { WakeWindowThread(hwnd); });
  EXPECT_EQ(PumpMessages(true, INFINITE), 0);
  waker.join();
  EXPECT_EQ(PumpMessages(true, 1), 0);  // nothing comes: the time limit ends it
  DestroyWindowObject(hwnd);
}

TEST(Window, TextIsKeptAndInvalidHandlesAreRefused) {
  HWND hwnd = CreateWindowObject(nullptr, "Velmora");
  EXPECT_EQ(GetWindowText(hwnd), "Velmora");
  EXPECT_TRUE(SetWindowText(hwnd, "Software upgrade"));
  EXPECT_EQ(GetWindowText(hwnd), "Software upgrade");
  std::string fromOther;
  std::thread([&] { fromOther = GetWindowText(hwnd); }).join();
  EXPECT_EQ(fromOther, "Software upgrade");
  EXPECT_TRUE(SetWindowText(hwnd, nullptr));
  EXPECT_EQ(GetWindowText(hwnd), "");
  DestroyWindowObject(hwnd);
  EXPECT_FALSE(SetWindowText(hwnd, "x"));
  EXPECT_EQ(GetWindowText(hwnd), "");
  EXPECT_FALSE(IsWindow(nullptr));
  EXPECT_EQ(SendMessage(nullptr, WM_USER, 0, 0), 0);
  DestroyWindowObject(nullptr);
}

}  // namespace
}  // namespace platform
