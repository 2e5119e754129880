// The service records' store on POSIX systems: a table of its own in the registry's
// SQLite database, so that one file holds a station's catalogue and its history.
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <string>

#include "host/core/record_columns.h"
#include "host/core/service_record.h"
#include "platform/registry.h"

namespace velmora {

namespace {

// How long a call waits for another process's write before giving up (as the registry).
constexpr int kBusyTimeoutMs = 5000;

// service_records: one row per run. ended is NULL until the run finished; result is
// 'interrupted' until then. Hardware numbers are NULL when no configuration record was
// read; applications are in StoredApplications form; SHA-256 sums are hex.
std::string Schema() {
  const auto type = [](ColumnType t) { return t == ColumnType::kText ? "TEXT" : "INTEGER"; };
  return "CREATE TABLE IF NOT EXISTS service_records(\n"
         "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n  " +
         RecordColumnDefinitions([](const RecordColumn& c) { return c.name; }, type) +
         ");\n"
         R"sql(
CREATE INDEX IF NOT EXISTS service_records_serial ON service_records(serial);
CREATE TABLE IF NOT EXISTS ledger_source(
  one INTEGER PRIMARY KEY CHECK(one = 1),
  source TEXT NOT NULL);
INSERT OR IGNORE INTO ledger_source VALUES(1, lower(hex(randomblob(16))));
CREATE TABLE IF NOT EXISTS ledger_sent(
  record_id INTEGER PRIMARY KEY,
  finished INTEGER NOT NULL);
)sql";
}

// "started, ended, ...": the record's columns, each with `prefix` before its name.
std::string ColumnList(const std::string& prefix = "") {
  std::string list;
  for (const RecordColumn& c : kRecordColumns) list += (list.empty() ? "" : ", ") + prefix + c.name;
  return list;
}
constexpr int kColumnCount = static_cast<int>(kRecordColumns.size());

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
  struct Binder {
    Statement& s;
    int i;
    void Text(const std::optional<std::string>& v) { s.Text(i++, v); }
    void Int(const std::optional<std::int64_t>& v) { s.Int(i++, v); }
    void Flag(const std::optional<bool>& v) {
      s.Int(i++, v ? std::optional<std::int64_t>(*v ? 1 : 0) : std::nullopt);
    }
  } binder{s, first};
  WriteRecordColumns(r, binder);
}

// A result row as ReadRecordColumns reads it: the id first, then the record's columns.
ServiceRecord ReadRecord(const Statement& s) {
  struct Row {
    const Statement& s;
    bool IsNull(int c) const { return s.IsNull(c); }
    std::string Text(int c) const { return s.GetText(c); }
    std::optional<std::string> OptText(int c) const { return s.OptText(c); }
    std::int64_t Int(int c) const { return s.GetInt(c); }
    bool Flag(int c) const { return s.GetInt(c) != 0; }
  } row{s};
  ServiceRecord r;
  r.id = s.GetInt(0);
  ReadRecordColumns(row, 1, r);
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
    std::string sql = "INSERT INTO service_records(" + ColumnList() + ") VALUES(";
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
    for (std::size_t i = 0; i < kRecordColumns.size(); ++i)
      sql += std::string(i ? ", " : "") + kRecordColumns[i].name + " = ?";
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
    Statement s(db_, "SELECT id, " + ColumnList() + " FROM service_records ORDER BY id");
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
    Statement s(db_, "SELECT r.id, " + ColumnList("r.") +
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
  if (sqlite3_exec(db, Schema().c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    error = path + ": " + (message ? message : "the records' table cannot be made");
    sqlite3_free(message);
    return nullptr;
  }
  return store;
}

}  // namespace velmora
