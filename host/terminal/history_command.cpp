// velmora history: the service records of the registry database, oldest first.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "host/core/exit_codes.h"
#include "host/core/ledger.h"
#include "host/core/service_record.h"
#include "host/terminal/commands.h"
#include "host/terminal/record_commands.h"

namespace velmora {

namespace {

std::string Pad(std::string s, std::size_t width) {
  if (s.size() < width) s.resize(width, ' ');
  return s;
}

std::string Outcome(const ServiceRecord& r) {
  std::string s = r.result;
  if (r.failureNumber) s += " (" + std::to_string(*r.failureNumber) + ")";
  return s;
}

// Begins and finishes `count` records as a run does, timing each pair.
int BenchWrites(RecordStore& store, unsigned count, Console& console) {
  std::vector<double> ms, begin;
  for (unsigned i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    ServiceRecord r = NewRecord("bench", 1, "sim");
    std::string error;
    if (!store.Begin(r, error)) {
      Complain(error);
      return kExitFailed;
    }
    begin.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    r.serial = "KV70-0012345";
    r.result = "succeeded";
    r.exitStatus = 0;
    r.ended = UtcNow();
    if (!store.Finish(r, error)) {
      Complain(error);
      return kExitFailed;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  std::sort(begin.begin(), begin.end());
  char line[200];
  std::snprintf(
      line, sizeof line,
      "record writes: %u, median %.3f ms, 90th %.3f ms, max %.3f ms, begin median %.3f ms", count,
      ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(), begin[begin.size() / 2]);
  console.PrintLine(line);
  return kExitSucceeded;
}

}  // namespace

int HistoryCommand(const HistoryOptions& options, Console& console) {
  RecordFilter filter = options.filter;
  if (!filter.since.empty() && !NormaliseSince(options.filter.since, filter.since)) {
    Complain("--since " + options.filter.since +
             ": not a date (YYYY-MM-DD, optionally with THH:MM or THH:MM:SS, UTC)");
    return kExitUsage;
  }
  if (!filter.result.empty() && !IsRecordResult(filter.result)) {
    Complain("--result " + filter.result +
             ": not a result (succeeded, failed, cancelled or interrupted)");
    return kExitUsage;
  }
  std::string error;
  std::vector<ServiceRecord> records;
  const bool fromLedger = !options.ledger.empty();
  if (fromLedger) {
    if (!IsLedgerUrl(options.ledger)) {
      Complain("--ledger " + MaskedLedgerUrl(options.ledger) +
               ": not a PostgreSQL URL (postgresql://USER@HOST/DATABASE)");
      return kExitUsage;
    }
    std::unique_ptr<Ledger> ledger = ConnectLedger(options.ledger, error);
    if (!ledger || !ledger->List(filter, records, error)) {
      Complain(error);
      return kExitFailed;
    }
  } else {
    if (!RegistryUsable()) return kExitUsage;
    std::unique_ptr<RecordStore> store = OpenRecordStore(error);
    if (store && options.benchWrites > 0) return BenchWrites(*store, options.benchWrites, console);
    if (!store || !store->List(filter, records, error)) {
      Complain(error);
      return kExitFailed;
    }
  }
  if (options.json) {
    for (const ServiceRecord& r : records) console.PrintLine(RecordJson(r));
  } else if (options.csv) {
    console.PrintLine(RecordCsvHeader());
    for (const ServiceRecord& r : records) console.PrintLine(RecordCsv(r));
  } else {
    // The ledger's ids are each station's own: the station tells them apart.
    const std::size_t stationWidth = fromLedger ? 16 : 0;
    console.PrintLine((fromLedger ? Pad("STATION", stationWidth) : "") + Pad("ID", 6) +
                      Pad("STARTED (UTC)", 22) + Pad("OPERATION", 11) + Pad("SERIAL", 20) +
                      Pad("PORT", 24) + "RESULT");
    for (const ServiceRecord& r : records) {
      std::string serial = r.serial.value_or("-");
      console.PrintLine((fromLedger ? Pad(r.station, stationWidth - 1) + " " : "") +
                        Pad(std::to_string(r.id), 6) + Pad(r.started, 22) + Pad(r.operation, 11) +
                        Pad(serial, 20) +
                        Pad("COM" + std::to_string(r.comPort) + " " + r.port, 24) + Outcome(r));
    }
  }
  return kExitSucceeded;
}

}  // namespace velmora
