// What tests ask of the system, the same way on Linux and on Windows: environment
// variables, a temporary directory of the test's own, a name no other run of the tests
// picks. The tests compile unchanged for both; what only POSIX has (FIFOs, a copy of the
// process, a file-size limit, a registry kept in a file) is asked for here, and a test
// that needs it skips, saying why, where the system has none (system_for_tests_*.cpp).
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <system_error>

#include "platform/dynamic_library.h"
#include "platform/environment.h"

namespace platform_test {

inline void SetEnv(const std::string& name, const std::string& value) {
  platform::SetEnvironment(name, value);
}

inline void UnsetEnv(const std::string& name) {
  platform::UnsetEnvironment(name);
}

// `prefix` and 16 random hex digits: tests running side by side never share the name.
inline std::string UniqueName(const std::string& prefix) {
  static std::mt19937_64 random{std::random_device{}()};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::uint64_t bits = random();
  std::string name = prefix;
  for (int i = 0; i < 16; ++i, bits >>= 4) name += kDigits[bits & 15];
  return name;
}

// A new, empty directory in the system's temporary directory; empty when none could be
// made. The caller removes it.
inline std::string MakeTempDir(const std::string& prefix) {
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return {};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path dir = base / UniqueName(prefix);
    // false when the name is taken: another try with other digits.
    if (std::filesystem::create_directory(dir, ec)) return dir.string();
    if (ec) return {};
  }
  return {};
}

// Whether a test may run the build machine's own tools (srec_cat as an independent
// reader of S-record files): on Linux, not under wine.
bool RunsLinuxTools();

// The running program's file, found without the module service under test.
std::string RunningProgramPath();

// What a COM name without a VELMORA_COM<n> variable stands for: /dev/ttyS<n-1> on Linux,
// the name itself (the system's own port) on Windows.
std::string DefaultComDevice(const std::string& name, unsigned number);

// An anonymous pipe as two C runtime descriptors (read end, write end), for input that a
// test types.
bool MakePipe(int ends[2]);
void WriteDescriptor(int fd, const std::string& text);
void CloseDescriptor(int fd);

// Whether this process may write a file marked read-only (root on Linux; wine runs
// everything as an administrator).
bool MayWriteReadOnlyFiles();

// FIFOs (named pipes in the file tree). MakeFifo is false when the FIFO could not be made.
bool HasFifos();
bool MakeFifo(const std::string& path);

// Whether the registry is a file of its own (the SQLite store) that outputs must not
// write over; on Windows it is the system registry.
bool RegistryIsAFile();

// A copy of this process (fork) that runs `work` and ends; Succeeded waits for it and
// tells whether work returned true.
class ProcessCopy {
 public:
  static bool Supported();
  explicit ProcessCopy(const std::function<bool()>& work);
  ~ProcessCopy();
  ProcessCopy(const ProcessCopy&) = delete;
  ProcessCopy& operator=(const ProcessCopy&) = delete;
  bool Started() const { return id_ > 0; }
  bool Succeeded();

 private:
  long id_ = -1;
};

// While it lives, a file this process writes cannot grow past `bytes`: a write beyond
// fails as on a full disk.
class FileSizeLimit {
 public:
  static bool Supported();
  explicit FileSizeLimit(std::uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool Active() const { return active_; }

 private:
  bool active_ = false;
  std::uint64_t old_[2] = {};
  void (*oldHandler_)(int) = nullptr;
};

}  // namespace platform_test
