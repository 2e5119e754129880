// The depot's ledger on a PostgreSQL server, through libpq. Every statement is sent with
// its values as parameters, never spliced into the text.
#include <libpq-fe.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/core/ledger.h"
#include "host/core/record_columns.h"

namespace velmora {

namespace {

// How long a connection attempt and a statement may take before the ledger counts as
// lost: a depot's server answers in milliseconds, a dead one must not hold the bench.
constexpr const char* kConnectTimeoutS = "5";
constexpr const char* kStatementTimeout = "SET statement_timeout = 15000";

// A column's name in the ledger's SQL: "user" is a reserved word there.
std::string ColumnName(const RecordColumn& c) {
  return std::string(c.name) == "user" ? "\"user\"" : c.name;
}

// The table of service records. The advisory lock (any number) lets only one station at
// a time make it, since two CREATE TABLE IF NOT EXISTS at once may both try to make it
// and one then fails.
std::string Schema() {
  const auto type = [](ColumnType t) {
    switch (t) {
      case ColumnType::kText:
        return "TEXT";
      case ColumnType::kInteger:
        return "INTEGER";
      case ColumnType::kBigInteger:
        return "BIGINT";
      case ColumnType::kFlag:
        return "BOOLEAN";
    }
    return "TEXT";
  };
  return "BEGIN;\n"
         "SELECT pg_advisory_xact_lock(7007024);\n"
         "CREATE TABLE IF NOT EXISTS service_records(\n"
         "  source TEXT NOT NULL,\n"
         "  id BIGINT NOT NULL,\n  " +
         RecordColumnDefinitions(ColumnName, type) +
         ",\n  PRIMARY KEY(source, id));\n"
         R"sql(
CREATE INDEX IF NOT EXISTS service_records_serial ON service_records(serial);
COMMIT;
)sql";
}

// In the order of the parameters: the ledger's key, then the record's columns.
const std::vector<std::string>& Columns() {
  static const std::vector<std::string> columns = [] {
    std::vector<std::string> names = {"source", "id"};
    for (const RecordColumn& c : kRecordColumns) names.push_back(ColumnName(c));
    return names;
  }();
  return columns;
}

using Value = std::optional<std::string>;

// Text parameters, as libpq sends them.
std::vector<Value> Values(const std::string& source, const ServiceRecord& r) {
  struct Params {
    std::vector<Value> v;
    void Text(const Value& text) { v.push_back(text); }
    void Int(const std::optional<std::int64_t>& n) {
      v.push_back(n ? Value(std::to_string(*n)) : std::nullopt);
    }
    void Flag(const std::optional<bool>& b) {
      v.push_back(b ? Value(*b ? "true" : "false") : std::nullopt);
    }
  } params;
  params.Text(source);
  params.Int(r.id);
  WriteRecordColumns(r, params);
  return params.v;
}

class Row {
 public:
  Row(const PGresult* res, int row) : res_(res), row_(row) {}
  bool IsNull(int c) const { return PQgetisnull(res_, row_, c) != 0; }
  std::string Text(int c) const {
    return std::string(PQgetvalue(res_, row_, c),
                       static_cast<std::size_t>(PQgetlength(res_, row_, c)));
  }
  std::optional<std::string> OptText(int c) const {
    return IsNull(c) ? std::nullopt : std::optional<std::string>(Text(c));
  }
  std::int64_t Int(int c) const { return std::strtoll(PQgetvalue(res_, row_, c), nullptr, 10); }
  bool Flag(int c) const { return Text(c) == "t"; }

 private:
  const PGresult* res_;
  int row_;
};

// A row as List selects it: the source, the id, then the record's columns.
ServiceRecord ReadRow(const Row& s) {
  ServiceRecord r;
  r.id = s.Int(1);
  ReadRecordColumns(s, 2, r);
  return r;
}

// libpq's messages end in a line end and may run over several lines.
std::string Message(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  std::string flat;
  for (char c : s) {
    if (c == '\n' || c == '\t') c = ' ';
    if (c == ' ' && !flat.empty() && flat.back() == ' ') continue;
    flat += c;
  }
  s = flat;
  return s.empty() ? "no reason given" : s;
}

class PgLedger final : public Ledger {
 public:
  explicit PgLedger(PGconn* conn) : conn_(conn) {}
  ~PgLedger() override { PQfinish(conn_); }
  PgLedger(const PgLedger&) = delete;
  PgLedger& operator=(const PgLedger&) = delete;

  // Makes the table; false with `error` when the server refuses.
  bool Prepare(std::string& error) {
    // The server's notices ("already exists, skipping") are not the technician's.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    PQclear(PQexec(conn_, kStatementTimeout));
    // A table already there is used as it is: a user who may write rows but not create
    // tables (as a depot may set it up once the table exists) is not refused.
    PGresult* found = PQexec(conn_, "SELECT to_regclass('service_records') IS NOT NULL");
    const bool exists = PQresultStatus(found) == PGRES_TUPLES_OK && PQntuples(found) == 1 &&
                        std::string(PQgetvalue(found, 0, 0)) == "t";
    PQclear(found);
    if (exists) return true;
    PGresult* res = PQexec(conn_, Schema().c_str());
    const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
    if (!ok) error = "its table cannot be made: " + Message(PQerrorMessage(conn_));
    PQclear(res);
    if (!ok) PQclear(PQexec(conn_, "ROLLBACK"));
    return ok;
  }

  bool Send(const std::string& source, const ServiceRecord& record, std::string& error) override {
    // A server restarted since the last statement is reached again; one that is gone fails.
    if (PQstatus(conn_) != CONNECTION_OK) Reconnect();
    if (SendOnce(source, record, error)) return true;
    if (PQstatus(conn_) == CONNECTION_OK) return false;
    Reconnect();
    return PQstatus(conn_) == CONNECTION_OK && SendOnce(source, record, error);
  }

  bool List(const RecordFilter& filter, std::vector<ServiceRecord>& records,
            std::string& error) override {
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < Columns().size(); ++i) sql += (i ? ", " : "") + Columns()[i];
    sql += " FROM service_records ORDER BY started, station, id";
    PGresult* res = PQexec(conn_, sql.c_str());
    if (PQresultStatus(res) != PGRES_TUPLES_OK) {
      error = "the ledger's records could not be read: " + Message(PQerrorMessage(conn_));
      PQclear(res);
      return false;
    }
    for (int row = 0; row < PQntuples(res); ++row) {
      ServiceRecord r = ReadRow(Row(res, row));
      if (RecordMatches(r, filter)) records.push_back(std::move(r));
    }
    PQclear(res);
    return true;
  }

 private:
  void Reconnect() {
    PQreset(conn_);
    if (PQstatus(conn_) == CONNECTION_OK) PQclear(PQexec(conn_, kStatementTimeout));
  }

  bool SendOnce(const std::string& source, const ServiceRecord& record, std::string& error) {
    const std::vector<std::string>& columns = Columns();
    std::string sql = "INSERT INTO service_records AS t(";
    std::string params, updates;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      sql += (i ? ", " : "") + columns[i];
      params += (i ? ", $" : "$") + std::to_string(i + 1);
      if (i >= 2)
        updates += std::string(i > 2 ? ", " : "") + columns[i] + " = EXCLUDED." + columns[i];
    }
    // A finished row is final: only a begun one takes a newer state.
    sql += ") VALUES(" + params + ") ON CONFLICT(source, id) DO UPDATE SET " + updates +
           " WHERE t.ended IS NULL";
    const std::vector<Value> values = Values(source, record);
    std::vector<const char*> pointers;
    for (const Value& v : values) pointers.push_back(v ? v->c_str() : nullptr);
    PGresult* res = PQexecParams(conn_, sql.c_str(), static_cast<int>(pointers.size()), nullptr,
                                 pointers.data(), nullptr, nullptr, 0);
    const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
    if (!ok) error = Message(PQerrorMessage(conn_));
    PQclear(res);
    return ok;
  }

  PGconn* conn_;
};

}  // namespace

std::unique_ptr<Ledger> ConnectLedger(const std::string& url, std::string& error) {
  const std::string shown = MaskedLedgerUrl(url);
  if (!IsLedgerUrl(url)) {
    error = "the ledger " + shown + ": not a PostgreSQL URL (postgresql://USER@HOST/DATABASE)";
    return nullptr;
  }
  // Defaults first: what the URL itself says (its own connect_timeout) wins.
  const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
  const char* values[] = {kConnectTimeoutS, "velmora", url.c_str(), nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  if (!conn || PQstatus(conn) != CONNECTION_OK) {
    error = "the ledger " + shown + " cannot be reached: " +
            (conn ? Message(PQerrorMessage(conn)) : std::string("out of memory"));
    PQfinish(conn);
    return nullptr;
  }
  auto ledger = std::make_unique<PgLedger>(conn);
  std::string why;
  if (!ledger->Prepare(why)) {
    error = "the ledger " + shown + ": " + why;
    return nullptr;
  }
  return ledger;
}

}  // namespace velmora
