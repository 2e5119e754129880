// The service records' store on POSIX systems: a table of its own in the registry's
// SQLite database, so that one file holds a station's catalogue and its history.
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <string>

#include "host/core/service_record.h"
#include "platform/registry.h"

namespace velmora {

namespace {

// How long a call waits for another process's write before giving up (as the registry).
constexpr int kBusyTimeoutMs = 5000;

// service_records: one row per run. ended is NULL until the run finished; result is
// 'interrupted' until then. Hardware numbers are NULL when no configuration record was
// read; applications are in StoredApplications form; SHA-256 sums are hex.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS service_records(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  started TEXT NOT NULL,
  ended TEXT,
  station TEXT NOT NULL,
  user TEXT NOT NULL,
  version TEXT NOT NULL,
  operation TEXT NOT NULL,
  com_port INTEGER NOT NULL,
  port TEXT NOT NULL,
  serial TEXT, owner1 TEXT, owner2 TEXT,
  info0 INTEGER, info1 INTEGER, flash_type INTEGER, info3 INTEGER, file_system_mb INTEGER,
  application_id INTEGER,
  applications TEXT NOT NULL DEFAULT '',
  result TEXT NOT NULL,
  exit_status INTEGER,
  failure_number INTEGER,
  failure_text TEXT NOT NULL DEFAULT '',
  firmware_description TEXT, firmware_path TEXT, firmware_size INTEGER, firmware_sha256 TEXT,
  software_word INTEGER,
  erase_reached INTEGER,
  log_path TEXT, log_bytes INTEGER, log_sha256 TEXT, log_complete INTEGER);
CREATE INDEX IF NOT EXISTS service_records_serial ON service_records(serial);
CREATE TABLE IF NOT EXISTS ledger_source(
  one INTEGER PRIMARY KEY CHECK(one = 1),
  source TEXT NOT NULL);
INSERT OR IGNORE INTO ledger_source VALUES(1, lower(hex(randomblob(16))));
CREATE TABLE IF NOT EXISTS ledger_sent(
  record_id INTEGER PRIMARY KEY,
  finished INTEGER NOT NULL);
)sql";

constexpr const char* kColumns =
    "started, ended, station, user, version, operation, com_port, port, serial, owner1, owner2, "
    "info0, info1, flash_type, info3, file_system_mb, application_id, applications, result, "
    "exit_status, failure_number, failure_text, firmware_description, firmware_path, "
    "firmware_size, firmware_sha256, software_word, erase_reached, log_path, log_bytes, "
    "log_sha256, log_complete";
constexpr int kColumnCount = 32;

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    code_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ok() const { return code_ == SQLITE_OK || code_ == SQLITE_ROW || code_ == SQLITE_DONE; }
  void Text(int i, const std::string& v) {
    if (Ok())
      code_ = sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void Text(int i, const std::optional<std::string>& v) {
    if (v)
      Text(i, *v);
    else
      Null(i);
  }
  void Int(int i, std::int64_t v) {
    if (Ok()) code_ = sqlite3_bind_int64(stmt_, i, v);
  }
  template <typename T>
  void Int(int i, const std::optional<T>& v) {
    if (v)
      Int(i, static_cast<std::int64_t>(*v));
    else
      Null(i);
  }
  void Null(int i) {
    if (Ok()) code_ = sqlite3_bind_null(stmt_, i);
  }
  // True while a row is there.
  bool Step() {
    if (!Ok()) return false;
    code_ = sqlite3_step(stmt_);
    return code_ == SQLITE_ROW;
  }
  std::string Error() const { return sqlite3_errmsg(db_); }

  bool IsNull(int c) const { return sqlite3_column_type(stmt_, c) == SQLITE_NULL; }
  std::string GetText(int c) const {
    const auto* p = sqlite3_column_text(stmt_, c);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_column_bytes(stmt_, c)))
             : std::string();
  }
  std::optional<std::string> OptText(int c) const {
    return IsNull(c) ? std::nullopt : std::optional<std::string>(GetText(c));
  }
  std::int64_t GetInt(int c) const { return sqlite3_column_int64(stmt_, c); }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  int code_ = SQLITE_OK;
};

void BindRecord(Statement& s, const ServiceRecord& r, int first) {
  int i = first;
  s.Text(i++, r.started);
  s.Text(i++, r.ended.empty() ? std::nullopt : std::optional<std::string>(r.ended));
  s.Text(i++, r.station);
  s.Text(i++, r.user);
  s.Text(i++, r.version);
  s.Text(i++, r.operation);
  s.Int(i++, r.comPort);
  s.Text(i++, r.port);
  s.Text(i++, r.serial);
  s.Text(i++, r.owner1);
  s.Text(i++, r.owner2);
  const auto hw = [&](std::uint16_t HardwareNumbers::*field) {
    return r.hardware ? std::optional<std::int64_t>((*r.hardware).*field) : std::nullopt;
  };
  s.Int(i++, hw(&HardwareNumbers::info0));
  s.Int(i++, hw(&HardwareNumbers::info1));
  s.Int(i++, hw(&HardwareNumbers::flashType));
  s.Int(i++, hw(&HardwareNumbers::info3));
  s.Int(i++, hw(&HardwareNumbers::fileSystemMb));
  s.Int(i++, hw(&HardwareNumbers::applicationId));
  s.Text(i++, StoredApplications(r.applications));
  s.Text(i++, r.result);
  s.Int(i++, r.exitStatus);
  s.Int(i++, r.failureNumber);
  s.Text(i++, r.failureText);
  if (r.firmware) {
    s.Text(i++, r.firmware->description);
    s.Text(i++, r.firmware->path);
    s.Int(i++, r.firmware->size);
    s.Text(i++, r.firmware->sha256);
    s.Int(i++, r.firmware->softwareWord);
  } else {
    for (int k = 0; k < 5; ++k) s.Null(i++);
  }
  s.Int(i++, r.eraseReached);
  if (r.logFile) {
    s.Text(i++, r.logFile->path);
    s.Int(i++, static_cast<std::int64_t>(r.logFile->bytes));
    s.Text(i++, r.logFile->sha256);
    s.Int(i++, r.logFile->complete ? 1 : 0);
  } else {
    for (int k = 0; k < 4; ++k) s.Null(i++);
  }
}

ServiceRecord ReadRecord(const Statement& s) {
  ServiceRecord r;
  int c = 0;
  r.id = s.GetInt(c++);
  r.started = s.GetText(c++);
  r.ended = s.GetText(c++);
  r.station = s.GetText(c++);
  r.user = s.GetText(c++);
  r.version = s.GetText(c++);
  r.operation = s.GetText(c++);
  r.comPort = static_cast<int>(s.GetInt(c++));
  r.port = s.GetText(c++);
  r.serial = s.OptText(c++);
  r.owner1 = s.OptText(c++);
  r.owner2 = s.OptText(c++);
  if (!s.IsNull(c)) {
    HardwareNumbers h;
    h.info0 = static_cast<std::uint16_t>(s.GetInt(c));
    h.info1 = static_cast<std::uint16_t>(s.GetInt(c + 1));
    h.flashType = static_cast<std::uint16_t>(s.GetInt(c + 2));
    h.info3 = static_cast<std::uint16_t>(s.GetInt(c + 3));
    h.fileSystemMb = static_cast<std::uint16_t>(s.GetInt(c + 4));
    h.applicationId = static_cast<std::uint16_t>(s.GetInt(c + 5));
    r.hardware = h;
  }
  c += 6;
  r.applications = ParseApplications(s.GetText(c++));
  r.result = s.GetText(c++);
  if (!s.IsNull(c)) r.exitStatus = static_cast<int>(s.GetInt(c));
  ++c;
  if (!s.IsNull(c)) r.failureNumber = static_cast<int>(s.GetInt(c));
  ++c;
  r.failureText = s.GetText(c++);
  if (!s.IsNull(c + 1)) {
    FirmwareFacts f;
    f.description = s.GetText(c);
    f.path = s.GetText(c + 1);
    if (!s.IsNull(c + 2)) f.size = static_cast<std::uint64_t>(s.GetInt(c + 2));
    f.sha256 = s.GetText(c + 3);
    if (!s.IsNull(c + 4)) f.softwareWord = static_cast<std::uint32_t>(s.GetInt(c + 4));
    r.firmware = f;
  }
  c += 5;
  if (!s.IsNull(c)) r.eraseReached = s.GetInt(c) != 0;
  ++c;
  if (!s.IsNull(c)) {
    LogFileFacts l;
    l.path = s.GetText(c);
    l.bytes = static_cast<std::uint64_t>(s.GetInt(c + 1));
    l.sha256 = s.GetText(c + 2);
    l.complete = s.GetInt(c + 3) != 0;
    r.logFile = l;
  }
  return r;
}

class SqliteRecordStore final : public RecordStore {
 public:
  explicit SqliteRecordStore(sqlite3* db) : db_(db) {}
  ~SqliteRecordStore() override { sqlite3_close(db_); }

  bool Begin(ServiceRecord& record, std::string& error) override {
    // The begun record must survive a power cut: it is what says `interrupted` then.
    sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    ServiceRecord stored = record;
    stored.result = "interrupted";
    stored.ended.clear();
    std::string sql = std::string("INSERT INTO service_records(") + kColumns + ") VALUES(";
    for (int i = 0; i < kColumnCount; ++i) sql += i ? ",?" : "?";
    sql += ")";
    Statement s(db_, sql);
    BindRecord(s, stored, 1);
    s.Step();
    if (!s.Ok()) {
      error = "the service record could not be stored: " + s.Error();
      return false;
    }
    record.id = sqlite3_last_insert_rowid(db_);
    record.result = stored.result;
    return true;
  }

  bool Finish(const ServiceRecord& record, std::string& error) override {
    // The outcome need not wait for the disk: lost to a power cut, the record still
    // reads `interrupted` (the safe side), and the next durable write takes it along.
    sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    std::string sql = "UPDATE service_records SET ";
    std::string columns = kColumns;
    int i = 0;
    for (std::size_t start = 0; start < columns.size(); ++i) {
      std::size_t end = columns.find(',', start);
      if (end == std::string::npos) end = columns.size();
      std::string name = columns.substr(start, end - start);
      name.erase(0, name.find_first_not_of(' '));
      sql += (i ? ", " : "") + name + " = ?";
      start = end + 1;
    }
    sql += " WHERE id = ?";
    Statement s(db_, sql);
    BindRecord(s, record, 1);
    s.Int(kColumnCount + 1, record.id);
    s.Step();
    if (!s.Ok()) {
      error = "the service record could not be stored: " + s.Error();
      return false;
    }
    if (sqlite3_changes(db_) != 1) {
      error = "the service record " + std::to_string(record.id) + " is not in the database";
      return false;
    }
    return true;
  }

  bool List(const RecordFilter& filter, std::vector<ServiceRecord>& records,
            std::string& error) override {
    Statement s(db_, std::string("SELECT id, ") + kColumns + " FROM service_records ORDER BY id");
    while (s.Step()) {
      ServiceRecord r = ReadRecord(s);
      if (RecordMatches(r, filter)) records.push_back(std::move(r));
    }
    if (!s.Ok()) {
      error = "the service records could not be read: " + s.Error();
      return false;
    }
    return true;
  }

  bool LedgerSource(std::string& source, std::string& error) override {
    Statement s(db_, "SELECT source FROM ledger_source WHERE one = 1");
    if (!s.Step()) {
      error = "this database has no name for the ledger: " + s.Error();
      return false;
    }
    source = s.GetText(0);
    return true;
  }

  // Unsent: never confirmed, or confirmed only as begun and finished since.
  bool Unsent(std::vector<ServiceRecord>& records, std::string& error) override {
    std::string columns = kColumns;
    std::string prefixed = "r.id";
    for (std::size_t start = 0; start < columns.size();) {
      std::size_t end = columns.find(',', start);
      if (end == std::string::npos) end = columns.size();
      std::string name = columns.substr(start, end - start);
      name.erase(0, name.find_first_not_of(' '));
      prefixed += ", r." + name;
      start = end + 1;
    }
    Statement s(db_, "SELECT " + prefixed +
                         " FROM service_records r LEFT JOIN ledger_sent m ON m.record_id = r.id"
                         " WHERE m.record_id IS NULL OR (m.finished = 0 AND r.ended IS NOT NULL)"
                         " ORDER BY r.id");
    while (s.Step()) records.push_back(ReadRecord(s));
    if (!s.Ok()) {
      error = "the records kept for the ledger could not be read: " + s.Error();
      return false;
    }
    return true;
  }

  bool MarkSent(const ServiceRecord& record, std::string& error) override {
    // A finished mark stays: a late copy of the begun state never takes it back.
    Statement s(db_,
                "INSERT INTO ledger_sent(record_id, finished) VALUES(?, ?) ON CONFLICT(record_id) "
                "DO UPDATE SET finished = max(finished, excluded.finished)");
    s.Int(1, record.id);
    s.Int(2, record.ended.empty() ? 0 : 1);
    s.Step();
    if (!s.Ok()) {
      error = "the record " + std::to_string(record.id) +
              " could not be marked as sent to the ledger: " + s.Error();
      return false;
    }
    return true;
  }

 private:
  sqlite3* db_;
};

}  // namespace

std::string StationName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string OperatingSystemUser() {
  if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name) return entry->pw_name;
  return std::to_string(::geteuid());
}

std::unique_ptr<RecordStore> OpenRecordStore(std::string& error) {
  const std::string path = platform::RegistryPath();
  // The registry creates the database and marks it as its own; the table goes only into
  // a database so marked.
  if (platform::CheckRegistryStore() != ERROR_SUCCESS) {
    error = path + ": not a registry database that can be used";
    return nullptr;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    error = path + ": " + (db ? sqlite3_errmsg(db) : "cannot be opened");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  auto store = std::make_unique<SqliteRecordStore>(db);
  char* message = nullptr;
  if (sqlite3_exec(db, kSchema, nullptr, nullptr, &message) != SQLITE_OK) {
    error = path + ": " + (message ? message : "the records' table cannot be made");
    sqlite3_free(message);
    return nullptr;
  }
  return store;
}

}  // namespace velmora
