#include "host/core/station_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "host/core/exit_codes.h"

extern char** environ;

namespace velmora {

namespace {

// What a child keeps of its standard error: the last words, for a slot that ends
// without a result.
constexpr std::size_t kErrTail = 400;

int ExitOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -1;  // a signal ended it
}

std::string Errno(int error) {
  return std::strerror(error);
}

}  // namespace

std::string OwnExecutable() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  return std::string(path, static_cast<std::size_t>(n));
}

std::string StationLogName(const std::string& serialOrPort, long long unixSeconds) {
  std::string name;
  for (const char c : serialOrPort) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
    name += plain ? c : '_';
  }
  // No hidden file, and no "." or "..".
  while (!name.empty() && (name.front() == '.' || name.front() == '_')) name.erase(0, 1);
  if (name.empty()) name = "KV70";
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  ::localtime_r(&t, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return name + "-" + stamp + ".log";
}

std::string PlaceLogFile(const std::string& temp, const std::string& dir, const std::string& name,
                         std::string& error) {
  const std::string stem = name.size() > 4 ? name.substr(0, name.size() - 4) : name;
  for (int n = 0; n < 1000; ++n) {
    const std::string path = dir + "/" + (n == 0 ? name : stem + "-" + std::to_string(n) + ".log");
    // A hard link never replaces a file; the temporary name then goes.
    if (::link(temp.c_str(), path.c_str()) == 0) {
      ::unlink(temp.c_str());
      return path;
    }
    if (errno == EEXIST) continue;
    // A file system without hard links: a rename that refuses to replace.
    if (errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV) {
      if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return path;
      if (errno == EEXIST) continue;
    }
    error = "cannot name the log file " + path + ": " + Errno(errno) + "; it stays " + temp;
    return "";
  }
  error = "too many log files named " + name + "; it stays " + temp;
  return "";
}

StationRunner::StationRunner(StationModel& model, StationSettings settings)
    : model_(model), settings_(std::move(settings)) {
  children_.resize(static_cast<std::size_t>(model_.Count()));
  for (int i = 0; i < model_.Count(); ++i) model_.MutableSlot(i).repeating = settings_.repeat;
}

StationRunner::~StationRunner() {
  // A front end that goes away takes its children with it: cancelled, then waited for.
  StopAll();
  for (Child& child : children_) {
    if (child.pid <= 0) continue;
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    if (child.out >= 0) ::close(child.out);
    if (child.err >= 0) ::close(child.err);
  }
}

int StationRunner::AddSlot(const std::string& port) {
  const int slot = model_.Add(port);
  model_.MutableSlot(slot).repeating = settings_.repeat;
  children_.emplace_back();
  return slot;
}

bool StationRunner::RemoveSlot(int slot) {
  if (slot < 0 || slot >= model_.Count() || Running(slot)) return false;
  model_.Remove(slot);
  children_.erase(children_.begin() + slot);
  return true;
}

bool StationRunner::Running(int slot) const {
  return children_[static_cast<std::size_t>(slot)].pid > 0;
}

bool StationRunner::AnyRunning() const {
  for (const Child& child : children_)
    if (child.pid > 0) return true;
  return false;
}

bool StationRunner::Start(int slot, double now, std::string& error) {
  Child& child = children_[static_cast<std::size_t>(slot)];
  if (child.pid > 0) return true;
  child = Child{};
  std::vector<std::string> args = {settings_.velmora,      "run",   settings_.operation, "--device",
                                   model_.Slot(slot).port, "--json"};
  for (const std::string& option : settings_.runOptions) args.push_back(option);
  if (settings_.logDir) {
    // The serial is known only at the end: the dump goes to a name of the station's own,
    // and gets its final one then.
    child.tempLog = *settings_.logDir + "/.station-" + std::to_string(::getpid()) + "-" +
                    std::to_string(++serial_) + ".part";
    args.push_back("--log-file");
    args.push_back(child.tempLog);
  }
  if (settings_.traceDir) {
    args.push_back("--trace");
    args.push_back(*settings_.traceDir + "/station-" + std::to_string(::getpid()) + "-slot" +
                   std::to_string(slot + 1) + "-" + std::to_string(++serial_) + ".trace");
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    error = "cannot make a pipe: " + Errno(errno);
    return false;
  }
  if (::pipe2(err, O_CLOEXEC) != 0) {
    error = "cannot make a pipe: " + Errno(errno);
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A process group of its own: the terminal's Ctrl-C reaches the station only, which
  // cancels each child once (a second signal would end a child at once).
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, signal);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, settings_.velmora.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out[1]);
  ::close(err[1]);
  if (spawned != 0) {
    ::close(out[0]);
    ::close(err[0]);
    error = "cannot start " + settings_.velmora + ": " + Errno(spawned);
    return false;
  }
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  ::fcntl(err[0], F_SETFL, O_NONBLOCK);
  child.pid = pid;
  child.out = out[0];
  child.err = err[0];
  child.started = static_cast<long long>(std::time(nullptr));
  model_.Started(slot, now);
  return true;
}

void StationRunner::Stop(int slot) {
  Child& child = children_[static_cast<std::size_t>(slot)];
  child.stopWanted = true;
  if (child.pid <= 0) return;
  // velmora takes either as its Cancel; the second one ends it at once.
  ::kill(child.pid, child.stops == 0 ? SIGINT : SIGTERM);
  ++child.stops;
}

void StationRunner::StopAll() {
  for (int i = 0; i < static_cast<int>(children_.size()); ++i) Stop(i);
}

void StationRunner::ReadFrom(int slot, Child& child, int fd, double now) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      if (fd == child.out) {
        child.outBuffer.append(buffer, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; (end = child.outBuffer.find('\n', start)) != std::string::npos;
             start = end + 1) {
          const std::string line = child.outBuffer.substr(start, end - start);
          model_.Apply(slot, line, now);
          if (onLine) onLine(slot, line);
        }
        child.outBuffer.erase(0, start);
      } else {
        child.errBuffer.append(buffer, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; (end = child.errBuffer.find('\n', start)) != std::string::npos;
             start = end + 1) {
          std::string line = child.errBuffer.substr(start, end - start);
          const bool own = line.rfind("velmora: ", 0) == 0;
          if (own) line.erase(0, 9);
          // velmora's own message says why; the lines after it only explain (the serial
          // ports there are, after "no such device").
          if (!line.empty() && (own || !child.errOwn)) {
            child.errTail = line.substr(0, kErrTail);
            child.errOwn = own;
          }
        }
        child.errBuffer.erase(0, start);
        if (child.errBuffer.size() > 65536) child.errBuffer.clear();
      }
      continue;
    }
    if (n == 0) {
      ::close(fd);
      (fd == child.out ? child.out : child.err) = -1;
    }
    return;  // EAGAIN, or closed
  }
}

void StationRunner::Finish(int slot, Child& child, int status, double now) {
  int exit = ExitOf(status);
  // Stopped before velmora took its signals as Cancel: cancelled all the same.
  if (exit < 0 && child.stopWanted && WIFSIGNALED(status) &&
      (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGTERM))
    exit = kExitCancelled;
  model_.Ended(slot, exit, child.errTail, now);
  SlotState& state = model_.MutableSlot(slot);
  bool counts = true;
  // A repeating slot whose port never had a device answering waited in vain: no device,
  // no run to count, no record to show; it waits again.
  if (settings_.repeat && !state.deviceAnswered && !child.stopWanted) {
    counts = false;
    --state.devicesDone;
  }
  if (!child.tempLog.empty()) {
    if (::access(child.tempLog.c_str(), F_OK) == 0) {
      const std::string serial = !state.serial.empty() ? state.serial : state.port;
      std::string error;
      const std::string path = PlaceLogFile(child.tempLog, *settings_.logDir,
                                            StationLogName(serial, child.started), error);
      state.logFile = path.empty() ? child.tempLog : path;
      if (path.empty() && state.failure.empty()) state.failure = error;
    }
  }
  if (counts) model_.finished.push_back({slot, state});
  const bool again = settings_.repeat && !child.stopWanted &&
                     (settings_.count == 0 || state.devicesDone < settings_.count);
  child.pid = -1;
  if (counts && onEnded) onEnded(slot);
  if (again) {
    std::string error;
    if (!Start(slot, now, error)) {
      state.phase = SlotPhase::Failed;
      state.failure = error;
    }
  }
}

void StationRunner::Poll(int timeoutMs, int extraFd, const std::function<double()>& now) {
  std::vector<pollfd> fds;
  std::vector<int> owners;
  for (int i = 0; i < static_cast<int>(children_.size()); ++i) {
    const Child& child = children_[static_cast<std::size_t>(i)];
    for (const int fd : {child.out, child.err}) {
      if (fd < 0) continue;
      fds.push_back({fd, POLLIN, 0});
      owners.push_back(i);
    }
  }
  if (extraFd >= 0) {
    fds.push_back({extraFd, POLLIN, 0});
    owners.push_back(-1);
  }
  const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
  const double t = now();
  if (ready > 0) {
    for (std::size_t k = 0; k < fds.size(); ++k) {
      if (owners[k] < 0 || fds[k].revents == 0) continue;
      Child& child = children_[static_cast<std::size_t>(owners[k])];
      ReadFrom(owners[k], child, fds[k].fd, t);
    }
  }
  // A child is done when both its pipes closed; a grandchild holding them open does not
  // keep the slot: the child's own end is asked too.
  for (int i = 0; i < static_cast<int>(children_.size()); ++i) {
    Child& child = children_[static_cast<std::size_t>(i)];
    if (child.pid <= 0) continue;
    int status = 0;
    if (child.out >= 0 || child.err >= 0) {
      if (::waitpid(child.pid, &status, WNOHANG) != child.pid) continue;
      // Gone: what it wrote before it went is still read.
      for (const int fd : {child.out, child.err})
        if (fd >= 0) ReadFrom(i, child, fd, t);
      if (child.out >= 0) ::close(child.out);
      if (child.err >= 0) ::close(child.err);
      child.out = child.err = -1;
    } else if (::waitpid(child.pid, &status, 0) != child.pid) {
      continue;
    }
    if (!child.outBuffer.empty()) {
      model_.Apply(i, child.outBuffer, t);
      if (onLine) onLine(i, child.outBuffer);
      child.outBuffer.clear();
    }
    Finish(i, child, status, t);
  }
}

}  // namespace velmora
