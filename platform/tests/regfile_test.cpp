#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/testing/system_for_tests.h"
#include "platform/tests/registry_fixture.h"

namespace platform {
namespace {

using RegFile = testing::FreshRegistry;
constexpr LONG kOk = ERROR_SUCCESS;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

const char kSample[] =
    "REGEDIT4\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora]\n"
    "\"InstallDirectory\"=\"C:\\\\Program Files\\\\Velmora\"\n"
    "\n"
    "; one entry of the firmware catalogue\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware\\KV70 \"2.01\"]\n"
    "\"Description\"=\"KV70 \\\"2.01\\\"\"\n"
    "\"DeviceType\"=\"KV70\"\n"
    "\"FirmwarePath\"=\"C:\\\\Velmora\\\\Firmware\\\\kv70_201.x\"\n"
    "\"OriginalInstall\"=dword:0000000a\n"
    "@=\"default\"\n"
    "\"Blob\"=hex:00,01,fe,ff\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\n"
    "  19,1a,1b,1c,1d,1e,1f\n"
    "\"Multi\"=hex(7):41,00,42,00,00\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\QUARNELL\\Velmora\\BDDevice]\n";

TEST_F(RegFile, ImportCreatesKeysAndTypedValues) {
  WriteAll(Path("in.reg"), kSample);
  std::string error;
  ASSERT_EQ(RegImportFile(Path("in.reg"), &error), kOk) << error;

  RegKey host;
  ASSERT_EQ(
      RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarnell\\Velmora", 0, KEY_READ, host.put()),
      kOk);
  EXPECT_EQ(GetString(host.get(), "InstallDirectory"), "C:\\Program Files\\Velmora");
  RegKey entry;
  ASSERT_EQ(RegOpenKeyEx(host.get(), "Firmware\\KV70 \"2.01\"", 0, KEY_READ, entry.put()), kOk);
  EXPECT_EQ(GetString(entry.get(), "Description"), "KV70 \"2.01\"");
  EXPECT_EQ(GetString(entry.get(), nullptr), "default");
  DWORD type = 0, value = 0, size = 4;
  EXPECT_EQ(RegQueryValueEx(entry.get(), "OriginalInstall", nullptr, &type,
                            reinterpret_cast<BYTE*>(&value), &size),
            kOk);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(value, 10u);
  BYTE bytes[64];
  size = sizeof bytes;
  EXPECT_EQ(RegQueryValueEx(entry.get(), "Blob", nullptr, &type, bytes, &size), kOk);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(std::vector<BYTE>(bytes, bytes + size), (std::vector<BYTE>{0x00, 0x01, 0xFE, 0xFF}));
  size = sizeof bytes;
  EXPECT_EQ(RegQueryValueEx(entry.get(), "Long", nullptr, &type, bytes, &size), kOk);
  EXPECT_EQ(size, 32u);
  EXPECT_EQ(bytes[31], 0x1F);
  size = sizeof bytes;
  EXPECT_EQ(RegQueryValueEx(entry.get(), "Multi", nullptr, &type, bytes, &size), kOk);
  EXPECT_EQ(type, 7u);
  EXPECT_EQ(size, 5u);
  RegKey profile;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Quarnell\\Velmora\\BDDevice", 0, KEY_READ,
                         profile.put()),
            kOk);
}

TEST_F(RegFile, DeletionLinesRemoveKeysTreesAndValues) {
  WriteAll(Path("in.reg"), kSample);
  ASSERT_EQ(RegImportFile(Path("in.reg")), kOk);
  WriteAll(Path("del.reg"),
           "REGEDIT4\r\n\r\n"
           "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware]\r\n"
           "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Not\\There]\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora]\r\n"
           "\"InstallDirectory\"=-\r\n"
           "\"NeverWas\"=-\r\n");
  std::string error;
  ASSERT_EQ(RegImportFile(Path("del.reg"), &error), kOk) << error;
  RegKey host;
  ASSERT_EQ(
      RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarnell\\Velmora", 0, KEY_READ, host.put()),
      kOk);
  EXPECT_EQ(Subkeys(host.get()), std::vector<std::string>{});
  EXPECT_EQ(GetString(host.get(), "InstallDirectory"), "<missing>");
}

TEST_F(RegFile, ExportThenImportIntoAnEmptyStoreGivesTheSameStore) {
  WriteAll(Path("in.reg"), kSample);
  ASSERT_EQ(RegImportFile(Path("in.reg")), kOk);
  // Values the quoted form cannot carry must survive too.
  {
    RegKey key;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Odd\\b", 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, key.put(), nullptr),
              kOk);
    const BYTE twoLines[] = {'a', '\n', 'b', 0};
    const BYTE noZero[] = {'a', 'b'};
    const BYTE shortDword[] = {1, 2};
    EXPECT_EQ(RegSetValueEx(key.get(), "TwoLines", 0, REG_SZ, twoLines, sizeof twoLines), kOk);
    EXPECT_EQ(RegSetValueEx(key.get(), "NoZero", 0, REG_SZ, noZero, sizeof noZero), kOk);
    EXPECT_EQ(RegSetValueEx(key.get(), "ShortDword", 0, REG_DWORD, shortDword, sizeof shortDword),
              kOk);
    EXPECT_EQ(RegSetValueEx(key.get(), "Empty", 0, REG_BINARY, nullptr, 0), kOk);
    EXPECT_EQ(SetString(key.get(), "back\\slash \"quoted\"", "x"), kOk);
    Create("SOFTWARE\\Odd\\A");
    Create("SOFTWARE\\Odd\\c\\deep");
  }
  ASSERT_EQ(RegExportFile(Path("all.reg")), kOk);
  const std::string first = ReadAll(Path("all.reg"));
  EXPECT_EQ(first.substr(0, 12), "REGEDIT4\r\n\r\n");
  // Parents before children, siblings in case-insensitive order.
  EXPECT_LT(first.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Odd]"),
            first.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Odd\\A]"));
  EXPECT_LT(first.find("\\Odd\\A]"), first.find("\\Odd\\b]"));
  EXPECT_LT(first.find("\\Odd\\b]"), first.find("\\Odd\\c]"));
  EXPECT_LT(first.find("\\Odd\\c]"), first.find("\\Odd\\c\\deep]"));

  platform_test::SetEnv("VELMORA_REGISTRY", Path("empty.db").c_str());
  std::string error;
  ASSERT_EQ(RegImportFile(Path("all.reg"), &error), kOk) << error;
  ASSERT_EQ(RegExportFile(Path("again.reg")), kOk);
  EXPECT_EQ(ReadAll(Path("again.reg")), first);

  RegKey key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Odd\\b", 0, KEY_READ, key.put()), kOk);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueEx(key.get(), "NoZero", nullptr, &type, nullptr, &size), kOk);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(RegQueryValueEx(key.get(), "ShortDword", nullptr, &type, nullptr, &size), kOk);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(GetString(key.get(), "back\\slash \"quoted\""), "x");
}

TEST_F(RegFile, ExportOfOneKeyWritesItAndWhatIsBelowIt) {
  WriteAll(Path("in.reg"), kSample);
  ASSERT_EQ(RegImportFile(Path("in.reg")), kOk);
  ASSERT_EQ(
      RegExportFile(Path("fw.reg"), "hkey_local_machine\\software\\quarnell\\velmora\\firmware"),
      kOk);
  std::string text = ReadAll(Path("fw.reg"));
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware]\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"OriginalInstall\"=dword:0000000a\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"Description\"=\"KV70 \\\"2.01\\\"\"\r\n"), std::string::npos);
  EXPECT_EQ(text.find("InstallDirectory"), std::string::npos);
  EXPECT_EQ(text.find("HKEY_CURRENT_USER"), std::string::npos);
  EXPECT_EQ(RegExportFile(Path("none.reg"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing"),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(Path("none.reg")));
  EXPECT_EQ(RegExportFile(Path("none.reg"), "HKEY_NOWHERE\\x"),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
}

TEST_F(RegFile, MalformedFilesNameTheLineAndWriteNothing) {
  struct Row {
    const char* text;
    const char* expected;  // part of the error message
  };
  const Row rows[] = {
      {"", "line 1: not a registry file"},
      {"Windows Registry Editor Version 4.00\n", "line 1: not a registry file"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n[HKEY_LOCAL_MACHINE\\B\n",
       "line 5: key line without"},
      {"REGEDIT4\n\n[HKEY_NOWHERE\\A]\n", "line 3: unknown root key"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", "line 3: empty key name"},
      {"REGEDIT4\n\n\"x\"=\"1\"\n", "line 3: value line outside a key section"},
      {"REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n", "line 4: value line outside"},
      {"REGEDIT4\n\n[-HKEY_LOCAL_MACHINE]\n", "line 3: a root key cannot be deleted"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"unterminated\n",
       "line 4: quoted string without"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"a\\nb\"\n", "line 4: unknown escape"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"a\" junk\n", "line 4: unexpected text"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:123456789\n", "line 4: a dword needs"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:12g4\n", "line 4: bad hex digit"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,2,03\n", "line 4: bad hex byte"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(zz):01\n", "line 4: bad value type"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,\\\n  02,\\\n",
       "line 5: continuation line missing"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,\\\n  zz\n\"y\"=1\n",
       "line 4: bad hex byte"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,\\\n  02\n\"y\"=1\n",
       "line 6: value data must be"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"\n", "line 4: expected = after"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\nx=\"1\"\n", "line 4: expected [key]"},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=text\n", "line 4: value data must be"},
  };
  for (const auto& row : rows) {
    WriteAll(Path("bad.reg"), row.text);
    std::string error;
    EXPECT_EQ(RegImportFile(Path("bad.reg"), &error), static_cast<LONG>(ERROR_INVALID_DATA))
        << row.text;
    EXPECT_NE(error.find(row.expected), std::string::npos) << "got: " << error;
    // Whatever came before the mistake was not written either.
    RegKey key;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, key.put()),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        << row.text;
  }
  std::string error;
  EXPECT_EQ(RegImportFile(Path("missing.reg"), &error), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST_F(RegFile, ImportToleratesBomCommentsAndCrlf) {
  WriteAll(Path("in.reg"),
           "\xEF\xBB\xBFREGEDIT4\r\n\r\n; comment\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\r\n  \"v\" "
           "= dword:1  \r\n");
  std::string error;
  ASSERT_EQ(RegImportFile(Path("in.reg"), &error), kOk) << error;
  RegKey key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\B", 0, KEY_READ, key.put()), kOk);
  DWORD value = 0, size = 4;
  EXPECT_EQ(
      RegQueryValueEx(key.get(), "v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
      kOk);
  EXPECT_EQ(value, 1u);
}

// Windows' registry editor writes version 5.00 files in UTF-16LE with a byte-order mark;
// the same text may come in UTF-8, and a REGEDIT4 file may come in UTF-16. Text that is
// not ASCII arrives as UTF-8 in the store.
std::string Utf16(const std::string& ascii, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    if (bigEndian) out += '\0';
    out += c;
    if (!bigEndian) out += '\0';
  }
  return out;
}

TEST_F(RegFile, WindowsFilesInUtf16AndUtf8AreRead) {
  const std::string v5 =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\W]\r\n"
      "\"Owner\"=\"M@ller\"\r\n\"Flag\"=dword:00000007\r\n";
  const std::string v4 =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\W]\r\n\"Owner\"=\"M@ller\"\r\n"
      "\"Flag\"=dword:00000007\r\n";
  // '@' in the ASCII text above stands for u-umlaut, spelled in each encoding below.
  auto umlaut = [](std::string text, const std::string& code) {
    const std::size_t at = text.find("M@") + 1;
    return text.replace(at, 1, code);
  };
  auto utf16 = [&](const std::string& text, bool big) {
    std::string bytes = Utf16(text, big);
    const std::size_t at = bytes.find(big ? std::string("\0@", 2) : std::string("@\0", 2));
    return bytes.replace(at, 2, big ? std::string("\0\xFC", 2) : std::string("\xFC\0", 2));
  };
  const struct {
    const char* what;
    std::string bytes;
  } rows[] = {
      {"version 5.00, UTF-16LE with BOM", utf16(v5, false)},
      {"version 5.00, UTF-16BE with BOM", utf16(v5, true)},
      {"version 5.00, UTF-8", umlaut(v5, "\xC3\xBC")},
      {"version 5.00, UTF-8 with BOM", "\xEF\xBB\xBF" + umlaut(v5, "\xC3\xBC")},
      {"REGEDIT4, UTF-16LE with BOM", utf16(v4, false)},
  };
  for (const auto& row : rows) {
    {
      RegKey root;
      ASSERT_EQ(
          RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, root.put()) == kOk ||
              Subkeys(HKEY_LOCAL_MACHINE).empty(),
          true);
      if (root) RegDeleteKey(root.get(), "W");
    }
    WriteAll(Path("win.reg"), row.bytes);
    std::string error;
    ASSERT_EQ(RegImportFile(Path("win.reg"), &error), kOk) << row.what << ": " << error;
    RegKey key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\W", 0, KEY_READ, key.put()), kOk)
        << row.what;
    EXPECT_EQ(GetString(key.get(), "Owner"), "M\xC3\xBCller") << row.what;
    DWORD value = 0, size = 4;
    EXPECT_EQ(RegQueryValueEx(key.get(), "Flag", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                              &size),
              kOk);
    EXPECT_EQ(value, 7u) << row.what;
  }
}

// Windows writes the string types it cannot quote (expandable, multi-string) as hex of
// their UTF-16LE bytes in a version 5.00 file, and of their narrow bytes in REGEDIT4.
TEST_F(RegFile, StringTypesInHexAreUtf16InVersion5Files) {
  auto raw = [](HKEY key, const char* name, DWORD expectedType) {
    BYTE buffer[256];
    DWORD size = sizeof buffer, type = 0;
    if (RegQueryValueEx(key, name, nullptr, &type, buffer, &size) != kOk) return std::string("?");
    if (type != expectedType) return "<type " + std::to_string(type) + ">";
    return std::string(reinterpret_cast<const char*>(buffer), size);
  };
  const std::string v5 =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\H]\r\n"
      "\"Path\"=hex(2):25,00,41,00,25,00,fc,00,00,00\r\n"
      "\"List\"=hex(7):41,00,00,00,42,00,00,00,00,00\r\n"
      "\"Blob\"=hex:41,00\r\n";
  WriteAll(Path("h.reg"), Utf16(v5, false));
  std::string error;
  ASSERT_EQ(RegImportFile(Path("h.reg"), &error), kOk) << error;
  {
    RegKey key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\H", 0, KEY_READ, key.put()), kOk);
    EXPECT_EQ(raw(key.get(), "Path", REG_EXPAND_SZ), std::string("%A%\xC3\xBC\0", 6));
    EXPECT_EQ(raw(key.get(), "List", REG_MULTI_SZ), std::string("A\0B\0\0", 5));
    EXPECT_EQ(raw(key.get(), "Blob", REG_BINARY), std::string("A\0", 2));  // bytes stay bytes
  }
  ASSERT_EQ(RegExportFile(Path("4.reg"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\H"), kOk);
  const std::string v4 = ReadAll(Path("4.reg"));
  EXPECT_NE(v4.find("\"Path\"=hex(2):25,41,25,c3,bc,00\r\n"), std::string::npos) << v4;
  EXPECT_NE(v4.find("\"List\"=hex(7):41,00,42,00,00\r\n"), std::string::npos) << v4;
  ASSERT_EQ(RegExportFile(Path("5.reg"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\H", true), kOk);
  const std::string again = ReadAll(Path("5.reg"));
  for (const char* line : {"\"Path\"=hex(2):25,00,41,00,25,00,fc,00,00,00\r\n",
                           "\"List\"=hex(7):41,00,00,00,42,00,00,00,00,00\r\n"}) {
    EXPECT_NE(again.find(Utf16(line, false).substr(2)), std::string::npos) << line;
  }

  // Half a UTF-16 unit is refused with its line, and nothing is written.
  WriteAll(Path("odd.reg"), Utf16("Windows Registry Editor Version 5.00\r\n\r\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Odd]\r\n"
                                  "\"Path\"=hex(2):25,00,41\r\n",
                                  false));
  EXPECT_EQ(RegImportFile(Path("odd.reg"), &error), static_cast<LONG>(ERROR_INVALID_DATA));
  EXPECT_NE(error.find("line 4: string data in hex(2)"), std::string::npos) << error;
  RegKey odd;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Odd", 0, KEY_READ, odd.put()),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegFile, BrokenUtf16IsRefusedWithoutWriting) {
  const struct {
    const char* what;
    std::string bytes;
    const char* expected;
  } rows[] = {
      {"UTF-16 without its BOM",
       Utf16("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", false).substr(2), "a NUL character"},
      {"NUL on a continuation line",
       std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:01,\\\r\n  02\0\r\n", 57),
       "line 5: a NUL character"},
      {"odd length", Utf16("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", false) + "x",
       "odd number of bytes"},
      {"lone surrogate",
       Utf16("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", false) + std::string("\x00\xD8", 2),
       "surrogate"},
  };
  for (const auto& row : rows) {
    WriteAll(Path("bad.reg"), row.bytes);
    std::string error;
    EXPECT_EQ(RegImportFile(Path("bad.reg"), &error), static_cast<LONG>(ERROR_INVALID_DATA))
        << row.what;
    EXPECT_NE(error.find(row.expected), std::string::npos) << row.what << ": " << error;
    RegKey key;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, key.put()),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  }
}

TEST_F(RegFile, UnicodeExportIsWhatWindowsWritesAndReadsBack) {
  Create("SOFTWARE\\U");
  {
    RegKey key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\U", 0, KEY_ALL_ACCESS, key.put()), kOk);
    ASSERT_EQ(SetString(key.get(), "Owner", "M\xC3\xBCller \xF0\x9F\x98\x80"), kOk);
  }
  ASSERT_EQ(RegExportFile(Path("u.reg"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\U", true), kOk);
  const std::string bytes = ReadAll(Path("u.reg"));
  const std::string head = Utf16("Windows Registry Editor Version 5.00\r\n", false);
  ASSERT_GE(bytes.size(), head.size());
  EXPECT_EQ(bytes.substr(0, head.size()), head);
  EXPECT_NE(bytes.find(std::string("\xFC\0", 2)), std::string::npos);  // u-umlaut
  EXPECT_NE(bytes.find(std::string("\x3D\xD8\x00\xDE", 4)),
            std::string::npos);  // the surrogate pair
  // The default stays REGEDIT4 in single bytes.
  ASSERT_EQ(RegExportFile(Path("a.reg"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\U"), kOk);
  EXPECT_EQ(ReadAll(Path("a.reg")).substr(0, 10), "REGEDIT4\r\n");
  {
    RegKey root;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, root.put()), kOk);
    ASSERT_EQ(RegDeleteKey(root.get(), "U"), kOk);
  }
  std::string error;
  ASSERT_EQ(RegImportFile(Path("u.reg"), &error), kOk) << error;
  RegKey key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\U", 0, KEY_READ, key.put()), kOk);
  EXPECT_EQ(GetString(key.get(), "Owner"), "M\xC3\xBCller \xF0\x9F\x98\x80");
}

// An export over the database, under its own name or another that reaches it, is
// refused and the registry keeps working.
TEST_F(RegFile, ExportNeverWritesOverTheStore) {
  if (!platform_test::RegistryIsAFile()) GTEST_SKIP() << "the system registry is no file";
  Create("SOFTWARE\\Kept");
  const std::string store = RegistryPath();
  std::filesystem::create_symlink(store, Path("alias.db"));
  for (const std::string& target :
       {store, Path("alias.db"), Path("./registry.db"), store + "-wal"}) {
    EXPECT_TRUE(IsRegistryStoreFile(target)) << target;
    EXPECT_EQ(RegExportFile(target), static_cast<LONG>(ERROR_ACCESS_DENIED)) << target;
  }
  EXPECT_FALSE(IsRegistryStoreFile(Path("other.reg")));
  EXPECT_EQ(CheckRegistryStore(), kOk);
  RegKey key;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", 0, KEY_READ, key.put()), kOk);
}

}  // namespace
}  // namespace platform
