// Linux only: the comm-port backend for device paths (UARTs, USB-serial adapters, ptys).
// Everything above the CommPort interface stays free of termios.
#include "platform/posix/comm_termios.h"

// termios2 with BOTHER sets any speed in one call, so a speed change never passes
// through B0 (which would drop DTR) and speeds without a Bxxx constant work.
#include <asm/termbits.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/comm_port.h"
#include "platform/port_engine.h"
#include "platform/posix/port_claim.h"

namespace platform {

namespace {

std::atomic<std::uint64_t> gReadCalls{0};
std::atomic<std::uint64_t> gWriteCalls{0};
std::atomic<std::uint64_t> gPollCalls{0};

// Speeds that have a Bxxx code; any other speed goes as BOTHER with the rate itself.
// bit/s, termios code.
struct SpeedRow {
  DWORD bitsPerSecond;
  unsigned code;
};
constexpr SpeedRow kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// Data bits, CSIZE code.
struct SizeRow {
  BYTE bits;
  unsigned code;
};
constexpr SizeRow kSizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};

// Parity code, c_cflag bits.
struct ParityRow {
  BYTE parity;
  unsigned cflag;
};
constexpr ParityRow kParities[] = {
    {NOPARITY, 0},
    {ODDPARITY, PARENB | PARODD},
    {EVENPARITY, PARENB},
    {MARKPARITY, PARENB | CMSPAR | PARODD},
    {SPACEPARITY, PARENB | CMSPAR},
};

// A driver that rounds a speed it cannot make reports the speed it chose; more than this
// far off and the two ends would not understand each other.
constexpr DWORD kSpeedTolerancePercent = 2;

// One read takes everything the line discipline holds (its queue is 4 KiB).
constexpr std::size_t kChunk = 4096;
// Input decoded while looking for line errors, kept for the next reads; beyond this the
// rest waits in the kernel's queue.
constexpr std::size_t kMaxPending = 64 * 1024;
// A purge drains what is waiting to see its breaks; a line that never stops talking
// must not keep it there.
constexpr int kMaxPurgeChunks = 16;

// A device path is a real line: its time-outs run on real time even when a virtual
// clock is in force for the simulator.
Clock& LineClock() {
  static SystemClock system;
  return system;
}

int SystemPoll(pollfd& fd, int timeoutMs) {
  return ::poll(&fd, 1, timeoutMs);
}

bool IsModemIoctlRefusal(int err) {
  // A pty has no modem lines; some adapters have none either.
  return err == ENOTTY || err == EINVAL;
}

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Errors of open(2) as a user of COM ports knows them: a node without a port behind it
// (a /dev/ttyS without a UART answers EIO) is "no such port", a busy one "in use".
DWORD OpenError(int err) {
  switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
    case EIO:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
      return ERROR_ACCESS_DENIED;
    default:
      return ErrorFromErrno(err);
  }
}

std::string UserName(uid_t uid) {
  if (const passwd* user = ::getpwuid(uid)) return user->pw_name;
  return "with id " + std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  if (const group* g = ::getgrgid(gid)) return g->gr_name;
  return std::to_string(gid);
}

bool SessionHasGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether the user's account lists the group, whatever this login session has.
bool AccountHasGroup(uid_t uid, gid_t gid) {
  const passwd* user = ::getpwuid(uid);
  if (!user) return false;
  const std::string name = user->pw_name;
  const gid_t primary = user->pw_gid;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<std::size_t>(count));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// Why this process may not open `path`, from its owner, group and mode: most often a
// port that belongs to the dialout group and a user who is not in it.
std::string AccessProblem(const std::string& path) {
  struct stat st {};
  const std::string denied = path + ": permission denied";
  if (::stat(path.c_str(), &st) != 0) return denied;
  const uid_t uid = ::geteuid();
  const std::string user = UserName(uid);
  const std::string groupName = GroupName(st.st_gid);
  const bool groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (groupMayUse && st.st_uid != uid && !SessionHasGroup(st.st_gid)) {
    if (AccountHasGroup(uid, st.st_gid)) {
      return denied + ": the port belongs to group " + groupName + "; user " + user +
             " was added to it, but this login session does not have it yet. Log out and in "
             "again.";
    }
    return denied + ": the port belongs to group " + groupName + ", and user " + user +
           " is not in it. Add the user with: sudo usermod -aG " + groupName + " " + user +
           ", then log in again.";
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return denied + " (owner " + UserName(st.st_uid) + ", group " + groupName + ", mode " + mode +
         ", user " + user + ")";
}

std::string InUseProblem(const std::string& path, const std::vector<PortHolder>& holders) {
  if (holders.empty()) return path + " is in use by another program";
  std::string text = path + " is in use by " + DescribeHolder(holders.front());
  for (std::size_t i = 1; i < holders.size(); ++i) text += ", " + DescribeHolder(holders[i]);
  return text;
}

// Tells the host why, keeps the error number the plug-in shows.
DWORD Refuse(const std::string& path, DWORD error, const std::string& why,
             bool noSuchPort = false) {
  ReportCommPortProblem(path, CommPortProblem{why, noSuchPort}, true);
  return error;
}

// open(2) failed with `err`: why, in the user's words.
DWORD RefuseOpen(const std::string& path, int err) {
  const DWORD error = OpenError(err);
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return Refuse(path, error, path + " does not exist", true);
    case EACCES:
    case EPERM:
      return Refuse(path, error, AccessProblem(path));
    case EBUSY: {
      // The exclusive flag of another process.
      struct stat st {};
      std::vector<PortHolder> holders;
      if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
        holders = FindPortHolders(st.st_rdev);
      return Refuse(path, error, InUseProblem(path, holders));
    }
    case ENXIO:
    case ENODEV:
    case EIO:
      return Refuse(path, error, path + ": no serial port answers at this device node");
    case EISDIR:
      return Refuse(path, ErrorFromErrno(ENOTTY), path + " is not a serial port (a directory)");
    case ELOOP:
      return Refuse(path, error, path + ": too many levels of symbolic links");
    default:
      return Refuse(path, error, path + ": " + std::strerror(err));
  }
}

class TermiosPort final : public CommPort, private PortFeed {
 public:
  static DWORD Open(const std::string& path, Clock& clock, TermiosPoll poll,
                    std::unique_ptr<CommPort>& port);

  ~TermiosPort() override {
    // The exclusive flag would outlive us on a tty that another process keeps open; but
    // a port refused at open belongs to someone else, flag and all.
    if (ownsExclusive_) ::ioctl(fd_.get(), TIOCNXCL);
  }

  DWORD GetState(DCB& dcb) override;
  DWORD SetState(const DCB& dcb) override;
  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) override {
    timeouts_ = timeouts;
    return ERROR_SUCCESS;
  }
  DWORD Read(BYTE* buffer, DWORD count, DWORD& read) override;
  DWORD Write(const BYTE* buffer, DWORD count, DWORD& written) override;
  DWORD Purge(DWORD flags) override;
  DWORD SetBreak() override { return Ioctl(TIOCSBRK); }
  DWORD ClearBreak() override { return Ioctl(TIOCCBRK); }
  DWORD ClearError(DWORD& errors) override;

 private:
  TermiosPort(int fd, Clock& clock, TermiosPoll poll)
      : fd_(fd), clock_(clock), poll_(std::move(poll)) {}

  // The engine's feed: the decoded input, read(2) and poll(2), in whole milliseconds.
  std::uint64_t NowNs() override { return clock_.NowMs() * kNsPerMs; }
  DWORD Take(BYTE* buffer, DWORD count) override { return pending_.Take(buffer, count); }
  DWORD Collect(bool, std::size_t& arrived) override { return FillOnce(arrived); }
  DWORD WaitForInput(std::uint64_t deadlineNs, bool& ready) override {
    return Wait(POLLIN, deadlineNs, ready);
  }

  DWORD Ioctl(unsigned long request) {
    return ::ioctl(fd_.get(), request) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
  }
  DWORD Apply(const DCB& dcb, bool setModemLines);
  DWORD SetModemLine(int line, BYTE control);
  DWORD FillOnce(std::size_t& rawBytes);
  DWORD Drain(bool keepData, int maxChunks);
  DWORD Wait(short events, std::uint64_t deadlineNs, bool& ready);
  DWORD ReadIcount();

  UniqueFd fd_;
  Clock& clock_;
  TermiosPoll poll_;
  SerialLock lock_;
  bool ownsExclusive_ = false;
  COMMTIMEOUTS timeouts_{};
  BYTE dtrControl_ = DTR_CONTROL_ENABLE;  // opening a tty raises DTR and RTS
  BYTE rtsControl_ = RTS_CONTROL_ENABLE;
  bool parityOn_ = false;

  // Decoded input not yet handed out.
  InputQueue pending_{kMaxPending};
  ParmrkDecoder decoder_;

  // Line errors: the driver's counters where it keeps them, PARMRK markers always. A
  // break is seen by both when the driver counts and marks it, perhaps in different
  // calls, so breaks are reported up to the larger of the two running totals.
  bool hasIcount_ = false;
  serial_icounter_struct lastIcount_{};
  std::uint64_t icountBreaks_ = 0;
  std::uint64_t breaksReported_ = 0;
  std::uint64_t erroredReported_ = 0;
  DWORD icountErrors_ = 0;
};

DWORD TermiosPort::Open(const std::string& path, Clock& clock, TermiosPoll poll,
                        std::unique_ptr<CommPort>& port) {
  if (path.empty()) return ERROR_FILE_NOT_FOUND;
  // Non-blocking from the start: a port without carrier would otherwise hang the open.
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return RefuseOpen(path, errno);
  std::unique_ptr<TermiosPort> opened(
      new TermiosPort(fd, clock, poll ? std::move(poll) : TermiosPoll(SystemPoll)));

  // A file, /dev/null or anything else that is not a terminal is not a port.
  struct stat st {};
  termios2 current{};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    const std::string what = S_ISREG(st.st_mode) ? " (a regular file)" : "";
    return Refuse(path, ErrorFromErrno(ENOTTY), path + " is not a serial port" + what);
  }
  if (::ioctl(fd, TCGETS2, &current) != 0) {
    if (errno != ENOTTY && errno != EINVAL) return ErrorFromErrno(errno);
    return Refuse(path, ErrorFromErrno(ENOTTY), path + " is not a serial port");
  }
  // The port is the run's alone, and nothing is sent before that is sure. TIOCEXCL does
  // not stop a privileged process; the flock does (another of our runs), the UUCP lock
  // does for the programs that keep to it, and the open files of the other processes
  // show the rest (a terminal program left open, a modem manager probing an adapter).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return ErrorFromErrno(errno);
    return Refuse(path, ERROR_ACCESS_DENIED, InUseProblem(path, FindPortHolders(st.st_rdev)));
  }
  int exclusive = 0;
  if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    return Refuse(path, ERROR_ACCESS_DENIED, InUseProblem(path, FindPortHolders(st.st_rdev)));
  }
  if (const std::vector<PortHolder> holders = FindPortHolders(st.st_rdev); !holders.empty()) {
    return Refuse(path, ERROR_ACCESS_DENIED, InUseProblem(path, holders));
  }
  PortHolder lockHolder;
  if (opened->lock_.Take(path, lockHolder) == SerialLock::Result::kHeld) {
    return Refuse(path, ERROR_ACCESS_DENIED, InUseProblem(path, {lockHolder}));
  }
  if (::ioctl(fd, TIOCEXCL) != 0) return ErrorFromErrno(errno);
  opened->ownsExclusive_ = true;

  serial_icounter_struct counts{};
  if (::ioctl(fd, TIOCGICOUNT, &counts) == 0) {
    opened->hasIcount_ = true;
    opened->lastIcount_ = counts;
  }

  // Raw mode at once: a cooked line would echo the device's bytes back to it until the
  // first settings arrive.
  DCB dcb;
  DWORD error = opened->GetState(dcb);
  if (error != ERROR_SUCCESS) return error;
  if (dcb.BaudRate == 0) dcb.BaudRate = 9600;
  if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) dcb.StopBits = TWOSTOPBITS;
  dcb.fOutxDsrFlow = false;
  error = opened->Apply(dcb, false);
  if (error != ERROR_SUCCESS) return error;

  port = std::move(opened);
  return ERROR_SUCCESS;
}

DWORD TermiosPort::GetState(DCB& dcb) {
  termios2 t{};
  if (::ioctl(fd_.get(), TCGETS2, &t) != 0) return ErrorFromErrno(errno);
  DCB result;
  const unsigned code = t.c_cflag & CBAUD;
  result.BaudRate = t.c_ospeed;
  for (const auto& row : kSpeeds) {
    if (row.code == code) result.BaudRate = row.bitsPerSecond;
  }
  if (code == B0) result.BaudRate = 0;
  for (const auto& row : kSizes) {
    if (row.code == (t.c_cflag & CSIZE)) result.ByteSize = row.bits;
  }
  result.Parity = NOPARITY;
  for (const auto& row : kParities) {
    if (row.cflag == (t.c_cflag & (PARENB | PARODD | CMSPAR))) result.Parity = row.parity;
  }
  result.fParity = (t.c_cflag & PARENB) != 0;
  // With five data bits the UART makes CSTOPB one and a half stop bits.
  result.StopBits = (t.c_cflag & CSTOPB) == 0 ? ONESTOPBIT
                    : result.ByteSize == 5    ? ONE5STOPBITS
                                              : TWOSTOPBITS;
  result.fBinary = true;
  result.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  result.fOutxDsrFlow = false;
  result.fDtrControl = dtrControl_;
  result.fRtsControl = result.fOutxCtsFlow ? RTS_CONTROL_HANDSHAKE : rtsControl_;
  result.fOutX = (t.c_iflag & IXON) != 0;
  result.fInX = (t.c_iflag & IXOFF) != 0;
  result.XonChar = static_cast<char>(t.c_cc[VSTART]);
  result.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  dcb = result;
  return ERROR_SUCCESS;
}

DWORD TermiosPort::SetState(const DCB& dcb) {
  return Apply(dcb, true);
}

DWORD TermiosPort::Apply(const DCB& dcb, bool setModemLines) {
  TermiosSettings settings;
  DWORD error = TermiosFromDcb(dcb, settings);
  if (error != ERROR_SUCCESS) return error;
  termios2 previous{};
  if (::ioctl(fd_.get(), TCGETS2, &previous) != 0) return ErrorFromErrno(errno);
  termios2 t = previous;
  t.c_iflag = settings.iflag;
  t.c_oflag = settings.oflag;
  t.c_cflag = settings.cflag;
  t.c_lflag = settings.lflag;
  t.c_ispeed = settings.ispeed;
  t.c_ospeed = settings.ospeed;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  t.c_cc[VSTART] = settings.xon;
  t.c_cc[VSTOP] = settings.xoff;
  const bool hardwareFlow = (settings.cflag & CRTSCTS) != 0;
  if (::ioctl(fd_.get(), TCSETS2, &t) != 0) return ErrorFromErrno(errno);

  termios2 applied{};
  if (::ioctl(fd_.get(), TCGETS2, &applied) != 0) return ErrorFromErrno(errno);
  const DWORD got = applied.c_ospeed;
  const DWORD want = dcb.BaudRate;
  const DWORD diff = got > want ? got - want : want - got;
  if (static_cast<std::uint64_t>(diff) * 100 >
      static_cast<std::uint64_t>(want) * kSpeedTolerancePercent) {
    ::ioctl(fd_.get(), TCSETS2, &previous);
    return ERROR_INVALID_PARAMETER;
  }
  parityOn_ = dcb.Parity != NOPARITY;

  if (setModemLines) {
    error = SetModemLine(TIOCM_DTR, dcb.fDtrControl);
    if (error != ERROR_SUCCESS) return error;
    dtrControl_ = dcb.fDtrControl;
    if (!hardwareFlow) {
      error = SetModemLine(TIOCM_RTS, dcb.fRtsControl);
      if (error != ERROR_SUCCESS) return error;
      rtsControl_ = dcb.fRtsControl;
    }
  }
  return ERROR_SUCCESS;
}

DWORD TermiosPort::SetModemLine(int line, BYTE control) {
  int bits = line;
  const unsigned long request = control == 0 ? TIOCMBIC : TIOCMBIS;
  if (::ioctl(fd_.get(), request, &bits) == 0 || IsModemIoctlRefusal(errno)) return ERROR_SUCCESS;
  return ErrorFromErrno(errno);
}

DWORD TermiosPort::FillOnce(std::size_t& rawBytes) {
  rawBytes = 0;
  BYTE raw[kChunk];
  ssize_t n;
  do {
    gReadCalls.fetch_add(1, std::memory_order_relaxed);
    n = ::read(fd_.get(), raw, sizeof raw);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno == EAGAIN ? ERROR_SUCCESS : ErrorFromErrno(errno);
  // A terminal in non-blocking mode says EAGAIN when it has nothing; end of file means
  // the line hung up (a USB adapter pulled out).
  if (n == 0) return ERROR_DEVICE_NOT_CONNECTED;
  rawBytes = static_cast<std::size_t>(n);
  BYTE* out = pending_.Reserve(rawBytes + 1);
  pending_.Commit(decoder_.Feed(raw, rawBytes, out));
  return ERROR_SUCCESS;
}

DWORD TermiosPort::Drain(bool keepData, int maxChunks) {
  for (int i = 0; i < maxChunks; ++i) {
    if (keepData && pending_.Full()) return ERROR_SUCCESS;
    std::size_t raw = 0;
    DWORD error = FillOnce(raw);
    if (!keepData) pending_.Clear();
    if (error != ERROR_SUCCESS) return error;
    if (raw == 0) return ERROR_SUCCESS;
  }
  return ERROR_SUCCESS;
}

DWORD TermiosPort::Wait(short events, std::uint64_t deadlineNs, bool& ready) {
  ready = false;
  for (;;) {
    const int timeout = WaitTimeoutMs(deadlineNs, NowNs());
    if (timeout == 0) return ERROR_SUCCESS;
    pollfd p{fd_.get(), events, 0};
    gPollCalls.fetch_add(1, std::memory_order_relaxed);
    const int r = poll_(p, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;  // the loop waits again for the time left
      return ErrorFromErrno(errno);
    }
    if (r == 0) continue;  // the deadline check decides; poll may wake a hair early
    if (p.revents & POLLNVAL) return ERROR_INVALID_HANDLE;
    // POLLHUP and POLLERR too: the read or write that follows reports what happened.
    ready = true;
    return ERROR_SUCCESS;
  }
}

DWORD TermiosPort::Read(BYTE* buffer, DWORD count, DWORD& read) {
  return ReadWithTimeouts(*this, timeouts_, buffer, count, read);
}

DWORD TermiosPort::Write(const BYTE* buffer, DWORD count, DWORD& written) {
  written = 0;
  if (count == 0) return ERROR_SUCCESS;
  if (!buffer) return ERROR_INVALID_PARAMETER;
  const std::uint64_t deadline = WriteDeadlineNs(timeouts_, count, NowNs());
  while (written < count) {
    gWriteCalls.fetch_add(1, std::memory_order_relaxed);
    const ssize_t n = ::write(fd_.get(), buffer + written, count - written);
    if (n > 0) {
      written += static_cast<DWORD>(n);
      continue;
    }
    if (n == 0) return ERROR_WRITE_FAULT;  // nothing taken and no error: do not spin on it
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return ErrorFromErrno(errno);
    bool ready = false;
    DWORD error = Wait(POLLOUT, deadline, ready);
    if (error != ERROR_SUCCESS) return error;
    if (!ready) {
      SetLastError(ERROR_TIMEOUT);  // the short count tells; this says why
      return ERROR_SUCCESS;
    }
  }
  return ERROR_SUCCESS;
}

DWORD TermiosPort::Purge(DWORD flags) {
  if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
    // Breaks in the queue still count as seen: read them out before throwing it away.
    DWORD error = Drain(false, kMaxPurgeChunks);
    pending_.Clear();
    decoder_.ResetState();
    if (error != ERROR_SUCCESS) return error;
    if (::ioctl(fd_.get(), TCFLSH, TCIFLUSH) != 0) return ErrorFromErrno(errno);
  }
  if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
    if (::ioctl(fd_.get(), TCFLSH, TCOFLUSH) != 0) return ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

DWORD TermiosPort::ReadIcount() {
  serial_icounter_struct now{};
  if (::ioctl(fd_.get(), TIOCGICOUNT, &now) != 0) return ErrorFromErrno(errno);
  // Counter, error flag it raises.
  struct CounterRow {
    int serial_icounter_struct::*counter;
    DWORD flag;
  };
  static constexpr CounterRow kCounters[] = {
      {&serial_icounter_struct::frame, CE_FRAME},
      {&serial_icounter_struct::overrun, CE_OVERRUN},
      {&serial_icounter_struct::parity, CE_RXPARITY},
      {&serial_icounter_struct::buf_overrun, CE_RXOVER},
  };
  for (const auto& row : kCounters) {
    if (now.*row.counter != lastIcount_.*row.counter) icountErrors_ |= row.flag;
  }
  // Unsigned difference: the counters wrap.
  icountBreaks_ += static_cast<unsigned>(now.brk) - static_cast<unsigned>(lastIcount_.brk);
  lastIcount_ = now;
  return ERROR_SUCCESS;
}

DWORD TermiosPort::ClearError(DWORD& errors) {
  errors = 0;
  DWORD error = Drain(true, INT_MAX);
  if (error != ERROR_SUCCESS) return error;
  if (hasIcount_) {
    error = ReadIcount();
    if (error != ERROR_SUCCESS) return error;
  }
  errors = icountErrors_;
  icountErrors_ = 0;
  const std::uint64_t breaks = std::max(icountBreaks_, decoder_.Breaks());
  if (breaks > breaksReported_) errors |= CE_BREAK;
  breaksReported_ = breaks;
  if (decoder_.ErroredBytes() > erroredReported_ && !hasIcount_) {
    // A marked byte does not say which error it had; with parity on, parity is the
    // likelier one.
    errors |= parityOn_ ? CE_RXPARITY : CE_FRAME;
  }
  erroredReported_ = decoder_.ErroredBytes();
  return ERROR_SUCCESS;
}

DWORD OpenTermios(const std::string& path, std::unique_ptr<CommPort>& port) {
  return TermiosPort::Open(path, LineClock(), {}, port);
}

[[maybe_unused]] const bool gRegistered = [] {
  RegisterCommBackend("", OpenTermios);
  return true;
}();

}  // namespace

std::string SystemCommDevice(const std::string&, unsigned number) {
  return "/dev/ttyS" + std::to_string(number - 1);
}

DWORD TermiosFromDcb(const DCB& dcb, TermiosSettings& settings) {
  if (dcb.BaudRate == 0 || dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS ||
      (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) || dcb.fOutxDsrFlow ||
      dcb.fDtrControl > DTR_CONTROL_ENABLE || dcb.fRtsControl > RTS_CONTROL_HANDSHAKE) {
    return ERROR_INVALID_PARAMETER;
  }
  const SizeRow* size = nullptr;
  for (const auto& row : kSizes) {
    if (row.bits == dcb.ByteSize) size = &row;
  }
  if (!size) return ERROR_INVALID_PARAMETER;
  const bool hardwareFlow = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;

  TermiosSettings result;
  // INPCK so that framing and parity errors are marked rather than passed as good bytes.
  result.iflag = PARMRK | INPCK | (dcb.fOutX ? IXON : 0) | (dcb.fInX ? IXOFF : 0);
  result.oflag = 0;
  result.lflag = 0;
  result.cflag = CREAD | CLOCAL | HUPCL | size->code | kParities[dcb.Parity].cflag |
                 (dcb.StopBits != ONESTOPBIT ? CSTOPB : 0) | (hardwareFlow ? CRTSCTS : 0);
  unsigned code = BOTHER;
  for (const auto& row : kSpeeds) {
    if (row.bitsPerSecond == dcb.BaudRate) code = row.code;
  }
  result.cflag |= code | (code << IBSHIFT);
  result.ispeed = result.ospeed = dcb.BaudRate;
  result.xon = static_cast<BYTE>(dcb.XonChar);
  result.xoff = static_cast<BYTE>(dcb.XoffChar);
  settings = result;
  return ERROR_SUCCESS;
}

std::size_t ParmrkDecoder::Feed(const BYTE* in, std::size_t count, BYTE* out) {
  std::size_t produced = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const BYTE b = in[i];
    switch (state_) {
      case State::kData:
        if (b == 0xFF) {
          state_ = State::kSawFF;
        } else {
          out[produced++] = b;
        }
        break;
      case State::kSawFF:
        if (b == 0x00) {
          state_ = State::kSawFF00;
        } else {
          // FF FF is a data FF; anything else after FF cannot come from the line
          // discipline, so keep both bytes rather than lose one.
          out[produced++] = 0xFF;
          if (b == 0xFF) {
            state_ = State::kData;
          } else {
            out[produced++] = b;
            state_ = State::kData;
          }
        }
        break;
      case State::kSawFF00:
        if (b == 0x00) {
          ++breaks_;
        } else {
          ++errored_;
          out[produced++] = b;
        }
        state_ = State::kData;
        break;
    }
  }
  return produced;
}

DWORD OpenTermiosPort(const std::string& path, Clock& clock, std::unique_ptr<CommPort>& port,
                      TermiosPoll poll) {
  port.reset();
  return TermiosPort::Open(path, clock, std::move(poll), port);
}

TermiosCounters GetTermiosCounters() {
  TermiosCounters counters;
  counters.reads = gReadCalls.load(std::memory_order_relaxed);
  counters.writes = gWriteCalls.load(std::memory_order_relaxed);
  counters.polls = gPollCalls.load(std::memory_order_relaxed);
  return counters;
}

std::uint64_t TermiosReadCalls() {
  return gReadCalls.load(std::memory_order_relaxed);
}

}  // namespace platform
