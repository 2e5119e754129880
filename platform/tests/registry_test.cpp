#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/tests/registry_fixture.h"

namespace platform {
namespace {

using Registry = testing::FreshRegistry;
constexpr LONG kOk = ERROR_SUCCESS;

TEST_F(Registry, CreateMakesIntermediateKeysAndReportsDisposition) {
  RegKey key;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarnell\\Velmora\\Firmware", 0, nullptr,
                           REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, key.put(),
                           &disposition),
            kOk);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegKey again;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarnell\\Velmora\\Firmware", 0, nullptr,
                           REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, again.put(),
                           &disposition),
            kOk);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegKey middle;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarnell", 0, KEY_READ, middle.put()), kOk);
  EXPECT_EQ(Subkeys(middle.get()), std::vector<std::string>{"Velmora"});
  // The two roots are apart.
  RegKey other;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "SOFTWARE", 0, KEY_READ, other.put()),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Registry, OpeningAMissingKeyFailsAndLeavesNoHandle) {
  HKEY key = reinterpret_cast<HKEY>(0x1);
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "x", 0, KEY_READ, nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
}

TEST_F(Registry, NamesIgnoreCaseAndKeepTheirStoredCase) {
  Create("SOFTWARE\\Quarnell");
  RegKey key;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "software\\QUARNELL\\", 0, nullptr, 0,
                           KEY_ALL_ACCESS, nullptr, key.put(), &disposition),
            kOk);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegKey software;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, software.put()), kOk);
  EXPECT_EQ(Subkeys(software.get()), std::vector<std::string>{"Quarnell"});

  EXPECT_EQ(SetString(key.get(), "DeviceType", "KV70"), kOk);
  EXPECT_EQ(GetString(key.get(), "DEVICETYPE"), "KV70");
  EXPECT_EQ(SetString(key.get(), "devicetype", "kv70"), kOk);  // same value, replaced
  EXPECT_EQ(GetString(key.get(), "DeviceType"), "kv70");
}

TEST_F(Registry, SubkeysEnumerateInCaseInsensitiveOrder) {
  for (const char* name :
       {"beta", "Alpha", "gamma", "_under", "Zeta", "alpha2", "KV70 v2.01", "kv70 V1.00"}) {
    Create((std::string("SOFTWARE\\Order\\") + name).c_str());
  }
  RegKey key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order", 0, KEY_READ, key.put()), kOk);
  // Upper-case order, as the Windows registry sorts: '_' comes after the letters.
  EXPECT_EQ(Subkeys(key.get()),
            (std::vector<std::string>{"Alpha", "alpha2", "beta", "gamma", "kv70 V1.00",
                                      "KV70 v2.01", "Zeta", "_under"}));
}

TEST_F(Registry, EnumerationReportsShortBuffersAndTheEnd) {
  Create("SOFTWARE\\E\\LongerName");
  RegKey key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\E", 0, KEY_READ, key.put()), kOk);
  char name[10];
  DWORD length = sizeof name;  // "LongerName" needs 11 with its zero
  EXPECT_EQ(RegEnumKeyEx(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            static_cast<LONG>(ERROR_MORE_DATA));
  char big[11];
  length = sizeof big;
  EXPECT_EQ(RegEnumKeyEx(key.get(), 0, big, &length, nullptr, nullptr, nullptr, nullptr), kOk);
  EXPECT_EQ(length, 10u);
  EXPECT_STREQ(big, "LongerName");
  length = sizeof big;
  EXPECT_EQ(RegEnumKeyEx(key.get(), 1, big, &length, nullptr, nullptr, nullptr, nullptr),
            static_cast<LONG>(ERROR_NO_MORE_ITEMS));
}

TEST_F(Registry, ValuesKeepTypeAndSizeAsStored) {
  RegKey key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", 0, nullptr, 0, KEY_ALL_ACCESS,
                           nullptr, key.put(), nullptr),
            kOk);
  EXPECT_EQ(SetString(key.get(), "Description", "KV70 2.01"), kOk);
  EXPECT_EQ(SetString(key.get(), "Empty", ""), kOk);
  EXPECT_EQ(SetDword(key.get(), "OriginalInstall", 7), kOk);
  EXPECT_EQ(SetString(key.get(), nullptr, "default"), kOk);

  struct Row {
    const char* name;
    DWORD type;
    DWORD size;
  };
  const Row rows[] = {
      {"Description", REG_SZ, 10},
      {"Empty", REG_SZ, 1},
      {"OriginalInstall", REG_DWORD, 4},
      {"", REG_SZ, 8},
  };
  for (const auto& row : rows) {
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueEx(key.get(), row.name, nullptr, &type, nullptr, &size), kOk)
        << row.name;
    EXPECT_EQ(type, row.type) << row.name;
    EXPECT_EQ(size, row.size) << row.name;
  }
  DWORD value = 0, size = sizeof value, type = 0;
  EXPECT_EQ(RegQueryValueEx(key.get(), "OriginalInstall", nullptr, &type,
                            reinterpret_cast<BYTE*>(&value), &size),
            kOk);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(GetString(key.get(), nullptr), "default");

  char small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueEx(key.get(), "Description", nullptr, &type,
                            reinterpret_cast<BYTE*>(small), &size),
            static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(RegQueryValueEx(key.get(), "Missing", nullptr, &type, nullptr, &size),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegQueryValueEx(key.get(), "Description", nullptr, &type,
                            reinterpret_cast<BYTE*>(small), nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));

  EXPECT_EQ(RegDeleteValue(key.get(), "description"), kOk);
  EXPECT_EQ(RegDeleteValue(key.get(), "Description"), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetString(key.get(), "Description"), "<missing>");
  EXPECT_EQ(RegSetValueEx(key.get(), "Bad", 0, REG_BINARY, nullptr, 3),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(RegSetValueEx(key.get(), "Nothing", 0, REG_BINARY, nullptr, 0), kOk);
  EXPECT_EQ(RegQueryValueEx(key.get(), "Nothing", nullptr, &type, nullptr, &size), kOk);
  EXPECT_EQ(size, 0u);
}

TEST_F(Registry, KeysWithSubkeysCannotBeDeleted) {
  Create("SOFTWARE\\D\\Child");
  RegKey child;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\D\\Child", 0, KEY_ALL_ACCESS, child.put()),
            kOk);
  EXPECT_EQ(SetString(child.get(), "Value", "x"), kOk);
  child.Close();

  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\D"),
            static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "software\\d\\CHILD"), kOk);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\D\\Child"),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\D"), kOk);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, ""), static_cast<LONG>(ERROR_INVALID_PARAMETER));

  // A key created again under the same name starts without the old values.
  Create("SOFTWARE\\D\\Child");
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\D\\Child", 0, KEY_READ, child.put()), kOk);
  EXPECT_EQ(GetString(child.get(), "Value"), "<missing>");
}

TEST_F(Registry, HandlesToDeletedKeysReportKeyDeleted) {
  Create("SOFTWARE\\K");
  RegKey key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\K", 0, KEY_ALL_ACCESS, key.put()), kOk);
  ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\K"), kOk);
  Create("SOFTWARE\\K");  // a new key of the same name is another key

  constexpr LONG kDeleted = ERROR_KEY_DELETED;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueEx(key.get(), "x", nullptr, nullptr, nullptr, &size), kDeleted);
  EXPECT_EQ(SetString(key.get(), "x", "y"), kDeleted);
  EXPECT_EQ(RegDeleteValue(key.get(), "x"), kDeleted);
  char name[16];
  DWORD length = sizeof name;
  EXPECT_EQ(RegEnumKeyEx(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            kDeleted);
  RegKey sub;
  EXPECT_EQ(
      RegCreateKeyEx(key.get(), "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, sub.put(), nullptr),
      kDeleted);
  EXPECT_EQ(RegOpenKeyEx(key.get(), nullptr, 0, KEY_READ, sub.put()), kDeleted);
  EXPECT_EQ(RegCloseKey(key.get()), kOk);
  key.put();  // already closed
}

TEST_F(Registry, HandlesAreCheckedForValidityAndAccess) {
  EXPECT_EQ(SetString(nullptr, "x", "y"), static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(SetString(reinterpret_cast<HKEY>(0x1234), "x", "y"),
            static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x1234)), static_cast<LONG>(ERROR_INVALID_HANDLE));
  Create("SOFTWARE\\A");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", 0, KEY_READ, &key), kOk);
  EXPECT_EQ(SetString(key, "x", "y"), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegCloseKey(key), kOk);
  EXPECT_EQ(RegCloseKey(key), static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(SetString(key, "x", "y"), static_cast<LONG>(ERROR_INVALID_HANDLE));
  // Relative opens and creates work from any open key.
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &key), kOk);
  RegKey deeper;
  EXPECT_EQ(
      RegCreateKeyEx(key, "A\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, deeper.put(), nullptr),
      kOk);
  EXPECT_EQ(RegCloseKey(key), kOk);
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B", 0, KEY_READ, deeper.put()), kOk);
}

TEST_F(Registry, MalformedKeyPathsAreRefused) {
  const std::string tooLong(256, 'k');
  const char* paths[] = {"SOFTWARE\\\\Double", "\\Leading", tooLong.c_str()};
  for (const char* path : paths) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                             nullptr),
              static_cast<LONG>(ERROR_INVALID_PARAMETER))
        << path;
    EXPECT_EQ(key, nullptr);
  }
  EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE), std::vector<std::string>{});
}

// The cause, not "access denied": the store's directory is a file.
TEST_F(Registry, AStoreThatCannotBeOpenedSaysWhy) {
  { std::ofstream(Path("file")) << "not a directory"; }
  ::setenv("VELMORA_REGISTRY", Path("file/registry.db").c_str(), 1);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &key, nullptr),
            static_cast<LONG>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(key, nullptr);
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Makes an SQLite database of someone else's with one table.
void MakeForeignDatabase(const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('mine');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
}

// A file that is not a registry (text exported over it, garbage, another program's
// database) is named as such by every call and left exactly as it was; it never reads
// as an empty registry.
TEST_F(Registry, AFileThatIsNotARegistryIsReportedAndLeftAlone) {
  { std::ofstream(Path("text.db")) << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER]\r\n\r\n"; }
  { std::ofstream(Path("garbage.db")) << std::string(4096, 'G'); }
  MakeForeignDatabase(Path("foreign.db"));
  for (const char* name : {"text.db", "garbage.db", "foreign.db"}) {
    const std::string before = FileBytes(Path(name));
    ::setenv("VELMORA_REGISTRY", Path(name).c_str(), 1);
    EXPECT_EQ(CheckRegistryStore(), static_cast<LONG>(ERROR_BADDB)) << name;
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key),
              static_cast<LONG>(ERROR_BADDB))
        << name;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &key, nullptr),
              static_cast<LONG>(ERROR_BADDB))
        << name;
    char subkey[64];
    DWORD length = sizeof subkey;
    EXPECT_EQ(
        RegEnumKeyEx(HKEY_LOCAL_MACHINE, 0, subkey, &length, nullptr, nullptr, nullptr, nullptr),
        static_cast<LONG>(ERROR_BADDB))
        << name << ": must not read as an empty registry";
    EXPECT_EQ(RegExportFile(Path("out.reg")), static_cast<LONG>(ERROR_BADDB)) << name;
    EXPECT_EQ(FileBytes(Path(name)), before) << name;
    EXPECT_FALSE(std::filesystem::exists(Path(std::string(name) + "-wal"))) << name;
  }
}

// A missing or empty file becomes a registry; a store written before the header carried
// its mark is still ours.
TEST_F(Registry, NewEmptyAndEarlierStoresAreUsed) {
  { std::ofstream(Path("empty.db")); }
  for (const char* name : {"new.db", "empty.db"}) {
    ::setenv("VELMORA_REGISTRY", Path(name).c_str(), 1);
    EXPECT_EQ(CheckRegistryStore(), kOk) << name;
    Create("SOFTWARE\\Here");
  }
  // An earlier store: our tables, no mark in the header.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Path("new.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA application_id = 0", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  ::setenv("VELMORA_REGISTRY", Path("other.db").c_str(), 1);
  EXPECT_EQ(CheckRegistryStore(), kOk);
  ::setenv("VELMORA_REGISTRY", Path("new.db").c_str(), 1);
  EXPECT_EQ(CheckRegistryStore(), kOk);
  RegKey key;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Here", 0, KEY_READ, key.put()), kOk);
}

TEST_F(Registry, DefaultPathAndDirectoryCreation) {
  ::setenv("VELMORA_REGISTRY", Path("deeper/still/registry.db").c_str(), 1);
  EXPECT_EQ(RegistryPath(), Path("deeper/still/registry.db"));
  Create("SOFTWARE");
  EXPECT_TRUE(std::filesystem::exists(Path("deeper/still/registry.db")));
  ::unsetenv("VELMORA_REGISTRY");
  std::string home = ::getenv("HOME") ? ::getenv("HOME") : "";
  if (!home.empty()) {
    EXPECT_EQ(RegistryPath(), home + "/.config/velmora/registry.db");
  }
}

TEST_F(Registry, ValuesPersistAcrossReopening) {
  Create("SOFTWARE\\P");
  {
    RegKey key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\P", 0, KEY_ALL_ACCESS, key.put()), kOk);
    EXPECT_EQ(SetString(key.get(), "InstallDirectory", "C:\\Program Files\\Tool"), kOk);
  }
  const std::string path = RegistryPath();
  ::setenv("VELMORA_REGISTRY", Path("other.db").c_str(), 1);
  EXPECT_EQ(Subkeys(HKEY_LOCAL_MACHINE), std::vector<std::string>{});
  ::setenv("VELMORA_REGISTRY", path.c_str(), 1);
  RegKey key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\P", 0, KEY_READ, key.put()), kOk);
  EXPECT_EQ(GetString(key.get(), "InstallDirectory"), "C:\\Program Files\\Tool");
}

// Adds `count` keys named prefix<i>, each with a value naming itself, then enumerates.
bool AddAndEnumerate(const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) {
    std::string path = "SOFTWARE\\Shared\\" + prefix + std::to_string(i);
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                       &key, nullptr) != ERROR_SUCCESS)
      return false;
    std::string text = prefix + std::to_string(i);
    bool ok = RegSetValueEx(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!ok) return false;
    HKEY shared = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, KEY_READ, &shared) != ERROR_SUCCESS)
      return false;
    char name[64];
    DWORD length = sizeof name;
    LONG error = RegEnumKeyEx(shared, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(shared);
    if (error != ERROR_SUCCESS) return false;
  }
  return true;
}

void ExpectAllPresent(const std::vector<std::string>& prefixes, int count) {
  RegKey shared;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, KEY_READ, shared.put()), kOk);
  auto names = testing::FreshRegistry::Subkeys(shared.get());
  EXPECT_EQ(names.size(), prefixes.size() * static_cast<std::size_t>(count));
  for (const auto& prefix : prefixes) {
    for (int i = 0; i < count; ++i) {
      std::string path = "SOFTWARE\\Shared\\" + prefix + std::to_string(i);
      RegKey key;
      ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()), kOk)
          << path;
      EXPECT_EQ(testing::FreshRegistry::GetString(key.get(), "Name"), prefix + std::to_string(i));
    }
  }
}

TEST_F(Registry, TwoProcessesWritingAtOnceLoseNothing) {
  Create("SOFTWARE\\Shared");  // the parent's connection is open when it forks
  constexpr int kCount = 60;
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(AddAndEnumerate("child", kCount) ? 0 : 1);
  bool parentOk = AddAndEnumerate("parent", kCount);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(parentOk);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ExpectAllPresent({"child", "parent"}, kCount);
}

TEST_F(Registry, ThreadsOfOneProcessShareTheStore) {
  constexpr int kCount = 40;
  std::vector<std::thread> threads;
  std::vector<int> ok(3, 0);
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back(
        [&, t] { ok[t] = AddAndEnumerate("t" + std::to_string(t) + "_", kCount); });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ok, (std::vector<int>{1, 1, 1}));
  ExpectAllPresent({"t0_", "t1_", "t2_"}, kCount);
}

// In a child process, so that the limit and the signal's disposition stay there: runs
// `work` and hands back what it returned.
LONG InChild(const std::function<LONG()>& work) {
  int result[2];
  if (::pipe(result) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const LONG value = work();
    (void)!::write(result[1], &value, sizeof value);
    ::_exit(0);
  }
  ::close(result[1]);
  LONG value = -1;
  if (::read(result[0], &value, sizeof value) != sizeof value) value = -1;
  ::close(result[0]);
  ::waitpid(pid, nullptr, 0);
  return value;
}

// A store whose file system is full names that (a file-size limit stands in for a full
// disk: the write fails with EFBIG, as it does with ENOSPC), an import that meets it
// writes nothing, and what was stored stays readable.
TEST_F(Registry, AFullDiskIsDiskFullAndAnImportWritesNothing) {
  Create("SOFTWARE\\Before");
  const std::string reg = Path("big.reg");
  {
    std::ofstream out(reg);
    out << "REGEDIT4\n\n";
    for (int i = 0; i < 2000; ++i) {
      out << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bulk\\Key" << i << "]\n\"Value\"=\""
          << std::string(200, 'x') << "\"\n\n";
    }
  }
  const LONG error = InChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct stat st {};
    ::stat(Path("registry.db").c_str(), &st);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(st.st_size) + 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return RegImportFile(reg);
  });
  EXPECT_EQ(error, static_cast<LONG>(ERROR_DISK_FULL));
  RegKey key;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bulk", 0, KEY_READ, key.put()),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND))
      << "a failed import leaves nothing";
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Before", 0, KEY_READ, key.put()),
            static_cast<LONG>(ERROR_SUCCESS));
}

// A registry path the system cannot take says so, not "access denied".
TEST_F(Registry, APathTooLongIsFileNameTooLong) {
  platform_test::SetEnv("VELMORA_REGISTRY", Path(std::string(300, 'r') + ".db"));
  EXPECT_EQ(CheckRegistryStore(), static_cast<LONG>(ERROR_FILENAME_EXCED_RANGE));
}

// A store the user may only read (here a file and directory without write permission,
// run as a user who respects them) still gives what it holds; a write is refused for
// what it is: access denied here (a read-only file system would say so).
TEST_F(Registry, AStoreThatMayOnlyBeReadIsReadable) {
  Create("SOFTWARE\\Kept");
  std::string text;
  ASSERT_EQ(RegExportText(text), static_cast<LONG>(ERROR_SUCCESS));
  // Root writes whatever the permissions say: the child drops to nobody for the check.
  ::chmod(Path("registry.db").c_str(), 0444);
  ::chmod(Path("").c_str(), 0555);
  const LONG results = InChild([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return LONG{-2};
    std::string again;
    const LONG read = RegExportText(again);
    if (read != ERROR_SUCCESS) return read;
    if (again != text) return LONG{-3};
    RegKey key;
    DWORD disposition = 0;
    return RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, key.put(), &disposition);
  });
  ::chmod(Path("").c_str(), 0755);
  ::chmod(Path("registry.db").c_str(), 0644);
  EXPECT_EQ(results, static_cast<LONG>(ERROR_ACCESS_DENIED));
}

}  // namespace
}  // namespace platform
