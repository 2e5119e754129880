// velmora's commands about what runs left behind: the wire trace read back, and the
// service records. Each returns the exit status (exit_codes.h).
#pragma once
#include <string>

#include "host/core/service_record.h"
#include "host/terminal/console.h"

namespace velmora {

struct TraceShowOptions {
  std::string file;
  bool allBytes = false;     // every frame's bytes in hex
  bool summaryOnly = false;  // the summary without the frames
};
int TraceShowCommand(const TraceShowOptions& options, Console& console);

struct HistoryOptions {
  RecordFilter filter;  // since as given; the command normalises it
  bool json = false;
  bool csv = false;
  std::string ledger;  // --ledger: the depot's ledger is read instead of the local database
  // For bench/records_bench: begin and finish this many records (operation "bench") in
  // the database in use and print what each cost, instead of listing.
  unsigned benchWrites = 0;
};
int HistoryCommand(const HistoryOptions& options, Console& console);

}  // namespace velmora
