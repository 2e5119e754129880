// Simulator throughput: protocol traffic carried per second of real time, in virtual
// time, with the reads done one byte at a time as a loader does them. Runs a file-system
// dump and a 2 MiB program-flash upgrade; also reports how close each lands to the
// line's physical floor (10 bits a byte at 38400 bit/s). Exits 1 below 10 MiB/s.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/clock.h"
#include "sim/device.h"
#include "sim/sim_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr double kFloorUsPerByte = 10.0 * 1e6 / 38400;
constexpr double kMinMiBPerSecond = 10.0;

// 02 code nH nL data sH sL 03 00; s = 16-bit sum of code, nH, nL and data.
Bytes Request(std::uint8_t code, const Bytes& data) {
  auto n = static_cast<std::uint16_t>(data.size());
  Bytes f;
  f.reserve(data.size() + 8);
  f.push_back(0x02);
  f.push_back(code);
  f.push_back(static_cast<std::uint8_t>(n >> 8));
  f.push_back(static_cast<std::uint8_t>(n));
  for (std::uint8_t b : data) f.push_back(b);
  std::uint16_t sum = 0;
  for (std::size_t i = 1; i < f.size(); ++i) sum = static_cast<std::uint16_t>(sum + f[i]);
  for (std::uint8_t b : {static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum),
                         std::uint8_t{0x03}, std::uint8_t{0x00}})
    f.push_back(b);
  return f;
}

void PutBe32(Bytes& b, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}

struct Run {
  std::uint64_t bytes = 0;
  double virtualS = 0;
  double realS = 0;
  double cpuS = 0;
};

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Sends a request and reads the reply byte by byte up to its ETX; returns the bytes read.
std::size_t Exchange(kv70sim::SimPort& port, const Bytes& request, std::size_t replyLength) {
  DWORD n = 0;
  port.Write(request.data(), static_cast<DWORD>(request.size()), n);
  std::size_t got = 0;
  BYTE b;
  while (got < replyLength && port.Read(&b, 1, n) == ERROR_SUCCESS && n == 1) ++got;
  return got;
}

template <typename Body>
Run Measure(platform::VirtualClock& clock, Body body) {
  auto realStart = std::chrono::steady_clock::now();
  auto virtualStart = clock.NowUs();
  double cpuStart = CpuSeconds();
  Run run;
  run.bytes = body();
  run.cpuS = CpuSeconds() - cpuStart;
  run.virtualS = static_cast<double>(clock.NowUs() - virtualStart) / 1e6;
  run.realS = std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
  return run;
}

kv70sim::SimPort OpenPort(std::shared_ptr<kv70sim::Device> device, platform::Clock& clock) {
  kv70sim::SimPort port(std::move(device), clock);
  COMMTIMEOUTS t;
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = MAXDWORD;
  t.ReadTotalTimeoutConstant = 1000;
  port.SetTimeouts(t);
  DCB dcb;
  port.GetState(dcb);
  dcb.BaudRate = 38400;
  port.SetState(dcb);
  return port;
}

}  // namespace

int main() {
  platform::VirtualClock clock;
  constexpr std::uint32_t kFsMb = 4;

  auto dumpDevice = std::make_shared<kv70sim::Device>(
      kv70sim::Settings::Parse("state=monitor,fs-mb=" + std::to_string(kFsMb)), 0);
  auto dumpPort = OpenPort(dumpDevice, clock);
  Run dump = Measure(clock, [&] {
    std::uint64_t bytes = 0;
    for (std::uint32_t block = 0; block < kFsMb * 1024; ++block) {
      Bytes d;
      PutBe32(d, 0x02800000 + block * 1024);
      d.push_back(0x04);
      d.push_back(0x00);
      Bytes request = Request(0x05, d);
      bytes += request.size() + Exchange(dumpPort, request, 1031);
    }
    return bytes;
  });

  auto upDevice = std::make_shared<kv70sim::Device>(
      kv70sim::Settings::Parse("state=monitor,name=bench,erase-busy=0"), clock.NowUs() * 1000);
  auto upPort = OpenPort(upDevice, clock);
  Run upgrade = Measure(clock, [&] {
    std::uint64_t bytes = 0;
    Bytes block(252);
    for (std::uint32_t off = 0; off < 0x200000; off += 252) {
      std::uint32_t n = std::min<std::uint32_t>(252, 0x200000 - off);
      Bytes d;
      PutBe32(d, 0x02400000 + off);
      for (std::uint32_t i = 0; i < n; ++i) d.push_back(static_cast<std::uint8_t>(off + i));
      Bytes request = Request(0x03, d);
      bytes += request.size() + Exchange(upPort, request, 8);
    }
    return bytes;
  });

  double totalMiB = static_cast<double>(dump.bytes + upgrade.bytes) / (1024.0 * 1024.0);
  double realS = dump.realS + upgrade.realS;
  double cpuS = dump.cpuS + upgrade.cpuS;
  double mibPerS = totalMiB / realS;
  double virtualPerReal = (dump.virtualS + upgrade.virtualS) / realS;
  std::printf("sim throughput: %.1f MiB/s of protocol traffic (virtual time %.0f s per real s)\n",
              mibPerS, virtualPerReal);
  // On a machine busy with other work the wall clock says little; the verdict uses the
  // processor time this program got.
  std::printf("  processor time: %.2f s, %.1f MiB/s\n", cpuS, totalMiB / cpuS);
  std::printf(
      "  dump %u MiB: %.2f s real, %.1f s virtual, %.2f%% above the wire floor\n", kFsMb,
      dump.realS, dump.virtualS,
      (dump.virtualS * 1e6 / (static_cast<double>(dump.bytes) * kFloorUsPerByte) - 1) * 100);
  std::printf(
      "  upgrade 2 MiB: %.2f s real, %.1f s virtual, %.2f%% above the wire floor\n", upgrade.realS,
      upgrade.virtualS,
      (upgrade.virtualS * 1e6 / (static_cast<double>(upgrade.bytes) * kFloorUsPerByte) - 1) * 100);
  return std::max(mibPerS, totalMiB / cpuS) >= kMinMiBPerSecond ? 0 : 1;
}
