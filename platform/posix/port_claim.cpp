// Linux only: UUCP lock files and the search of /proc for a port's other users.
#include "platform/posix/port_claim.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

namespace platform {

namespace {

// Unix 98 pseudo-terminal slaves: majors 136 to 143, 256 minors each; the master
// (/dev/ptmx, /dev/pts/ptmx) is 5:2.
constexpr unsigned kPtySlaveFirstMajor = 136;
constexpr unsigned kPtySlaveMajors = 8;
constexpr unsigned kPtmxMajor = 5;
constexpr unsigned kPtmxMinor = 2;

// A lock file holds the owner's process id as ten characters and a newline (the HDB
// form every serial program writes); older ones hold it as a binary int.
constexpr int kLockPidWidth = 10;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

bool ParsePid(const char* text, int& pid) {
  if (!*text) return false;
  long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) return false;
  }
  pid = static_cast<int>(value);
  return pid > 0;
}

// The pseudo-terminal index of a slave device, or -1 for any other device.
int PtyIndex(dev_t device) {
  const unsigned major = ::major(device);
  if (major < kPtySlaveFirstMajor || major >= kPtySlaveFirstMajor + kPtySlaveMajors) return -1;
  return static_cast<int>((major - kPtySlaveFirstMajor) * 256 + ::minor(device));
}

// Whether process `pidDir` holds the master of pseudo-terminal `index`: Linux shows a
// master's index as "tty-index:" in the descriptor's fdinfo.
bool HoldsPtyMaster(const std::string& pidDir, int index) {
  UniqueDir fds(::opendir((pidDir + "/fd").c_str()));
  if (!fds) return false;
  const std::string wanted = "tty-index:\t" + std::to_string(index);
  while (const dirent* entry = ::readdir(fds.get())) {
    if (entry->d_name[0] == '.') continue;
    struct stat st {};
    if (::stat((pidDir + "/fd/" + entry->d_name).c_str(), &st) != 0 || !S_ISCHR(st.st_mode) ||
        ::major(st.st_rdev) != kPtmxMajor || ::minor(st.st_rdev) != kPtmxMinor) {
      continue;
    }
    std::ifstream info(pidDir + "/fdinfo/" + entry->d_name);
    std::string line;
    while (std::getline(info, line)) {
      if (line == wanted) return true;
    }
  }
  return false;
}

bool HoldsDevice(const std::string& pidDir, dev_t device) {
  UniqueDir fds(::opendir((pidDir + "/fd").c_str()));
  if (!fds) return false;  // gone, or not ours to look at
  while (const dirent* entry = ::readdir(fds.get())) {
    if (entry->d_name[0] == '.') continue;
    struct stat st {};
    if (::stat((pidDir + "/fd/" + entry->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
        st.st_rdev == device) {
      return true;
    }
  }
  return false;
}

bool ProcessRuns(int pid) {
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

// The process id a lock file names, or 0 when it names none.
int ReadLockPid(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  char buffer[32] = {};
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (n <= 0) return 0;
  if (n == sizeof(int)) {
    int binary = 0;
    std::memcpy(&binary, buffer, sizeof binary);
    if (binary > 0) return binary;
  }
  int pid = 0;
  std::string text(buffer, static_cast<std::size_t>(n));
  const auto first = text.find_first_not_of(" \t");
  const auto last = text.find_last_not_of(" \t\r\n");
  if (first == std::string::npos || last == std::string::npos) return 0;
  return ParsePid(text.substr(first, last - first + 1).c_str(), pid) ? pid : 0;
}

}  // namespace

std::string DescribeHolder(const PortHolder& holder) {
  std::string text = "process " + std::to_string(holder.pid);
  if (!holder.name.empty()) text += " (" + holder.name + ")";
  return text;
}

std::string ProcessName(int pid, const std::string& procRoot) {
  std::ifstream comm(procRoot + "/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

std::vector<PortHolder> FindPortHolders(dev_t device, const std::string& procRoot) {
  std::vector<PortHolder> holders;
  UniqueDir proc(::opendir(procRoot.c_str()));
  if (!proc) return holders;
  const int self = static_cast<int>(::getpid());
  const int ptyIndex = PtyIndex(device);
  while (const dirent* entry = ::readdir(proc.get())) {
    int pid = 0;
    if (!ParsePid(entry->d_name, pid) || pid == self) continue;
    const std::string pidDir = procRoot + "/" + entry->d_name;
    if (!HoldsDevice(pidDir, device)) continue;
    if (ptyIndex >= 0 && HoldsPtyMaster(pidDir, ptyIndex)) continue;
    holders.push_back({pid, ProcessName(pid, procRoot)});
  }
  return holders;
}

std::string SerialLockDirectory() {
  if (const char* dir = std::getenv("VELMORA_LOCK_DIR"); dir && *dir) return dir;
  return "/var/lock";
}

std::string SerialLockName(const std::string& devicePath) {
  std::string path = devicePath;
  if (char* real = ::realpath(devicePath.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  std::string name;
  if (path.rfind("/dev/", 0) == 0) {
    name = path.substr(5);
    for (char& c : name) {
      if (c == '/') c = '_';
    }
  } else {
    const auto slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
  }
  return "LCK.." + name;
}

SerialLock::Result SerialLock::Take(const std::string& devicePath, PortHolder& holder,
                                    const std::string& directory) {
  Release();
  struct stat dir {};
  if (directory.empty() || ::stat(directory.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode)) {
    return Result::kUnavailable;
  }
  const std::string lockPath = directory + "/" + SerialLockName(devicePath);
  const int self = static_cast<int>(::getpid());
  // Written whole under a name of our own, then linked into place: nobody ever reads a
  // lock that does not yet say whose it is.
  static std::atomic<unsigned> sequence{0};
  const std::string temporary =
      directory + "/LTMP." + std::to_string(self) + "." + std::to_string(sequence++);
  char line[kLockPidWidth + 2];
  std::snprintf(line, sizeof line, "%*d\n", kLockPidWidth, self);
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return Result::kUnavailable;
  const bool written = ::write(fd, line, kLockPidWidth + 1) == kLockPidWidth + 1;
  ::close(fd);
  if (!written) {
    ::unlink(temporary.c_str());
    return Result::kUnavailable;
  }
  Result result = Result::kUnavailable;
  // Twice: once more after taking over a stale lock, which another process may have
  // taken over first.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (::link(temporary.c_str(), lockPath.c_str()) == 0) {
      path_ = lockPath;
      result = Result::kTaken;
      break;
    }
    if (errno != EEXIST) break;
    const int owner = ReadLockPid(lockPath);
    if (owner > 0 && owner != self && ProcessRuns(owner)) {
      holder = PortHolder{owner, ProcessName(owner)};
      result = Result::kHeld;
      break;
    }
    // Stale: its process is gone, it names none, or it is a leftover of an earlier
    // process that had our id. The port itself is already ours alone (flock).
    ::unlink(lockPath.c_str());
  }
  ::unlink(temporary.c_str());
  return result;
}

void SerialLock::Release() {
  if (path_.empty()) return;
  if (ReadLockPid(path_) == static_cast<int>(::getpid())) ::unlink(path_.c_str());
  path_.clear();
}

}  // namespace platform
