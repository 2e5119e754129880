// The service record: one per run of an operation, kept so that a technician can answer
// weeks later which KV70 got what, when, and how it ended. A record is begun when the
// run starts (result `interrupted`) and finished when it ends, so a run killed on the
// way (power cut, kill -9) stays `interrupted`, never a success. What the record says
// about the device comes from the line (line_decoder.h), never from the plug-in. A
// record never holds a file's contents, only its path, size and SHA-256.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/core/line_decoder.h"

namespace velmora {

struct HardwareNumbers {
  std::uint16_t info0 = 0, info1 = 0, flashType = 0, info3 = 0, fileSystemMb = 0;
  std::uint16_t applicationId = 0;
  bool operator==(const HardwareNumbers&) const = default;
};

struct FirmwareFacts {
  std::string description;
  std::string path;
  std::optional<std::uint64_t> size;
  std::string sha256;                         // hex, empty when the file could not be read
  std::optional<std::uint32_t> softwareWord;  // the word at 0x02400420, bytes in file order
};

struct LogFileFacts {
  std::string path;
  std::uint64_t bytes = 0;
  std::string sha256;  // hex
  bool complete = false;
};

struct ServiceRecord {
  std::int64_t id = 0;    // given by Begin
  std::string started;    // UTC, ISO 8601: 2026-12-09T01:38:33Z
  std::string ended;      // empty until finished
  std::string station;    // the host name
  std::string user;       // the operating-system user
  std::string version;    // velmora's
  std::string operation;  // "upgrade", "config", "dump" (or the operation's own name)
  int comPort = 0;        // 1..6
  std::string port;       // what the COM port was: a device path, rfc2217://..., sim...
  std::optional<std::string> serial;
  std::optional<std::string> owner1;
  std::optional<std::string> owner2;
  std::optional<HardwareNumbers> hardware;
  std::vector<ApplicationEntry> applications;  // the installed entries as read
  std::string result = "interrupted";          // succeeded, failed, cancelled, interrupted
  std::optional<int> exitStatus;
  std::optional<int> failureNumber;
  std::string failureText;
  std::optional<FirmwareFacts> firmware;  // an upgrade's
  std::optional<bool> eraseReached;       // an upgrade's: program flash may be erased
  std::optional<LogFileFacts> logFile;    // a dump's
};

// The results a record may hold.
bool IsRecordResult(const std::string& text);

// What the line told: the device's record (serial, owners, hardware numbers, installed
// application entries) and, for an upgrade, whether the erase was reached. Fields the
// line did not give are left as they are.
void TakeFromLine(ServiceRecord& record, const LineSummary& line);

// The time now, UTC, ISO 8601 to the second.
std::string UtcNow();
// This machine's name and the user running this process ("" when the system says none).
std::string StationName();
std::string OperatingSystemUser();

// A record with started, station, user and version filled in.
ServiceRecord NewRecord(const std::string& operation, int comPort, const std::string& port);

// Which records to list; empty fields match everything.
struct RecordFilter {
  std::string serial;  // exact, letter case ignored
  std::string since;   // records started at or after this UTC time (normalised)
  std::string result;
  std::string operation;  // exact, letter case ignored
};

// Turns "2026-12-09", "2026-12-09T01:38", "2026-12-09 01:38:33" or the same with a Z into
// the stored form; false when it is none of those.
bool NormaliseSince(const std::string& text, std::string& normalised);

// The records of the registry database (its own table in the same file). Several
// processes may write at once; each call waits for another's write up to a busy
// time-out. Every call is one transaction.
class RecordStore {
 public:
  virtual ~RecordStore() = default;
  // Stores `record` with result `interrupted` (whatever it says) and sets its id.
  virtual bool Begin(ServiceRecord& record, std::string& error) = 0;
  // Rewrites the record with `record.id` with everything `record` holds.
  virtual bool Finish(const ServiceRecord& record, std::string& error) = 0;
  // Matching records, oldest first.
  virtual bool List(const RecordFilter& filter, std::vector<ServiceRecord>& records,
                    std::string& error) = 0;

  // For the depot's ledger (ledger.h): this database's name among the ledger's sources
  // (random, given once), the records whose latest state the ledger has not confirmed,
  // oldest first, and the mark that it has, set only after the server committed. A store
  // without them says so.
  virtual bool LedgerSource(std::string& source, std::string& error);
  virtual bool Unsent(std::vector<ServiceRecord>& records, std::string& error);
  virtual bool MarkSent(const ServiceRecord& record, std::string& error);
};

// The store in the registry database in use (platform::RegistryPath()); null with
// `error` when it cannot be opened (not a registry database, no right, no support).
std::unique_ptr<RecordStore> OpenRecordStore(std::string& error);

// For the stores: whether a record passes a filter, and the application entries' stored
// form ("33:25:00000001:5;40:...": option, month index, word in hex, value).
bool RecordMatches(const ServiceRecord& record, const RecordFilter& filter);
std::string StoredApplications(const std::vector<ApplicationEntry>& apps);
std::vector<ApplicationEntry> ParseApplications(const std::string& text);

// One JSON object on one line (no line end), the fields named as in ServiceRecord with
// snake_case: id, started, ended, station, user, version, operation, com_port, port,
// serial, owner1, owner2, hardware{...}, applications[...], result, exit_status,
// failure{number,text}, firmware{description,path,size,sha256,software_word},
// erase_reached, log_file{path,bytes,sha256,complete}. Absent fields are null.
std::string RecordJson(const ServiceRecord& record);
// The CSV header line and one record's line (RFC 4180 quoting; no line end).
std::string RecordCsvHeader();
std::string RecordCsv(const ServiceRecord& record);

}  // namespace velmora
