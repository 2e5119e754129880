// The tests' POSIX-only services on Windows: none of them is there, so the tests that
// need one skip.
#include "platform/testing/system_for_tests.h"

#include <fcntl.h>
#include <io.h>

#include "platform/win32/neutral.h"

namespace platform_test {

bool RunsLinuxTools() {
  return false;
}

std::string RunningProgramPath() {
  return platform::win32::ModulePathOf(nullptr);
}

std::string DefaultComDevice(const std::string& name, unsigned) {
  return name;
}

bool MakePipe(int ends[2]) {
  return ::_pipe(ends, 4096, _O_BINARY) == 0;
}

void WriteDescriptor(int fd, const std::string& text) {
  ::_write(fd, text.data(), static_cast<unsigned>(text.size()));
}

void CloseDescriptor(int fd) {
  ::_close(fd);
}

bool MayWriteReadOnlyFiles() {
  return true;
}

bool HasFifos() {
  return false;
}

bool MakeFifo(const std::string&) {
  return false;
}

bool RegistryIsAFile() {
  return false;
}

bool ProcessCopy::Supported() {
  return false;
}

ProcessCopy::ProcessCopy(const std::function<bool()>&) {}

ProcessCopy::~ProcessCopy() = default;

bool ProcessCopy::Succeeded() {
  return false;
}

bool FileSizeLimit::Supported() {
  return false;
}

FileSizeLimit::FileSizeLimit(std::uint64_t) {}

FileSizeLimit::~FileSizeLimit() = default;

}  // namespace platform_test
