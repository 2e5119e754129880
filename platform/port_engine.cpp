// The read and write time-out rules and the input queue shared by the port backends.
#include "platform/port_engine.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace platform {

namespace {

// Milliseconds as nanoseconds, a total beyond MAXDWORD ms held at MAXDWORD ms.
std::uint64_t TotalNs(std::uint64_t ms) {
  return std::min<std::uint64_t>(ms, MAXDWORD) * kNsPerMs;
}

bool Done(DWORD read, DWORD count, bool returnWithAny) {
  return read == count || (read > 0 && returnWithAny);
}

}  // namespace

DWORD ReadWithTimeouts(PortFeed& feed, const COMMTIMEOUTS& t, BYTE* buffer, DWORD count,
                       DWORD& read) {
  read = 0;
  if (count == 0) return ERROR_SUCCESS;
  if (!buffer) return ERROR_INVALID_PARAMETER;
  const bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                         t.ReadTotalTimeoutConstant == 0;
  const bool firstByte = t.ReadIntervalTimeout == MAXDWORD &&
                         t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                         t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD;
  const bool returnWithAny = immediate || firstByte;
  // The loaders read a byte at a time: what is already here goes without a look at the
  // clock or the system.
  read = feed.Take(buffer, count);
  if (Done(read, count, returnWithAny)) return ERROR_SUCCESS;

  const std::uint64_t start = feed.NowNs();
  std::uint64_t deadline = kNoDeadlineNs;
  std::uint64_t intervalNs = 0;
  if (firstByte) {
    deadline = start + TotalNs(t.ReadTotalTimeoutConstant);
  } else if (!immediate) {
    const std::uint64_t total = static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * count +
                                t.ReadTotalTimeoutConstant;
    if (total != 0) deadline = start + TotalNs(total);
    if (t.ReadIntervalTimeout != MAXDWORD) intervalNs = TotalNs(t.ReadIntervalTimeout);
  }
  // Bytes taken above count as just arrived: the interval runs from here for them.
  std::uint64_t lastArrival = start;
  for (;;) {
    std::size_t arrived = 0;
    DWORD error = feed.Collect(!immediate, arrived);
    if (error != ERROR_SUCCESS) return error;
    if (arrived > 0) {
      // Data, or only line events: either way the line is alive.
      if (intervalNs != 0) lastArrival = feed.NowNs();
      read += feed.Take(buffer + read, count - read);
      if (Done(read, count, returnWithAny)) return ERROR_SUCCESS;
      continue;
    }
    if (immediate) return ERROR_SUCCESS;
    std::uint64_t until = deadline;
    if (intervalNs != 0 && read > 0) until = std::min(until, lastArrival + intervalNs);
    bool ready = false;
    error = feed.WaitForInput(until, ready);
    if (error != ERROR_SUCCESS) return error;
    if (!ready) {
      // Time-out: a short count is not a failure. What a feed brought in as the time ran
      // out still goes with it.
      read += feed.Take(buffer + read, count - read);
      return ERROR_SUCCESS;
    }
  }
}

std::uint64_t WriteDeadlineNs(const COMMTIMEOUTS& t, DWORD count, std::uint64_t nowNs) {
  const std::uint64_t total = static_cast<std::uint64_t>(t.WriteTotalTimeoutMultiplier) * count +
                              t.WriteTotalTimeoutConstant;
  return total == 0 ? kNoDeadlineNs : nowNs + TotalNs(total);
}

int WaitTimeoutMs(std::uint64_t deadlineNs, std::uint64_t nowNs) {
  if (deadlineNs == kNoDeadlineNs) return -1;
  if (nowNs >= deadlineNs) return 0;
  const std::uint64_t ms = (deadlineNs - nowNs + kNsPerMs - 1) / kNsPerMs;
  return static_cast<int>(std::min<std::uint64_t>(ms, INT_MAX));
}

DWORD InputQueue::Take(BYTE* buffer, DWORD count) {
  const std::size_t n = std::min<std::size_t>(count, Held());
  if (n == 0) return 0;
  if (n == 1) {
    *buffer = bytes_[head_];
  } else {
    std::memcpy(buffer, bytes_.data() + head_, n);
  }
  head_ += n;
  if (head_ == bytes_.size()) Clear();
  return static_cast<DWORD>(n);
}

std::size_t InputQueue::Append(const BYTE* data, std::size_t count) {
  const std::size_t n = std::min(Room(), count);
  if (n == 0) return 0;
  Compact();
  bytes_.insert(bytes_.end(), data, data + n);
  return n;
}

BYTE* InputQueue::Reserve(std::size_t count) {
  Compact();
  reserved_ = bytes_.size();
  bytes_.resize(reserved_ + count);
  return bytes_.data() + reserved_;
}

void InputQueue::Commit(std::size_t used) {
  bytes_.resize(reserved_ + used);
  if (head_ == bytes_.size()) Clear();
}

void InputQueue::Clear() {
  bytes_.clear();
  head_ = 0;
}

void InputQueue::Compact() {
  if (head_ == 0) return;
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
  head_ = 0;
}

}  // namespace platform
