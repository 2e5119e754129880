// The time-out rules on their own, against a scripted line in virtual time: each row
// says what waits in the queue, what arrives when, and what the read returns, when, and
// after which waits.
#include "platform/port_engine.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace platform {
namespace {

using Bytes = std::vector<BYTE>;

struct Arrival {
  std::uint64_t atMs;
  Bytes bytes;
};

// A line whose bytes arrive at set times; every wait is recorded as the milliseconds it
// was given from its start (-1: no limit).
class ScriptedFeed final : public PortFeed {
 public:
  ScriptedFeed(Bytes held, std::vector<Arrival> arrivals) : arrivals_(std::move(arrivals)) {
    queue_.Append(held.data(), held.size());
  }

  std::uint64_t NowNs() override { return nowMs_ * kNsPerMs; }
  DWORD Take(BYTE* buffer, DWORD count) override { return queue_.Take(buffer, count); }
  DWORD Collect(bool, std::size_t& arrived) override {
    ++collects_;
    arrived = 0;
    while (next_ < arrivals_.size() && arrivals_[next_].atMs <= nowMs_) {
      const Bytes& b = arrivals_[next_++].bytes;
      arrived += b.size() + 1;  // an empty arrival stands for a line event
      queue_.Append(b.data(), b.size());
    }
    return ERROR_SUCCESS;
  }
  DWORD WaitForInput(std::uint64_t deadlineNs, bool& ready) override {
    waits_.push_back(WaitTimeoutMs(deadlineNs, NowNs()));
    ready = next_ < arrivals_.size() &&
            (deadlineNs == kNoDeadlineNs || arrivals_[next_].atMs * kNsPerMs <= deadlineNs);
    if (ready) {
      nowMs_ = std::max(nowMs_, arrivals_[next_].atMs);
    } else if (deadlineNs != kNoDeadlineNs) {
      nowMs_ = std::max(nowMs_, deadlineNs / kNsPerMs);
    }
    return ERROR_SUCCESS;
  }

  std::uint64_t nowMs_ = 0;
  std::vector<int> waits_;
  int collects_ = 0;

 private:
  InputQueue queue_{1 << 16};
  std::vector<Arrival> arrivals_;
  std::size_t next_ = 0;
};

COMMTIMEOUTS Timeouts(DWORD interval, DWORD multiplier, DWORD constant) {
  COMMTIMEOUTS t;
  t.ReadIntervalTimeout = interval;
  t.ReadTotalTimeoutMultiplier = multiplier;
  t.ReadTotalTimeoutConstant = constant;
  return t;
}

TEST(PortEngineTest, ReadsFollowTheTimeoutRules) {
  struct Row {
    const char* what;
    COMMTIMEOUTS timeouts;
    DWORD count;
    Bytes held;
    std::vector<Arrival> arrivals;
    Bytes got;
    std::uint64_t endMs;
    std::vector<int> waits;
  };
  const Row rows[] = {
      {"immediate: what is held, no wait",
       Timeouts(MAXDWORD, 0, 0),
       4,
       {1, 2},
       {{5, {3}}},
       {1, 2},
       0,
       {}},
      {"immediate: what the system holds too",
       Timeouts(MAXDWORD, 0, 0),
       4,
       {},
       {{0, {7, 8}}},
       {7, 8},
       0,
       {}},
      {"immediate on a silent line", Timeouts(MAXDWORD, 0, 0), 4, {}, {}, {}, 0, {}},
      {"first byte: held bytes go at once",
       Timeouts(MAXDWORD, MAXDWORD, 1000),
       4,
       {9},
       {},
       {9},
       0,
       {}},
      {"first byte: the wait ends at the first arrival",
       Timeouts(MAXDWORD, MAXDWORD, 1000),
       4,
       {},
       {{300, {1, 2}}, {310, {3}}},
       {1, 2},
       300,
       {1000}},
      {"first byte: silence for the whole constant",
       Timeouts(MAXDWORD, MAXDWORD, 1000),
       4,
       {},
       {{1001, {1}}},
       {},
       1000,
       {1000}},
      {"MAXDWORD constant is no first-byte rule",
       Timeouts(MAXDWORD, MAXDWORD, MAXDWORD),
       1,
       {},
       {{50, {4}}},
       {4},
       50,
       {INT_MAX}},
      {"total: multiplier x count + constant",
       Timeouts(0, 10, 100),
       4,
       {},
       {{20, {1}}},
       {1},
       140,
       {140, 120}},
      {"total: the whole count ends it early",
       Timeouts(0, 10, 100),
       2,
       {},
       {{20, {1}}, {30, {2}}},
       {1, 2},
       30,
       {120, 100}},
      {"no time-outs: wait until the count is full",
       Timeouts(0, 0, 0),
       3,
       {1},
       {{5000, {2, 3}}},
       {1, 2, 3},
       5000,
       {-1}},
      {"interval: a gap after a byte ends the read",
       Timeouts(20, 0, 3000),
       4,
       {},
       {{100, {1}}, {115, {2}}, {200, {3}}},
       {1, 2},
       135,
       {3000, 20, 20}},
      {"interval: held bytes start it at the call",
       Timeouts(20, 0, 3000),
       4,
       {0x41},
       {},
       {0x41},
       20,
       {20}},
      {"interval: never before the first byte", Timeouts(20, 0, 50), 4, {}, {}, {}, 50, {50}},
      {"interval: a line event keeps the line alive",
       Timeouts(20, 0, 3000),
       4,
       {1},
       {{15, {}}, {30, {2}}},
       {1, 2},
       50,
       {20, 20, 20}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScriptedFeed feed(row.held, row.arrivals);
    Bytes buffer(row.count, 0xEE);
    DWORD read = 99;
    EXPECT_EQ(ReadWithTimeouts(feed, row.timeouts, buffer.data(), row.count, read), ERROR_SUCCESS);
    buffer.resize(read);
    EXPECT_EQ(buffer, row.got);
    EXPECT_EQ(feed.nowMs_, row.endMs);
    EXPECT_EQ(feed.waits_, row.waits);
  }
}

TEST(PortEngineTest, AReadOfNothingTouchesNothing) {
  ScriptedFeed feed({1}, {});
  DWORD read = 5;
  EXPECT_EQ(ReadWithTimeouts(feed, Timeouts(0, 0, 10), nullptr, 0, read), ERROR_SUCCESS);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(ReadWithTimeouts(feed, Timeouts(0, 0, 10), nullptr, 1, read), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(feed.collects_, 0);
}

TEST(PortEngineTest, WriteDeadlinesAndWaitTimeouts) {
  COMMTIMEOUTS t;
  EXPECT_EQ(WriteDeadlineNs(t, 100, 7), kNoDeadlineNs);
  t.WriteTotalTimeoutMultiplier = 2;
  t.WriteTotalTimeoutConstant = 500;
  EXPECT_EQ(WriteDeadlineNs(t, 100, 7 * kNsPerMs), 707 * kNsPerMs);
  // A total beyond MAXDWORD ms is held there rather than wrapped.
  t.WriteTotalTimeoutMultiplier = MAXDWORD;
  EXPECT_EQ(WriteDeadlineNs(t, 4, 0), static_cast<std::uint64_t>(MAXDWORD) * kNsPerMs);

  EXPECT_EQ(WaitTimeoutMs(kNoDeadlineNs, 0), -1);
  EXPECT_EQ(WaitTimeoutMs(5, 5), 0);
  EXPECT_EQ(WaitTimeoutMs(5, 9), 0);
  EXPECT_EQ(WaitTimeoutMs(kNsPerMs + 1, 0), 2);  // rounded up: never wakes before it
  EXPECT_EQ(WaitTimeoutMs(static_cast<std::uint64_t>(MAXDWORD) * kNsPerMs, 0), INT_MAX);
}

TEST(PortEngineTest, TheQueueKeepsWhatFitsAndHandsItOutInOrder) {
  InputQueue queue(4);
  const Bytes six = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(queue.Append(six.data(), 6), 4u);  // the rest is dropped
  EXPECT_TRUE(queue.Full());
  BYTE out[8] = {};
  EXPECT_EQ(queue.Take(out, 1), 1u);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(queue.Room(), 1u);
  EXPECT_EQ(queue.Append(six.data() + 4, 2), 1u);
  EXPECT_EQ(queue.Take(out, 8), 4u);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{2, 3, 4, 5}));
  EXPECT_EQ(queue.Held(), 0u);
  // A decoder may write past the limit: the queue then holds more than its limit.
  BYTE* space = queue.Reserve(6);
  for (int i = 0; i < 6; ++i) space[i] = static_cast<BYTE>(10 + i);
  queue.Commit(5);
  EXPECT_EQ(queue.Held(), 5u);
  EXPECT_EQ(queue.Room(), 0u);
  queue.Clear();
  EXPECT_EQ(queue.Held(), 0u);
  EXPECT_EQ(queue.Take(out, 8), 0u);
}

}  // namespace
}  // namespace platform
