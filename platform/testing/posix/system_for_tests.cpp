// The tests' POSIX-only services on Linux.
#include "platform/testing/system_for_tests.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace platform_test {

bool RunsLinuxTools() {
  return true;
}

std::string RunningProgramPath() {
  std::error_code ec;
  return std::filesystem::canonical("/proc/self/exe", ec).string();
}

std::string DefaultComDevice(const std::string&, unsigned number) {
  return "/dev/ttyS" + std::to_string(number - 1);
}

bool MakePipe(int ends[2]) {
  return ::pipe(ends) == 0;
}

void WriteDescriptor(int fd, const std::string& text) {
  [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
}

void CloseDescriptor(int fd) {
  ::close(fd);
}

bool MayWriteReadOnlyFiles() {
  return ::geteuid() == 0;
}

bool HasFifos() {
  return true;
}

bool MakeFifo(const std::string& path) {
  return ::mkfifo(path.c_str(), 0600) == 0;
}

bool RegistryIsAFile() {
  return true;
}

bool ProcessCopy::Supported() {
  return true;
}

ProcessCopy::ProcessCopy(const std::function<bool()>& work) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(work() ? 0 : 1);
  id_ = child;
}

ProcessCopy::~ProcessCopy() {
  if (id_ > 0) Succeeded();
}

bool ProcessCopy::Succeeded() {
  if (id_ <= 0) return false;
  int status = 0;
  const pid_t waited = ::waitpid(static_cast<pid_t>(id_), &status, 0);
  id_ = -1;
  return waited > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool FileSizeLimit::Supported() {
  return true;
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) {
  struct rlimit old {};
  if (::getrlimit(RLIMIT_FSIZE, &old) != 0) return;
  old_[0] = old.rlim_cur;
  old_[1] = old.rlim_max;
  // The signal a write past the limit raises would end the test; the write's error is
  // what the code under test must see.
  oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = old;
  limited.rlim_cur = bytes;
  active_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
  if (!active_) std::signal(SIGXFSZ, oldHandler_);
}

FileSizeLimit::~FileSizeLimit() {
  if (!active_) return;
  struct rlimit old {};
  old.rlim_cur = old_[0];
  old.rlim_max = old_[1];
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler_);
}

}  // namespace platform_test
