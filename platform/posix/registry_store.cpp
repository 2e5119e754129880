// The registry's SQLite store: where the database lives, its schema, and transactions.
#include "platform/registry_store.h"

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>

#include "platform/environment.h"
#include "platform/registry.h"

namespace platform::registry {

namespace {

// How long a call waits for another process's write transaction before giving up.
constexpr int kBusyTimeoutMs = 5000;

// The database header's application id ("VLMR"): this file is a Velmora registry.
constexpr std::int64_t kApplicationId = 0x564C4D52;

// keys: one row per key; the two predefined keys are rows 1 and 2 with parent 0.
//   Ids are never reused (AUTOINCREMENT), so a handle to a deleted key cannot reach a
//   newer key that happens to get the same row.
// vals: one row per value; the default value has the empty name.
// name_fold: the name in upper case, for lookups and for the enumeration order.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent_id INTEGER NOT NULL,
  name TEXT NOT NULL,
  name_fold TEXT NOT NULL,
  UNIQUE(parent_id, name_fold));
CREATE TABLE IF NOT EXISTS vals(
  key_id INTEGER NOT NULL,
  name TEXT NOT NULL,
  name_fold TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key_id, name_fold));
INSERT OR IGNORE INTO keys(id, parent_id, name, name_fold)
  VALUES(1, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),
        (2, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE');
PRAGMA application_id = 1447841106;
)sql";
static_assert(kApplicationId == 1447841106);

// What an existing file is, read without changing it.
enum class Identity { kOurs, kEmpty, kForeign };

int QueryInt(sqlite3* db, const char* sql, std::int64_t& value) {
  sqlite3_stmt* stmt = nullptr;
  int code = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  if (code == SQLITE_OK) {
    code = sqlite3_step(stmt);
    if (code == SQLITE_ROW) {
      value = sqlite3_column_int64(stmt, 0);
      code = SQLITE_OK;
    } else if (code == SQLITE_DONE) {
      value = 0;
      code = SQLITE_OK;
    }
  }
  sqlite3_finalize(stmt);
  return code;
}

// Stores written before the header carried our id are known by their two tables.
int Identify(sqlite3* db, Identity& identity) {
  std::int64_t id = 0;
  if (int code = QueryInt(db, "PRAGMA application_id", id); code != SQLITE_OK) return code;
  if (id == kApplicationId) {
    identity = Identity::kOurs;
    return SQLITE_OK;
  }
  std::int64_t tables = 0;
  if (int code = QueryInt(db, "SELECT count(*) FROM sqlite_master", tables); code != SQLITE_OK)
    return code;
  if (id == 0 && tables == 0) {
    identity = Identity::kEmpty;
    return SQLITE_OK;
  }
  std::int64_t ours = 0;
  if (int code = QueryInt(
          db,
          "SELECT (SELECT count(*) FROM pragma_table_info('keys') WHERE name IN "
          "('id','parent_id','name','name_fold')) + (SELECT count(*) FROM "
          "pragma_table_info('vals') WHERE name IN ('key_id','name','name_fold','type','data'))",
          ours);
      code != SQLITE_OK) {
    return code;
  }
  identity = id == 0 && ours == 9 ? Identity::kOurs : Identity::kForeign;
  return SQLITE_OK;
}

struct StoreError {
  int code;
  int systemErrno = 0;
};

// What the file system said when SQLite's last call failed on it: a full disk, a
// read-only file system, a name too long. SQLite folds them into I/O errors and
// "cannot open"; the user needs the cause.
bool SystemCause(int err, LONG& error) {
  switch (err) {
    case ENOSPC:
    case EFBIG:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EROFS:
    case ENAMETOOLONG:
    case ELOOP:
    case ENOTDIR:
    case ENOENT:
    case EACCES:
    case EPERM:
    case EISDIR:
      error = ErrorFromErrno(err);
      return true;
    default:
      return false;
  }
}

// Why a write to the store failed when SQLite does not say: it reports a full disk
// (ENOSPC) as SQLITE_FULL, but a write refused otherwise only as an I/O error, and the
// errno it keeps is often gone by then. The file system and the process's file-size
// limit tell the causes a user can act on.
bool ProbeWriteCause(LONG& error) {
  const std::filesystem::path parent = std::filesystem::path(RegistryPath()).parent_path();
  struct statvfs fs {};
  if (::statvfs(parent.empty() ? "." : parent.c_str(), &fs) == 0) {
    if (fs.f_flag & ST_RDONLY) {
      error = ERROR_WRITE_PROTECT;
      return true;
    }
    if (fs.f_bavail == 0) {
      error = ERROR_DISK_FULL;
      return true;
    }
  }
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    error = ERROR_DISK_FULL;  // the files may grow no further: full, for this process
    return true;
  }
  return false;
}

LONG ErrorFromSqlite(int code, int systemErrno = 0) {
  switch (code & 0xFF) {
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_FULL:
    case SQLITE_READONLY:
    case SQLITE_PERM:
      if (LONG cause = ERROR_SUCCESS; SystemCause(systemErrno, cause)) return cause;
      if (LONG cause = ERROR_SUCCESS;
          (code == SQLITE_IOERR_WRITE || code == SQLITE_IOERR_TRUNCATE ||
           code == SQLITE_IOERR_FSYNC || code == SQLITE_IOERR_SHMSIZE || code == SQLITE_IOERR) &&
          ProbeWriteCause(cause)) {
        return cause;
      }
      break;
    default:
      break;
  }
  switch (code & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return ERROR_BADDB;
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
    case SQLITE_MISMATCH:
      return ERROR_INVALID_PARAMETER;
    case SQLITE_READONLY: {
      // A store we may only read: on a read-only file system, or a file without write
      // permission for us (which is access denied). What is stored can still be read.
      LONG cause = ERROR_ACCESS_DENIED;
      if (ProbeWriteCause(cause) && cause == ERROR_WRITE_PROTECT) return cause;
      return ERROR_ACCESS_DENIED;
    }
    default:
      // Read-only, cannot open, no permission, I/O failure, corrupt or foreign file: the
      // store cannot be used, which callers see as not being allowed to.
      return ERROR_ACCESS_DENIED;
  }
}

LONG ErrorOf(sqlite3* db, int code) {
  return ErrorFromSqlite(code, db ? sqlite3_system_errno(db) : 0);
}

void Check(sqlite3* db, int code) {
  if (code != SQLITE_OK && code != SQLITE_DONE && code != SQLITE_ROW)
    throw StoreError{code, db ? sqlite3_system_errno(db) : 0};
}

// A prepared statement, finalised on every way out.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    Check(db, sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr));
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::int64_t value) {
    Check(db_, sqlite3_bind_int64(stmt_, index, value));
    return *this;
  }
  Statement& Bind(int index, std::string_view text) {
    // A null pointer would bind SQL NULL; the default value's name is the empty text.
    const char* data = text.data() ? text.data() : "";
    Check(db_, sqlite3_bind_text64(stmt_, index, data, text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    return *this;
  }
  Statement& BindBlob(int index, const BYTE* data, std::size_t size) {
    static const BYTE kEmpty = 0;
    Check(db_, sqlite3_bind_blob64(stmt_, index, size ? data : &kEmpty, size, SQLITE_TRANSIENT));
    return *this;
  }
  // True while there is a row.
  bool Step() {
    int code = sqlite3_step(stmt_);
    if (code == SQLITE_ROW) return true;
    Check(db_, code);
    return false;
  }
  std::int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) {
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
  }
  std::vector<BYTE> Blob(int column) {
    auto data = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, column));
    auto size = static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column));
    return data ? std::vector<BYTE>(data, data + size) : std::vector<BYTE>();
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteTransaction final : public Transaction {
 public:
  explicit SqliteTransaction(sqlite3* db) : db_(db) {}

  bool KeyExists(KeyId id) override {
    Statement s(db_, "SELECT 1 FROM keys WHERE id = ?");
    return s.Bind(1, id).Step();
  }
  std::optional<KeyId> FindChild(KeyId parent, std::string_view name) override {
    Statement s(db_, "SELECT id FROM keys WHERE parent_id = ? AND name_fold = ?");
    if (!s.Bind(1, parent).Bind(2, Fold(name)).Step()) return std::nullopt;
    return s.Int(0);
  }
  KeyId AddChild(KeyId parent, std::string_view name) override {
    Statement s(db_, "INSERT INTO keys(parent_id, name, name_fold) VALUES(?, ?, ?)");
    s.Bind(1, parent).Bind(2, name).Bind(3, Fold(name)).Step();
    return sqlite3_last_insert_rowid(db_);
  }
  std::optional<std::string> ChildAt(KeyId parent, std::uint64_t index) override {
    Statement s(db_,
                "SELECT name FROM keys WHERE parent_id = ? ORDER BY name_fold LIMIT 1 OFFSET ?");
    if (!s.Bind(1, parent).Bind(2, static_cast<std::int64_t>(index)).Step()) return std::nullopt;
    return s.Text(0);
  }
  std::vector<Child> Children(KeyId parent) override {
    Statement s(db_, "SELECT id, name FROM keys WHERE parent_id = ? ORDER BY name_fold");
    s.Bind(1, parent);
    std::vector<Child> children;
    while (s.Step()) children.push_back({s.Int(0), s.Text(1)});
    return children;
  }
  bool HasChildren(KeyId id) override {
    Statement s(db_, "SELECT 1 FROM keys WHERE parent_id = ? LIMIT 1");
    return s.Bind(1, id).Step();
  }
  void DeleteKey(KeyId id) override {
    Statement values(db_, "DELETE FROM vals WHERE key_id = ?");
    values.Bind(1, id).Step();
    Statement key(db_, "DELETE FROM keys WHERE id = ?");
    key.Bind(1, id).Step();
  }
  std::optional<Value> GetValue(KeyId key, std::string_view name) override {
    Statement s(db_, "SELECT name, type, data FROM vals WHERE key_id = ? AND name_fold = ?");
    if (!s.Bind(1, key).Bind(2, Fold(name)).Step()) return std::nullopt;
    return Value{s.Text(0), static_cast<DWORD>(s.Int(1)), s.Blob(2)};
  }
  void SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data,
                std::size_t size) override {
    // An existing value keeps the case of its name, as a key does.
    Statement s(
        db_,
        "INSERT INTO vals(key_id, name, name_fold, type, data) VALUES(?, ?, ?, ?, ?) "
        "ON CONFLICT(key_id, name_fold) DO UPDATE SET type = excluded.type, data = excluded.data");
    s.Bind(1, key).Bind(2, name).Bind(3, Fold(name)).Bind(4, static_cast<std::int64_t>(type));
    s.BindBlob(5, data, size).Step();
  }
  bool DeleteValue(KeyId key, std::string_view name) override {
    Statement s(db_, "DELETE FROM vals WHERE key_id = ? AND name_fold = ?");
    s.Bind(1, key).Bind(2, Fold(name)).Step();
    return sqlite3_changes(db_) > 0;
  }
  std::vector<Value> Values(KeyId key) override {
    Statement s(db_, "SELECT name, type, data FROM vals WHERE key_id = ? ORDER BY name_fold");
    s.Bind(1, key);
    std::vector<Value> values;
    while (s.Step()) values.push_back({s.Text(0), static_cast<DWORD>(s.Int(1)), s.Blob(2)});
    return values;
  }

 private:
  sqlite3* db_;
};

// mkdir -p for the directory that will hold the database.
void CreateParentDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string dir = path.substr(0, slash);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}

// Whether the file exists and this process may read it but not write it or its directory.
bool MayOnlyRead(const std::string& path) {
  if (::access(path.c_str(), R_OK) != 0) return false;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return ::access(path.c_str(), W_OK) != 0 ||
         ::access(parent.empty() ? "." : parent.c_str(), W_OK) != 0;
}

// A path as the path of a file: URI ("%", "?" and "#" escaped).
std::string UriPath(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      out += '%';
      out += kHex[static_cast<unsigned char>(c) >> 4];
      out += kHex[static_cast<unsigned char>(c) & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

class Connection {
 public:
  ~Connection() { Close(); }

  // Opens (or re-opens, when the path changed or the process forked) the database.
  LONG Ensure() {
    std::string path = RegistryPath();
    if (db_ && path == path_ && pid_ == ::getpid()) return ERROR_SUCCESS;
    if (db_ && pid_ != ::getpid()) {
      // A connection must not cross a fork: the child leaves it alone and opens its own.
      db_ = nullptr;
    }
    Close();
    sqlite3* db = nullptr;
    LONG error = Open(path, false, db);
    // A store this user may only read, in a directory they may not write: SQLite cannot
    // make the files that reading a WAL store needs beside it, so it is read as a file
    // that does not change (which it cannot, by this user's hand).
    if (error != ERROR_SUCCESS && error != ERROR_BADDB && MayOnlyRead(path)) {
      error = Open(path, true, db);
    }
    if (error != ERROR_SUCCESS) return error;
    db_ = db;
    path_ = path;
    pid_ = ::getpid();
    return ERROR_SUCCESS;
  }

  sqlite3* get() const { return db_; }

 private:
  // Opens the store at `path` (readOnly: as a file that does not change) and makes sure
  // it is ours, with its schema.
  static LONG Open(const std::string& path, bool readOnly, sqlite3*& out) {
    sqlite3* db = nullptr;
    int code;
    if (readOnly) {
      code = sqlite3_open_v2(("file:" + UriPath(path) + "?immutable=1").c_str(), &db,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    } else {
      CreateParentDirectories(path);
      code = sqlite3_open_v2(path.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    }
    if (code != SQLITE_OK) {
      LONG error = ERROR_ACCESS_DENIED;
      if (db) SystemCause(sqlite3_system_errno(db), error);
      sqlite3_close(db);
      return error;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    // Someone else's database, or text written over ours, is left exactly as it is.
    Identity identity = Identity::kForeign;
    code = Identify(db, identity);
    if (code != SQLITE_OK || identity == Identity::kForeign) {
      const LONG error = code != SQLITE_OK ? ErrorOf(db, code) : ERROR_BADDB;
      sqlite3_close(db);
      return error;
    }
    // WAL lets readers go on while another process writes. A store that cannot switch
    // (read-only, or busy for longer than the time-out) still works in its own mode.
    if (!readOnly) sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    code =
        readOnly ? SQLITE_READONLY : sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (code == SQLITE_OK) {
      code = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
      code = sqlite3_exec(db, code == SQLITE_OK ? "COMMIT" : "ROLLBACK", nullptr, nullptr,
                          nullptr) == SQLITE_OK
                 ? code
                 : SQLITE_IOERR;
    } else if ((code & 0xFF) == SQLITE_READONLY) {
      // A read-only store is usable for reading if someone else created the schema.
      code = sqlite3_exec(db, "SELECT 1 FROM keys LIMIT 1", nullptr, nullptr, nullptr);
    }
    if (code != SQLITE_OK) {
      const LONG error = ErrorOf(db, code);
      sqlite3_close(db);
      return error;
    }
    out = db;
    return ERROR_SUCCESS;
  }

  void Close() {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    path_.clear();
  }
  sqlite3* db_ = nullptr;
  std::string path_;
  pid_t pid_ = 0;
};

std::mutex gMutex;

Connection& TheConnection() {
  static Connection connection;
  return connection;
}

}  // namespace

LONG Run(bool write, const std::function<LONG(Transaction&)>& work) {
  std::lock_guard lock(gMutex);
  Connection& connection = TheConnection();
  if (LONG error = connection.Ensure(); error != ERROR_SUCCESS) return error;
  sqlite3* db = connection.get();
  int code = sqlite3_exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) return ErrorOf(db, code);
  LONG result;
  try {
    SqliteTransaction transaction(db);
    result = work(transaction);
    if (result == ERROR_SUCCESS) {
      code = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      if (code == SQLITE_OK) return ERROR_SUCCESS;
      result = ErrorOf(db, code);
    }
  } catch (const StoreError& error) {
    result = ErrorFromSqlite(error.code, error.systemErrno);
  } catch (const std::bad_alloc&) {
    result = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return result;
}

}  // namespace platform::registry

namespace platform {

std::string RegistryPath() {
  if (const char* path = std::getenv("VELMORA_REGISTRY"); path && *path) return path;
  return UserDataDirectory() + "/velmora/registry.db";
}

LONG CheckRegistryStore() {
  std::lock_guard lock(registry::gMutex);
  return registry::TheConnection().Ensure();
}

bool IsRegistryStoreFile(const std::string& path) {
  namespace fs = std::filesystem;
  const std::string store = RegistryPath();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const fs::path other = store + suffix;
    std::error_code ec;
    if (fs::equivalent(path, other, ec) && !ec) return true;
    // Not there yet: the same name counts, however it is spelled.
    const fs::path a = fs::weakly_canonical(fs::absolute(path, ec), ec);
    const fs::path b = fs::weakly_canonical(fs::absolute(other, ec), ec);
    if (!a.empty() && a == b) return true;
  }
  return false;
}

}  // namespace platform
