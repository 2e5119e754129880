// The Windows time-out and buffering rules of a comm port, written once for every backend
// that keeps them itself (termios, RFC 2217, the in-process simulator). A backend feeds
// the engine through a few primitives: take what has arrived, bring in what the system
// holds without waiting, wait up to a deadline for more. The Windows backend leaves the
// rules to the system's driver and does not use this.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/comm_port.h"

namespace platform {

constexpr std::uint64_t kNoDeadlineNs = UINT64_MAX;
constexpr std::uint64_t kNsPerMs = 1000000;

// What a backend does for the engine, on the time line of its choice (nanoseconds).
class PortFeed {
 public:
  virtual std::uint64_t NowNs() = 0;
  // Hands out up to `count` received bytes already at hand; no I/O, no waiting.
  virtual DWORD Take(BYTE* buffer, DWORD count) = 0;
  // Brings in what the system holds, without waiting; `arrived` counts what came (line
  // events too), 0 when nothing did. `waitNext`: if nothing came the engine waits next,
  // so a feed that knows it is empty may skip the look and let the wait tell.
  virtual DWORD Collect(bool waitNext, std::size_t& arrived) = 0;
  // Waits until more may have arrived (`ready`) or the deadline passes (not ready).
  // kNoDeadlineNs: no limit.
  virtual DWORD WaitForInput(std::uint64_t deadlineNs, bool& ready) = 0;

 protected:
  ~PortFeed() = default;
};

// One Read under the time-outs in force (see CommPort in comm_port.h):
//   MAXDWORD, 0, 0             return what is waiting, never wait;
//   MAXDWORD, MAXDWORD, C      return what is waiting, else wait up to C for a byte;
//   otherwise                  fill the buffer within multiplier x count + constant (no
//                              limit when both are 0), a gap longer than the interval
//                              after a byte ending it early.
// A time-out is a short count with ERROR_SUCCESS. A total beyond MAXDWORD ms is taken as
// MAXDWORD ms (some 49 days).
DWORD ReadWithTimeouts(PortFeed& feed, const COMMTIMEOUTS& timeouts, BYTE* buffer, DWORD count,
                       DWORD& read);

// When a write of `count` bytes begun at `nowNs` must end: multiplier x count + constant,
// kNoDeadlineNs when both are 0.
std::uint64_t WriteDeadlineNs(const COMMTIMEOUTS& timeouts, DWORD count, std::uint64_t nowNs);

// A poll(2)-style time-out for a wait until `deadlineNs`: -1 for no deadline, else the
// milliseconds left rounded up and capped at INT_MAX, 0 once it has passed.
int WaitTimeoutMs(std::uint64_t deadlineNs, std::uint64_t nowNs);

// Received bytes held for the next reads, with a limit on what is kept.
class InputQueue {
 public:
  explicit InputQueue(std::size_t limit) : limit_(limit) {}

  std::size_t Held() const { return bytes_.size() - head_; }
  std::size_t Room() const { return limit_ - std::min(limit_, Held()); }
  bool Full() const { return Held() >= limit_; }
  const BYTE* Data() const { return bytes_.data() + head_; }

  // Hands out up to `count` bytes.
  DWORD Take(BYTE* buffer, DWORD count);
  // Keeps what fits of `count` bytes and returns how many that is; the rest is dropped.
  std::size_t Append(const BYTE* data, std::size_t count);
  // Space for up to `count` more bytes, past the limit if need be (a decoder writes its
  // output there), then Commit says how many it wrote.
  BYTE* Reserve(std::size_t count);
  void Commit(std::size_t used);
  void Clear();

 private:
  void Compact();

  std::size_t limit_;
  std::vector<BYTE> bytes_;  // held: bytes_[head_..]
  std::size_t head_ = 0;
  std::size_t reserved_ = 0;  // start of the space Reserve handed out
};

}  // namespace platform
