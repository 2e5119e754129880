// A port for the run alone: UUCP lock files, the other processes that hold a port, and
// the reason a refused open gives, over pseudo-terminals and files in a temporary
// directory (never the system's /var/lock).
#include "platform/posix/port_claim.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/comm_port.h"
#include "platform/posix/comm_termios.h"
#include "platform/testing/pty_pair.h"

namespace {

namespace fs = std::filesystem;
using platform::CommPortProblem;
using platform::PortHolder;
using platform::SerialLock;
using platform_test::PtyPair;

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/port-claim-XXXXXX";
    if (::mkdtemp(name)) path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

// A child process that opens `paths` and waits until killed: another program holding a
// port. It keeps none of the test's descriptors but `keep`. Returns its pid once the
// files are open.
pid_t HoldOpen(const std::vector<std::string>& paths, int keep = -1) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (int fd = 3; fd < 1024; ++fd) {
      if (fd != keep && fd != ready[1]) ::close(fd);
    }
    for (const auto& path : paths) {
      if (::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) < 0) ::_exit(1);
    }
    const char one = 1;
    (void)!::write(ready[1], &one, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char got = 0;
  const bool ok = ::read(ready[0], &got, 1) == 1;
  ::close(ready[0]);
  if (!ok) {
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

// A process id that no process has: a child that has ended and been waited for.
pid_t DeadPid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

std::string LockLine(pid_t pid) {
  char line[16];
  std::snprintf(line, sizeof line, "%10d\n", static_cast<int>(pid));
  return line;
}

class PortClaimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    ASSERT_TRUE(pty.ok());
    ::setenv("VELMORA_LOCK_DIR", dir.path().c_str(), 1);
  }

  DWORD Open(const std::string& path) {
    port.reset();
    return platform::OpenCommPort(path, port);
  }
  std::string Problem(const std::string& path) { return platform::LastCommPortProblem(path).text; }

  TempDir dir;
  PtyPair pty;
  std::unique_ptr<platform::CommPort> port;
};

TEST_F(PortClaimTest, TheLockNamesThePortAndHoldsOurProcessIdWhileTheRunHasIt) {
  EXPECT_EQ(platform::SerialLockName("/dev/ttyUSB0"), "LCK..ttyUSB0");
  EXPECT_EQ(platform::SerialLockName("/dev/pts/7"), "LCK..pts_7");
  EXPECT_EQ(platform::SerialLockName("/nowhere/ttyX"), "LCK..ttyX");
  {
    SerialLock lock;
    PortHolder holder;
    ASSERT_EQ(lock.Take(pty.slavePath(), holder, dir.path()), SerialLock::Result::kTaken);
    EXPECT_EQ(ReadFile(lock.Path()), LockLine(::getpid()));
    EXPECT_EQ(lock.Path(), dir.path() + "/" + platform::SerialLockName(pty.slavePath()));
  }
  // Released with the object, and nothing else left in the directory.
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(PortClaimTest, ALiveOwnerKeepsItsLockAndAStaleOneIsTakenOver) {
  const std::string lockPath = dir.path() + "/" + platform::SerialLockName(pty.slavePath());
  // owner's lock file contents, whether it is still held
  struct Row {
    std::string contents;
    bool held;
  };
  const Row rows[] = {
      {LockLine(1), true},            // init runs for as long as the system does
      {"1\n", true},                  // without the padding
      {LockLine(DeadPid()), false},   // its process has ended
      {"", false},                    // names nobody
      {"not a process id\n", false},  //
      {LockLine(::getpid()), false},  // a leftover with our id: the port is ours
  };
  for (const Row& row : rows) {
    WriteFile(lockPath, row.contents);
    SerialLock lock;
    PortHolder holder;
    const auto result = lock.Take(pty.slavePath(), holder, dir.path());
    if (row.held) {
      EXPECT_EQ(result, SerialLock::Result::kHeld) << row.contents;
      EXPECT_EQ(holder.pid, 1) << row.contents;
      EXPECT_EQ(ReadFile(lockPath), row.contents) << "a held lock is left as it is";
    } else {
      EXPECT_EQ(result, SerialLock::Result::kTaken) << row.contents;
      EXPECT_EQ(ReadFile(lockPath), LockLine(::getpid())) << row.contents;
    }
  }
}

TEST_F(PortClaimTest, WithoutALockDirectoryThePortIsStillUsable) {
  SerialLock lock;
  PortHolder holder;
  EXPECT_EQ(lock.Take(pty.slavePath(), holder, dir.path() + "/missing"),
            SerialLock::Result::kUnavailable);
  ::setenv("VELMORA_LOCK_DIR", (dir.path() + "/missing").c_str(), 1);
  EXPECT_EQ(Open(pty.slavePath()), ERROR_SUCCESS);
}

TEST_F(PortClaimTest, AnotherProcessHoldingThePortIsFoundAndAPtyServerIsNot) {
  struct stat st {};
  ASSERT_EQ(::stat(pty.slavePath().c_str(), &st), 0);
  EXPECT_TRUE(platform::FindPortHolders(st.st_rdev).empty()) << "this process is never listed";

  const pid_t user = HoldOpen({pty.slavePath()});
  ASSERT_GT(user, 0);
  auto holders = platform::FindPortHolders(st.st_rdev);
  Stop(user);
  ASSERT_EQ(holders.size(), 1u);
  EXPECT_EQ(holders[0].pid, user);
  EXPECT_FALSE(holders[0].name.empty());

  // A process that holds the master of the same pseudo-terminal serves it: its end of the
  // slave is no user of the port.
  const pid_t server = HoldOpen({pty.slavePath()}, pty.master());
  ASSERT_GT(server, 0);
  holders = platform::FindPortHolders(st.st_rdev);
  Stop(server);
  EXPECT_TRUE(holders.empty());

  // The master of another pseudo-terminal does not make a server.
  const pid_t stranger = HoldOpen({"/dev/ptmx", pty.slavePath()});
  ASSERT_GT(stranger, 0);
  holders = platform::FindPortHolders(st.st_rdev);
  Stop(stranger);
  EXPECT_EQ(holders.size(), 1u) << "the master of another pty does not make a server";
}

TEST_F(PortClaimTest, APortHeldElsewhereIsRefusedBeforeAnyByteNamingTheProcess) {
  const pid_t user = HoldOpen({pty.slavePath()});
  ASSERT_GT(user, 0);
  const DWORD error = Open(pty.slavePath());
  const std::string why = Problem(pty.slavePath());
  Stop(user);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_EQ(port, nullptr);
  EXPECT_EQ(why.rfind(pty.slavePath() + " is in use by process " + std::to_string(user) + " (", 0),
            0u)
      << why;
  // Nothing reached the line.
  EXPECT_TRUE(pty.Receive(1, 50).empty());
  // Once it is gone the port opens, and an earlier refusal is forgotten.
  EXPECT_EQ(Open(pty.slavePath()), ERROR_SUCCESS);
  EXPECT_EQ(Problem(pty.slavePath()), "");
}

TEST_F(PortClaimTest, ALockOfALiveProcessRefusesThePortAndOursIsRemovedAtClose) {
  const std::string lockPath = dir.path() + "/" + platform::SerialLockName(pty.slavePath());
  WriteFile(lockPath, LockLine(1));
  EXPECT_EQ(Open(pty.slavePath()), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Problem(pty.slavePath()),
            pty.slavePath() + " is in use by process 1 (" + platform::ProcessName(1) + ")");
  fs::remove(lockPath);
  ASSERT_EQ(Open(pty.slavePath()), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(lockPath), LockLine(::getpid()));
  // A second open in this process is refused by the first's hold, and leaves its lock.
  std::unique_ptr<platform::CommPort> second;
  EXPECT_EQ(platform::OpenCommPort(pty.slavePath(), second), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadFile(lockPath), LockLine(::getpid()));
  port.reset();
  EXPECT_FALSE(fs::exists(lockPath));
}

TEST_F(PortClaimTest, WhatIsNoPortSaysSo) {
  const std::string file = dir.path() + "/capture.bin";
  WriteFile(file, "data");
  const std::string missing = dir.path() + "/ttyUSB9";
  // path, error, reason, no such port
  struct Row {
    std::string path;
    DWORD error;
    std::string why;
    bool noSuchPort;
  };
  const Row rows[] = {
      {file, ERROR_NOT_SUPPORTED, file + " is not a serial port (a regular file)", false},
      {"/dev/null", ERROR_NOT_SUPPORTED, "/dev/null is not a serial port", false},
      {dir.path(), ERROR_NOT_SUPPORTED, dir.path() + " is not a serial port (a directory)", false},
      {missing, ERROR_FILE_NOT_FOUND, missing + " does not exist", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Open(row.path), row.error) << row.path;
    const CommPortProblem problem = platform::LastCommPortProblem(row.path);
    EXPECT_EQ(problem.text, row.why);
    EXPECT_EQ(problem.noSuchPort, row.noSuchPort) << row.path;
  }
  EXPECT_EQ(std::string(ReadFile(file)), "data") << "a file taken for a port is left as it was";
}

TEST_F(PortClaimTest, AProblemReachesTheListenerOnTheThreadThatMetIt) {
  std::vector<std::string> heard;
  auto previous = platform::SetCommProblemListener(
      [&heard](const std::string& text) { heard.push_back(text); });
  EXPECT_NE(Open("/dev/null"), ERROR_SUCCESS);
  platform::SetCommProblemListener(previous);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], "/dev/null is not a serial port");
}

}  // namespace
