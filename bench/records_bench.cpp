// What the service records cost, measured on velmora itself: what a run's record costs
// the run (the time the run stands at the record's gate waiting for the begun record, and
// the finish with the log file's fingerprint), the raw write of a record in the registry
// database, and reading a dump's wire trace back through the line decoder. Goals: under
// 5 ms of a run's time per record; over 50 MiB/s of dumped data through the decoder, the
// trace's own text reading included.
//
// The decoder's rate comes from the traces of a 1 MiB and an 8 MiB dump: the difference
// of the two times over the 7 MiB between them, so that starting the program does not
// count. Prints ROW lines for run-bench.sh.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "run_command.h"

namespace {

constexpr double kRecordGoalMs = 5.0;
constexpr double kDecoderGoalMiBs = 50.0;

// Best of five, in ms.
double Time(const std::string& command) {
  double best = 1e12;
  for (int i = 0; i < 5; ++i) {
    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    bench::RunCommand(command, status);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
      std::fprintf(stderr, "failed: %s\n", command.c_str());
      std::exit(1);
    }
    best = std::min(best, ms);
  }
  return best;
}

// The disk's floor: the median of one durable SQLite commit (WAL, synchronous FULL) in
// `dir`, what the begun record must at least cost.
double DurableCommitMs(const std::filesystem::path& dir) {
  sqlite3* db = nullptr;
  const std::string path = (dir / "floor.db").string();
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return 0;
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; CREATE TABLE t(a)", nullptr,
               nullptr, nullptr);
  std::vector<double> ms;
  for (int i = 0; i < 100; ++i) {
    const auto start = std::chrono::steady_clock::now();
    sqlite3_exec(db, "INSERT INTO t VALUES(1)", nullptr, nullptr, nullptr);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  sqlite3_close(db);
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

constexpr int kCostRuns = 15;

struct Cost {
  double total = 0, gate = 0, finish = 0, max = 0;
};

// The median run of the lines velmora appends to VELMORA_RECORD_COST's file, a run each:
// "gate_ms G finish_ms F".
Cost MedianCost(const std::filesystem::path& path) {
  std::vector<Cost> runs;
  std::FILE* in = std::fopen(path.c_str(), "r");
  if (!in) return {};
  Cost c;
  while (std::fscanf(in, " gate_ms %lf finish_ms %lf", &c.gate, &c.finish) == 2) {
    c.total = c.gate + c.finish;
    runs.push_back(c);
  }
  std::fclose(in);
  if (runs.empty()) return {};
  std::sort(runs.begin(), runs.end(),
            [](const Cost& a, const Cost& b) { return a.total < b.total; });
  Cost median = runs[runs.size() / 2];
  median.max = runs.back().total;
  return median;
}

// Registers the sample firmware in the bench's registry; its catalogue description.
std::string RegisterSample(const std::string& velmora, const std::string& registry,
                           const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  const std::string description = "Sample application 2.1";
  const fs::path firmware = dir / "velmora-sample.x";
  fs::copy_file(KV70_SAMPLE_FIRMWARE, firmware, fs::copy_options::overwrite_existing);
  const fs::path reg = dir / "firmware.reg";
  std::FILE* out = std::fopen(reg.c_str(), "w");
  std::fprintf(out,
               "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora]\n"
               "\"InstallDirectory\"=\"%s\"\n\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware\\%s]\n"
               "\"Description\"=\"%s\"\n\"DeviceType\"=\"KV70\"\n\"FirmwarePath\"=\"%s\"\n"
               "\"OriginalInstall\"=dword:00000000\n",
               dir.c_str(), description.c_str(), description.c_str(), firmware.c_str());
  std::fclose(out);
  int status = 0;
  bench::RunCommand(velmora + " registry import " + reg.string() + registry + " >/dev/null 2>&1",
                    status);
  return description;
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
  const fs::path dir = fs::temp_directory_path() / ("records-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string velmora = (bin / "velmora").string();
  const std::string registry = " --registry " + (dir / "registry.db").string();
  ::setenv("HOME", dir.c_str(), 1);
  int failures = 0;

  // Records: 200 begun and finished, as many runs would. The begun record is made
  // durable (one disk sync); the finish is not waited for.
  int status = 0;
  const std::string out =
      bench::RunCommand(velmora + " history --bench-writes 200" + registry, status);
  double median = 0, p90 = 0, max = 0, begin = 0;
  if (status != 0 ||
      std::sscanf(out.c_str(),
                  "record writes: %*u, median %lf ms, 90th %lf ms, max %lf ms, begin median %lf ms",
                  &median, &p90, &max, &begin) != 4) {
    std::fprintf(stderr, "velmora history --bench-writes failed: %s\n", out.c_str());
    return 1;
  }
  const double floor = DurableCommitMs(dir);
  std::printf(
      "record write (begin + finish): median %.3f ms (begin %.3f ms), 90th percentile "
      "%.3f ms, max %.3f ms; one durable SQLite commit on this disk: %.3f ms\n",
      median, begin, p90, max, floor);
  // Under the goal; on a disk whose one sync already takes most of it, within half a sync
  // more than that (this machine's shared disk syncs in 4 to 8 ms).
  std::printf(
      "ROW|records|record write alone (begin + finish), median|%.3f ms|%.3f ms (one "
      "sync)|%.2f||\n",
      median, floor, floor > 0 ? median / floor : 0.0);

  // What the record costs each operation's run, reported by velmora itself.
  const std::string firmware = RegisterSample(velmora, registry, dir);
  for (const char* operation : {"config", "dump", "upgrade"}) {
    const fs::path costs = dir / (std::string(operation) + ".cost");
    std::string extra;
    if (std::string(operation) == "dump") extra = " --log-file " + (dir / "fs.log").string();
    if (std::string(operation) == "upgrade") extra = " --firmware '" + firmware + "'";
    for (int i = 0; i < kCostRuns; ++i) {
      bench::RunCommand("VELMORA_RECORD_COST=" + costs.string() + " " + velmora + " run " +
                            operation + " --device sim:fs-mb=1" + extra + registry +
                            " --yes >/dev/null 2>&1",
                        status);
      if (status != 0) {
        std::fprintf(stderr, "velmora run %s failed\n", operation);
        return 1;
      }
    }
    const Cost cost = MedianCost(costs);
    const bool ok = cost.total <= kRecordGoalMs;
    std::printf(
        "record's cost to the run, %s (%d runs): median %.3f ms (at the gate %.3f ms, "
        "finish %.3f ms), max %.3f ms\n",
        operation, kCostRuns, cost.total, cost.gate, cost.finish, cost.max);
    std::printf("ROW|records|record's cost to the run, %s%s, median|%.3f ms|||<= %.0f ms|%s\n",
                operation, std::string(operation) == "dump" ? " (1 MiB log file)" : "", cost.total,
                kRecordGoalMs, ok ? "ok" : "OVER");
    if (!ok) ++failures;
  }

  // The decoder: traces of a 1 MiB and an 8 MiB dump.
  double ms[2] = {};
  const int sizes[2] = {1, 8};
  for (int i = 0; i < 2; ++i) {
    const fs::path trace = dir / ("dump" + std::to_string(sizes[i]) + ".trace");
    const fs::path log = dir / "dump.log";
    bench::RunCommand(velmora + " run dump --device sim:fs-mb=" + std::to_string(sizes[i]) +
                          " --log-file " + log.string() + " --trace " + trace.string() + registry +
                          " --yes >/dev/null 2>&1",
                      status);
    if (status != 0) {
      std::fprintf(stderr, "the %d MiB dump failed\n", sizes[i]);
      return 1;
    }
    ms[i] = Time(velmora + " trace show --summary " + trace.string() + " >/dev/null");
    std::printf("trace show --summary, %d MiB dump (%.1f MiB of trace): %.1f ms\n", sizes[i],
                fs::file_size(trace) / 1048576.0, ms[i]);
  }
  const double rate = (sizes[1] - sizes[0]) / ((ms[1] - ms[0]) / 1000.0);
  std::printf("decoder: %.0f MiB/s of dumped data (goal over %.0f MiB/s)\n", rate,
              kDecoderGoalMiBs);
  std::printf("ROW|records|decoder over a dump's trace|%.0f MiB/s|||>= %.0f MiB/s|%s\n", rate,
              kDecoderGoalMiBs, rate >= kDecoderGoalMiBs ? "ok" : "OVER");
  if (rate < kDecoderGoalMiBs) ++failures;

  fs::remove_all(dir);
  return failures ? 1 : 0;
}
