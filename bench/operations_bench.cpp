// The three operations end to end, through DevKV70.so's exports against the simulated
// KV70 in virtual time, at the line speeds the protocol uses (9600 bit/s until the switch,
// 38400 after).
//
// Two modes, named by the first argument; without one both run.
//
// "phases", per operation: the whole run's virtual time, and its transfer phase (the
// configuration read; the dump's read requests; the upgrade's program requests) against
// its floor: every byte that crossed the line in that phase at 10 bits a byte at the
// speed in force, plus the fixed waits the plug-in made in it. Both directions count:
// each request waits for its reply, so replies lie on the critical path too.
//
// "cost", in a child process per size (the least CPU of three): real CPU seconds and peak memory
// growth of a dump of 1, 4 and 16 MiB, and of programming 1, 4 and 16 MiB. Program flash holds 2
// MiB, so 4 and 16 MiB are 2 and 8 upgrades of a 2 MiB image in one process: a cost that grew with
// the bytes already moved would show there as well.
//
// Every line of the table is also printed as "ROW|section|what|measured|floor|ratio|limit|verdict"
// for bench/run-bench.sh. Exit status 1 when a limit is broken or a result is wrong.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "bench/process_stats.h"
#include "sim/sim_port.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/e2e/upgrade_image.h"
#include "tests/fault_matrix/operation_runs.h"
#include "framework/uimodel.h"

namespace {

namespace fs = std::filesystem;
namespace up = kv70::upgrade;
using kv70::matrix::WireEvent;
using Bytes = std::vector<std::uint8_t>;

constexpr double kDumpLimit = 1.02;
constexpr double kProgramLimit = 1.05;
// CPU seconds per MiB of the largest size against the smallest: "flat" within this.
constexpr double kFlatLimit = 1.5;
constexpr std::uint8_t kProgram = 0x03;
constexpr std::uint8_t kRead = 0x05;
constexpr std::uint8_t kReadConfig = 0x06;

bool gFailed = false;

void Row(const char* section, const std::string& what, const std::string& measured, const std::string& floor,
         double ratio, double limit, bool ok) {
  char ratioText[32] = "", limitText[32] = "";
  if (ratio > 0) std::snprintf(ratioText, sizeof ratioText, "%.4f", ratio);
  if (limit > 0) std::snprintf(limitText, sizeof limitText, "<= %.2f", limit);
  std::printf("ROW|%s|%s|%s|%s|%s|%s|%s\n", section, what.c_str(), measured.c_str(), floor.c_str(), ratioText,
              limitText, ok ? "ok" : "OVER");
  if (!ok) gFailed = true;
}

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

using bench::CpuSeconds;
using bench::StatusKb;

// Peak resident size back to the current one, so that a later peak is the run's own.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

Bytes RandomBytes(std::size_t size, std::uint64_t seed) {
  Bytes out(size);
  std::mt19937_64 random(seed);
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint64_t r = random();
    std::memcpy(out.data() + i, &r, 8);
  }
  return out;
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A harness with a timed tap and a clock that notes the plug-in's fixed waits.
struct TimedRun {
  kv70::e2e::Harness h;
  kv70::matrix::TimedTap tap{h.Clock()};
  kv70::matrix::WaitRecordingClock clock{h.Clock(), tap.events, tap.mutex};
  platform::ScopedClock useClock{clock};
  fs::path dir;

  TimedRun() {
    dir = fs::temp_directory_path() / ("kv70_operations_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    h.Ui().SetQuestionAnswer(IDYES);
  }
  ~TimedRun() {
    platform::SetWireTap(nullptr);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

struct Phase {
  double seconds = 0;
  double floorSeconds = 0;
  std::uint64_t bytes = 0;
  std::uint64_t waitMs = 0;
  std::size_t requests = 0;
};

double ByteSeconds(std::uint64_t bytes, std::uint32_t speed) { return static_cast<double>(bytes) * 10.0 / speed; }

// The stretch from the first request with `command` to the last byte read before the
// next request of another command (or the end); `from`..`to` in virtual microseconds.
Phase TransferPhase(const std::vector<WireEvent>& events, std::uint8_t command) {
  auto isRequest = [command](const WireEvent& e) {
    return e.kind == WireEvent::Write && e.bytes.size() >= 4 && e.bytes[0] == 0x02 && e.bytes[1] == command;
  };
  std::size_t first = events.size(), last = events.size();
  std::uint32_t speed = 9600;
  std::uint32_t speedAtFirst = 9600;
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i].kind == WireEvent::Speed) speed = events[i].count;
    if (isRequest(events[i])) {
      if (first == events.size()) {
        first = i;
        speedAtFirst = speed;
      }
      last = i;
    }
  }
  Phase phase;
  if (first == events.size()) return phase;
  std::size_t end = last;
  for (std::size_t i = last + 1; i < events.size(); ++i) {
    if (events[i].kind == WireEvent::Write) break;
    if (events[i].kind == WireEvent::Read) end = i;
  }
  // The tap sees a write when its last byte has crossed: the phase began that long before.
  const double startUs = static_cast<double>(events[first].us) - ByteSeconds(events[first].count, speedAtFirst) * 1e6;
  phase.seconds = (static_cast<double>(events[end].us) - startUs) / 1e6;
  speed = speedAtFirst;
  for (std::size_t i = first; i <= end; ++i) {
    const WireEvent& e = events[i];
    if (e.kind == WireEvent::Speed) speed = e.count;
    if (e.kind == WireEvent::Write || e.kind == WireEvent::Read) {
      phase.bytes += e.count;
      phase.floorSeconds += ByteSeconds(e.count, speed);
    }
    if (e.kind == WireEvent::Wait) {
      phase.waitMs += e.count;
      phase.floorSeconds += e.count / 1000.0;
    }
    if (isRequest(e)) ++phase.requests;
  }
  return phase;
}

// A whole run's line time (all bytes at their speeds) and fixed waits. They overlap where
// the device talks while the plug-in waits, so their sum is no floor; shown for scale.
void LineAndWaits(const std::vector<WireEvent>& events, double& lineSeconds, double& waitSeconds) {
  lineSeconds = waitSeconds = 0;
  std::uint32_t speed = 9600;
  for (const WireEvent& e : events) {
    if (e.kind == WireEvent::Speed) speed = e.count;
    if (e.kind == WireEvent::Write || e.kind == WireEvent::Read) lineSeconds += ByteSeconds(e.count, speed);
    if (e.kind == WireEvent::Wait) waitSeconds += e.count / 1000.0;
  }
}

// Runs one operation with the tap in force; false (and a message) when it did not succeed.
bool TimedOperation(TimedRun& t, int operation, double& totalSeconds) {
  {
    std::lock_guard lock(t.tap.mutex);
    t.tap.events.clear();
  }
  platform::SetWireTap(&t.tap);
  const std::uint64_t start = t.h.Clock().NowUs();
  const kv70::e2e::RunOutcome run = t.h.Run(operation);
  totalSeconds = static_cast<double>(t.h.Clock().NowUs() - start) / 1e6;
  platform::SetWireTap(nullptr);
  if (run.result != OPERATION_SUCCEEDED) {
    std::fprintf(stderr, "operation %d ended with %d: %s\n", operation, run.result,
                 run.statuses.empty() ? "" : run.statuses.back().c_str());
    return false;
  }
  return true;
}

void ReportOperation(const char* name, const std::vector<WireEvent>& events, double total, std::uint8_t command,
                     const char* phaseName, double limit) {
  double line = 0, waits = 0;
  LineAndWaits(events, line, waits);
  Row("operation", std::string(name) + ": whole run", Seconds(total),
      "line " + Seconds(line) + ", fixed waits " + Seconds(waits), 0, 0, true);
  const Phase p = TransferPhase(events, command);
  char floor[96];
  std::snprintf(floor, sizeof floor, "%s (%zu requests, %llu bytes, %llu ms waits)", Seconds(p.floorSeconds).c_str(),
                p.requests, static_cast<unsigned long long>(p.bytes), static_cast<unsigned long long>(p.waitMs));
  const double ratio = p.floorSeconds > 0 ? p.seconds / p.floorSeconds : 0;
  Row("operation", std::string(name) + ": " + phaseName, Seconds(p.seconds), floor, ratio, limit,
      p.requests > 0 && (limit <= 0 || ratio <= limit));
}

void PhaseTable() {
  TimedRun t;
  double total = 0;

  t.h.UseDevice("");
  t.h.Ui().QueueDialog(IDD_CONFIGURATION, [](CDialog& d) { uimodel::ClickButton(d, IDOK); });
  if (!TimedOperation(t, kv70::e2e::kConfigRetrieval, total)) gFailed = true;
  else ReportOperation("configuration retrieval", t.tap.events, total, kReadConfig, "record read", 0);

  const Bytes image = RandomBytes(1 << 20, 70);
  WriteFile(t.dir / "flash.bin", image);
  const fs::path log = t.dir / "kv70.log";
  t.h.UseDevice("fs-mb=1,fs-image=" + (t.dir / "flash.bin").string());
  if (!kv70::matrix::ChooseLogFile(t.h, log.string()) || !TimedOperation(t, kv70::e2e::kFileSystemDump, total)) {
    gFailed = true;
  } else {
    if (ReadFile(log) != image) {
      std::fprintf(stderr, "the 1 MiB dump's log file is not the flash\n");
      gFailed = true;
    }
    ReportOperation("dump 1 MiB", t.tap.events, total, kRead, "read requests", kDumpLimit);
  }

  up::ImageOptions options;   // the whole 2 MiB of program flash, with gaps
  const up::Image firmware = up::MakeImage(options);
  const fs::path file = t.dir / "application.x";
  up::WriteImage(firmware, file.string());
  t.h.UseDevice("");
  if (!kv70::matrix::OfferFirmware(t.h, "KV70 application", file.string()) ||
      !TimedOperation(t, kv70::e2e::kSoftwareUpgrade, total)) {
    gFailed = true;
  } else {
    char name[64];
    std::snprintf(name, sizeof name, "upgrade %.1f MiB", firmware.dataBytes / 1048576.0);
    ReportOperation(name, t.tap.events, total, kProgram, "program requests", kProgramLimit);
  }
}

// --- The "cost" mode: one size in a child process.

struct Cost {
  double cpu = 0;
  long peakGrowthKb = 0;
  bool ok = false;
};

Cost DumpCost(unsigned mb) {
  TimedRun t;
  Cost cost;
  const Bytes image = RandomBytes(static_cast<std::size_t>(mb) << 20, 7 + mb);
  WriteFile(t.dir / "flash.bin", image);
  const fs::path log = t.dir / "kv70.log";
  if (!kv70::matrix::ChooseLogFile(t.h, log.string())) return cost;
  // The simulated device exists before the run, so its flash is not the plug-in's cost.
  const std::string device = "name=cost,fs-mb=" + std::to_string(mb) + ",fs-image=" + (t.dir / "flash.bin").string();
  {
    std::unique_ptr<platform::CommPort> port;
    if (kv70sim::OpenSimPort(device, port) != ERROR_SUCCESS) return cost;
  }
  t.h.UseDevice("name=cost");
  ResetPeak();
  const long baseKb = StatusKb("VmRSS");
  const double cpu = CpuSeconds();
  const kv70::e2e::RunOutcome run = t.h.Run(kv70::e2e::kFileSystemDump);
  cost.cpu = CpuSeconds() - cpu;
  cost.peakGrowthKb = StatusKb("VmHWM") - baseKb;
  cost.ok = run.result == OPERATION_SUCCEEDED && ReadFile(log) == image;
  return cost;
}

Cost ProgramCost(unsigned mb) {
  TimedRun t;
  Cost cost;
  up::ImageOptions options;
  const unsigned perRun = mb < 2 ? mb : 2;
  options.end = up::kProgramFlash + perRun * 0x100000u;
  options.gapOneIn = 1000000;   // solid: the megabytes programmed are the megabytes asked for
  const up::Image firmware = up::MakeImage(options);
  const fs::path file = t.dir / "application.x";
  up::WriteImage(firmware, file.string());
  if (!kv70::matrix::OfferFirmware(t.h, "KV70 application", file.string())) return cost;
  {
    std::unique_ptr<platform::CommPort> port;
    if (kv70sim::OpenSimPort("name=cost", port) != ERROR_SUCCESS) return cost;
  }
  t.h.UseDevice("name=cost");
  ResetPeak();
  const long baseKb = StatusKb("VmRSS");
  const double cpu = CpuSeconds();
  cost.ok = true;
  for (unsigned done = 0; done < mb; done += perRun) {
    const kv70::e2e::RunOutcome run = t.h.Run(kv70::e2e::kSoftwareUpgrade);
    if (run.result != OPERATION_SUCCEEDED) cost.ok = false;
  }
  cost.cpu = CpuSeconds() - cpu;
  cost.peakGrowthKb = StatusKb("VmHWM") - baseKb;
  auto sim = t.h.Simulator("cost");
  if (!sim) return Cost{};
  std::lock_guard lock(sim->Mutex());
  const auto flash = sim->ProgFlash();
  for (const auto& r : firmware.records)
    if (!std::equal(r.data.begin(), r.data.end(), flash.begin() + (r.address - up::kProgramFlash))) cost.ok = false;
  return cost;
}

// Runs `measure` in a child so that each size has a peak of its own.
Cost InChild(Cost (*measure)(unsigned), unsigned mb) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    const Cost cost = measure(mb);
    const ssize_t written = ::write(pipeFds[1], &cost, sizeof cost);
    ::_exit(written == sizeof cost ? 0 : 1);
  }
  ::close(pipeFds[1]);
  Cost cost;
  const ssize_t got = pid > 0 ? ::read(pipeFds[0], &cost, sizeof cost) : -1;
  ::close(pipeFds[0]);
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
  if (got != sizeof cost) return {};
  return cost;
}

void CostTable(const char* what, Cost (*measure)(unsigned)) {
  const unsigned sizes[] = {1, 4, 16};
  double firstPerMb = 0;
  for (unsigned mb : sizes) {
    // The least CPU of three runs: other work on the machine only ever adds to it.
    Cost c = InChild(measure, mb);
    for (int again = 0; again < 2 && c.ok; ++again) {
      const Cost more = InChild(measure, mb);
      c.ok = more.ok;
      c.cpu = std::min(c.cpu, more.cpu);
      c.peakGrowthKb = std::max(c.peakGrowthKb, more.peakGrowthKb);
    }
    const double perMb = c.cpu / mb;
    if (mb == 1) firstPerMb = perMb;
    char measured[96], floor[96];
    std::snprintf(measured, sizeof measured, "%.3f s CPU/MiB", perMb);
    std::snprintf(floor, sizeof floor, "peak +%ld KiB (%.0f KiB/MiB)", c.peakGrowthKb,
                  static_cast<double>(c.peakGrowthKb) / mb);
    const double flatness = firstPerMb > 0 ? perMb / firstPerMb : 0;
    if (!c.ok) std::fprintf(stderr, "%s %u MiB: the run failed or its result was wrong\n", what, mb);
    Row("cost", std::string(what) + " " + std::to_string(mb) + " MiB", measured, floor, mb == 1 ? 0 : flatness,
        mb == 1 ? 0 : kFlatLimit, c.ok && (mb == 1 || flatness <= kFlatLimit));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  if (only.empty() || only == "phases") PhaseTable();
  if (only.empty() || only == "cost") {
    CostTable("dump", DumpCost);
    CostTable("programming", ProgramCost);
  }
  return gFailed ? 1 : 0;
}
