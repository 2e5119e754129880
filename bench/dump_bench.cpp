// The file-system dump's reading against the simulated KV70, in virtual time: a 1 MiB
// dump's virtual time against the floor of the bytes that must cross the line at
// 38400 bit/s (10 bits a byte: per 1024-byte block a 14-byte request and a 1031-byte
// reply), then real CPU seconds and peak memory of a 16 MiB dump beside those of the
// 1 MiB one. Exits 1 when the ratio is above 1.02, a log file is not the flash, or the
// larger dump needs more memory than the smaller one (beyond a small allowance).
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/process_stats.h"
#include "device/kv70_device.h"
#include "platform/clock.h"
#include "protocol/testing/test_run.h"
#include "reporting/failures.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"
#include "sim/sim_port.h"

namespace {

constexpr double kMaxRatio = 1.02;
constexpr double kSecondsPerByte = 10.0 / 38400;
constexpr std::uint64_t kRequestBytes = 14;
constexpr std::uint64_t kReplyBytes = 1024 + 7;
constexpr std::uint64_t kBlocksPerMb = 1024;
// Growth of the peak, beyond the 1 MiB dump's and besides the simulator's event log,
// that still counts as "no growth" (allocator and page granularity).
constexpr long kMemoryAllowanceKb = 512;

using bench::CpuSeconds;
using bench::StatusKb;

// Sets the peak resident size back to the current one.
bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

struct Dump {
  bool ok = false;
  double virtualS = 0;
  double cpuS = 0;
  long peakGrowthKb = -1;  // peak resident size during the dump beyond the size before it
  long simLogKb = 0;       // of which the simulator's event log, which keeps every request
};

long EventLogKb(const kv70sim::Device& device) {
  return static_cast<long>(device.Events().capacity() * sizeof(kv70sim::Event) / 1024);
}

Dump RunDump(platform::VirtualClock& clock, unsigned mb, const std::string& logPath) {
  Dump d;
  setenv("VELMORA_COM1", ("sim:state=monitor,fs-mb=" + std::to_string(mb)).c_str(), 1);
  kv70test::TestRun run;
  CSerialCom port;
  try {
    port.Open(1, 1, 0, 0, 6);
    CKV70Device device(port, run.record);
    device.SetReadOnly(1);
    device.Connect();
    const long logBefore = EventLogKb(*kv70sim::LastInstance());
    const bool peakReset = ResetPeak();
    const long before = StatusKb("VmRSS");
    const std::uint64_t startUs = clock.NowUs();
    const double cpuStart = CpuSeconds();
    device.ReadFileSystem(logPath.c_str());
    d.cpuS = CpuSeconds() - cpuStart;
    d.virtualS = static_cast<double>(clock.NowUs() - startUs) / 1e6;
    if (peakReset && before >= 0) d.peakGrowthKb = StatusKb("VmHWM") - before;
    d.simLogKb = EventLogKb(*kv70sim::LastInstance()) - logBefore;

    std::ifstream in(logPath, std::ios::binary);
    const std::vector<char> log((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
    const auto flash = kv70sim::LastInstance()->FsFlash();
    d.ok = log.size() == flash.size() &&
           std::equal(log.begin(), log.end(), reinterpret_cast<const char*>(flash.data()));
  } catch (CException* e) {
    char text[512] = {};
    e->GetErrorMessage(text, sizeof text);
    std::fprintf(stderr, "dump_bench: %s\n", text);
    e->Delete();
  }
  port.Close();
  std::filesystem::remove(logPath);
  kv70sim::ForgetInstances();
  return d;
}

}  // namespace

int main() {
  kv70::testing::UseKV70Resources();
  platform::VirtualClock clock;
  platform::ScopedClock useClock(clock);
  kv70sim::RegisterInProcessBackend();
  const std::string logPath = (std::filesystem::temp_directory_path() /
                               ("kv70_dump_bench_" + std::to_string(::getpid()) + ".log"))
                                  .string();

  const Dump one = RunDump(clock, 1, logPath);
  const Dump sixteen = RunDump(clock, 16, logPath);
  unsetenv("VELMORA_COM1");

  const double floorS =
      static_cast<double>(kBlocksPerMb * (kRequestBytes + kReplyBytes)) * kSecondsPerByte;
  const double ratio = one.virtualS / floorS;
  std::printf(
      "1 MiB dump: %.2f s virtual; floor at 38400 bit/s %.2f s (%llu blocks of %llu + %llu bytes); "
      "ratio %.4f (limit %.2f)\n",
      one.virtualS, floorS, static_cast<unsigned long long>(kBlocksPerMb),
      static_cast<unsigned long long>(kRequestBytes), static_cast<unsigned long long>(kReplyBytes),
      ratio, kMaxRatio);
  std::printf("1 MiB dump: %.3f s CPU, peak memory +%ld kB (simulator's event log +%ld kB)\n",
              one.cpuS, one.peakGrowthKb, one.simLogKb);
  std::printf(
      "16 MiB dump: %.2f s virtual, %.3f s CPU, peak memory +%ld kB (simulator's event log +%ld "
      "kB)\n",
      sixteen.virtualS, sixteen.cpuS, sixteen.peakGrowthKb, sixteen.simLogKb);

  int status = 0;
  if (!one.ok || !sixteen.ok) {
    std::printf("FAILED: a log file is not the simulator's file-system flash\n");
    status = 1;
  }
  if (ratio > kMaxRatio) {
    std::printf("FAILED: ratio above %.2f\n", kMaxRatio);
    status = 1;
  }
  // The simulator's log is the device's side; the rest must not grow with the dump.
  const long oneOwn = one.peakGrowthKb - one.simLogKb;
  const long sixteenOwn = sixteen.peakGrowthKb - sixteen.simLogKb;
  if (one.peakGrowthKb >= 0 && sixteen.peakGrowthKb >= 0 &&
      sixteenOwn > oneOwn + kMemoryAllowanceKb) {
    std::printf("FAILED: the 16 MiB dump's peak grew %ld kB beyond the 1 MiB dump's\n",
                sixteenOwn - oneOwn);
    status = 1;
  }
  return status;
}
