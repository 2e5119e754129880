// Linux only: taking a serial port for one program alone, and finding who else has it.
// The kernel's exclusive flag stops unprivileged opens only, and programs that share a
// port by convention look for a UUCP lock file ("LCK..ttyUSB0" in /var/lock holding the
// owner's process id); neither is seen by a program that ignores both, so a port is also
// looked up among the open files of every process the system lets us see.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

// A process other than this one with the port open.
struct PortHolder {
  int pid = 0;
  std::string name;  // the command name from /proc, or empty when it cannot be read
};

// "process 4242 (minicom)", or "process 4242" without a name.
std::string DescribeHolder(const PortHolder& holder);

// The command name of process `pid` ("minicom"); empty when it cannot be read.
std::string ProcessName(int pid, const std::string& procRoot = "/proc");

// Processes other than this one that hold the character device `device` open. A
// process that also holds the master of the same pseudo-terminal is its server (a
// simulator, socat, a test's peer), which keeps the other end open by design: it is no
// user of the port and is left out. `procRoot` stands for /proc in tests. Processes whose
// open files the system does not show us are not found.
std::vector<PortHolder> FindPortHolders(dev_t device, const std::string& procRoot = "/proc");

// Where UUCP lock files go: $VELMORA_LOCK_DIR when set (tests), else /var/lock.
std::string SerialLockDirectory();

// The lock file's name for a device path: "LCK..ttyUSB0"; below /dev the rest of the
// real path with '/' as '_' ("LCK..pts_3"), elsewhere the path's last component.
std::string SerialLockName(const std::string& devicePath);

// The UUCP lock of one port, held while the object lives.
class SerialLock {
 public:
  SerialLock() = default;
  ~SerialLock() { Release(); }
  SerialLock(const SerialLock&) = delete;
  SerialLock& operator=(const SerialLock&) = delete;

  enum class Result {
    kTaken,       // ours until Release
    kHeld,        // a live process holds it: `holder` says which
    kUnavailable  // no lock directory, or no right to write there: go on without
  };
  // Takes the lock for `devicePath` in `directory`. A lock left by a process that no
  // longer runs, or one whose contents name none, is stale and taken over.
  Result Take(const std::string& devicePath, PortHolder& holder,
              const std::string& directory = SerialLockDirectory());
  // Removes the lock file if it is still ours.
  void Release();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace platform
