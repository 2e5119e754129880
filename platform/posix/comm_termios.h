// The termios comm-port backend's public corner: its factory with the clock and the wait
// it runs on, system-call counters for benchmarks and the decoder of the kernel's PARMRK
// line-error marking. The backend registers under the empty prefix (device paths) with
// the system clock and poll(2).
#pragma once
#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/comm_port.h"
#include "platform/winbase.h"

namespace platform {

// How a port waits for its descriptor to become readable or writable: poll(2) on one
// descriptor, with its result and errno.
using TermiosPoll = std::function<int(pollfd& fd, int timeoutMs)>;

// Opens a device path as a port whose time-outs run on `clock` (which must outlive the
// port) and which waits through `poll` (empty: poll(2)). A virtual clock moves only when
// the wait moves it, so a test that injects one also injects the wait.
DWORD OpenTermiosPort(const std::string& path, Clock& clock, std::unique_ptr<CommPort>& port,
                      TermiosPoll poll = {});

// System calls made by every termios port of the process since it started.
struct TermiosCounters {
  std::uint64_t reads = 0;   // read(2), including those that found nothing waiting
  std::uint64_t writes = 0;  // write(2)
  std::uint64_t polls = 0;   // poll(2)
};
TermiosCounters GetTermiosCounters();
std::uint64_t TermiosReadCalls();

// The terminal settings (termios2 fields) that stand for a DCB: raw input and output,
// CREAD, CLOCAL and HUPCL, line events marked in the input (PARMRK, INPCK), the flow
// control asked for. A speed without a Bxxx code goes as BOTHER with the rate itself.
// Refuses (ERROR_INVALID_PARAMETER) a zero speed, data bits outside 5..8, unknown parity
// or stop-bit codes, one and a half stop bits with other than five data bits, DSR flow
// control and DTR handshaking (Linux has neither).
struct TermiosSettings {
  unsigned iflag = 0;
  unsigned oflag = 0;
  unsigned cflag = 0;
  unsigned lflag = 0;
  unsigned ispeed = 0;
  unsigned ospeed = 0;
  BYTE xon = 0;
  BYTE xoff = 0;
};
DWORD TermiosFromDcb(const DCB& dcb, TermiosSettings& settings);

// With PARMRK (and IGNBRK, BRKINT off, ISTRIP off) the line discipline marks line events
// in the byte stream:
//   FF FF      a data byte FF
//   FF 00 00   a break
//   FF 00 c    the byte c received with a parity or framing error
// A marker may be split across two reads, so the decoder keeps its state between feeds.
class ParmrkDecoder {
 public:
  // Decodes `count` bytes of `in` into `out` and returns the number of data bytes written.
  // `out` needs room for count + 1 bytes: an FF held back from the last feed may come
  // out together with the byte after it.
  std::size_t Feed(const BYTE* in, std::size_t count, BYTE* out);
  // Breaks and errored bytes seen since construction.
  std::uint64_t Breaks() const { return breaks_; }
  std::uint64_t ErroredBytes() const { return errored_; }
  // Forgets a half-seen marker (after the input queue was thrown away).
  void ResetState() { state_ = State::kData; }

 private:
  enum class State { kData, kSawFF, kSawFF00 };
  State state_ = State::kData;
  std::uint64_t breaks_ = 0;
  std::uint64_t errored_ = 0;
};

}  // namespace platform
