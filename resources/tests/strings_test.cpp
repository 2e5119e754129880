// The string table: the texts that are easy to get wrong, the order and uniqueness of
// ids, and that every id the code names resolves through the registered module.
#include "resources/strings.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "framework/afx.h"
#include "resources/resource.h"
#include "resources/testing/kv70_test_module.h"

namespace {

using kv70::resources::StringTable;

std::string Load(UINT id) {
  CString text;
  text.LoadString(id);
  return text.GetString();
}

class StringTableTest : public ::testing::Test {
 protected:
  void SetUp() override { kv70::testing::UseKV70Resources(); }
};

TEST_F(StringTableTest, IdsAscendAndAreUnique) {
  UINT previous = 0;
  for (const auto& entry : StringTable()) {
    EXPECT_GT(entry.id, previous) << "string " << entry.id;
    previous = entry.id;
    EXPECT_NE(entry.text, nullptr);
  }
}

struct Tricky {
  UINT id;
  const char* text;
};

TEST_F(StringTableTest, TrickyTextsAreExact) {
  const Tricky rows[] = {
      {20, "Operation to perform:\r\n\t%s\r\n\r\nUpgrade software to:\r\n\t%s"},
      {22, "Operation to perform:\r\n\t%s"},
      {23, "Operation to perform:\r\n\t%s\r\n\r\nFile system log file:\r\n\t%s"},
      {28, "Connect the KV70 (top or bottom port) to COM%d of the PC using the DB9 cable."},
      {13, "Takes a copy of the KV70's data file system and stores it to a file on your PC."},
      {216, "Timeout getting response from KV!  Check the cables!  Waiting for reconnect..."},
      {154,
       "One or more required fields has been left empty.  In order to add a firmware "
       "entry, all fields must be completed.\n\nPlease review the settings and try again."},
      {157, "DevKV70 Version: %s\n\n%s"},
      {84, "There was a error removing the entry from the registry."},
      {87, "SRecord Files (*.x)|*.x|All files (*.*)|*.*||"},
      {71, "File Dump Files (*.log)|*.log|All files (*.*)|*.*||"},
      {400, "Operation failure!"},
      {500, "Operation failure!"},
      {1100, "Operation Failure!"},
      {301, "COM Port Failure!"},
      {60, "The operation was canceled."},
      {61, "There was a failure with the operation!"},
      {2300, "%s S/N:"},
      {2408, "Erasing file system flash..."},
      {96,
       "There was a fatal error (%ld) while copying %s to %s.\n\nMake sure the drive is not "
       "full or write protected, and try again."},
      {302,
       "COM Failure! [%d] There was a failure [%ld] attempting to open COM%d.\n\nRestart "
       "your computer and try again."},
  };
  for (const auto& row : rows) EXPECT_EQ(Load(row.id), row.text) << "string " << row.id;
}

TEST_F(StringTableTest, SharedFailureTextsAreIdentical) {
  const UINT device[] = {401, 404, 405, 406, 409, 416, 417, 418};
  for (UINT id : device) EXPECT_EQ(Load(id), Load(401)) << "string " << id;
  EXPECT_NE(Load(401).find("[%d]  - "), std::string::npos);
  EXPECT_EQ(Load(1104), Load(1105));
  EXPECT_EQ(Load(1104), Load(1106));
  EXPECT_EQ(Load(303), Load(304));
  EXPECT_EQ(Load(303), Load(305));
}

// Every id the code refers to by name.
TEST_F(StringTableTest, EveryNamedIdHasAText) {
  const UINT ids[] = {
      IDS_UPGRADE_NAME,
      IDS_CONFIG_NAME,
      IDS_DUMP_NAME,
      IDS_UPGRADE_DESCRIPTION,
      IDS_CONFIG_DESCRIPTION,
      IDS_DUMP_DESCRIPTION,
      IDS_UPGRADE_SUMMARY,
      IDS_CONFIG_SUMMARY,
      IDS_DUMP_SUMMARY,
      IDS_UPGRADE_LOWER,
      IDS_CONFIG_LOWER,
      IDS_DUMP_LOWER,
      IDS_CONNECT_INSTRUCTION,
      IDS_UPGRADE_CAPTION,
      IDS_CONFIG_CAPTION,
      IDS_DUMP_CAPTION,
      IDS_UPGRADE_DONE,
      IDS_CONFIG_DONE,
      IDS_DUMP_DONE,
      IDS_OPERATION_DONE,
      IDS_OPERATION_CANCELED,
      IDS_OPERATION_FAILED,
      IDS_LOG_DEFAULT_EXT,
      IDS_LOG_FILE_FILTER,
      IDS_LOG_NO_FILE,
      IDS_DELETE_QUESTION,
      IDS_NO_SELECTION,
      IDS_REMOVE_FAILED,
      IDS_INVALID_LOCATION,
      IDS_ADD_FAILED,
      IDS_SRECORD_FILE_FILTER,
      IDS_DEVICE_TYPE,
      IDS_DEVICE_NAME,
      IDS_COPY_FAILED,
      IDS_ALREADY_INSTALLED,
      IDS_SOFTWARE_FILE_INVALID,
      IDS_CHECK_DISPLAY,
      IDS_FIELDS_EMPTY,
      IDS_FIRMWARE_FILE_INVALID,
      IDS_NONE,
      IDS_FAILURE_BOX,
      IDS_ESTABLISHING,
      IDS_REBOOTING,
      IDS_READING_FILE_SYSTEM,
      IDS_ERASING_PROGRAM_FLASH,
      IDS_UPDATING_SOFTWARE,
      IDS_WAITING_FOR_RECONNECT,
      IDS_CONFIGURING_UPDATE,
      IDS_COLLECTING_GARBAGE,
      IDS_ERASING_FILE_SYSTEM,
      IDS_SERIAL_FAILURE_BASE,
      IDS_DEVICE_FAILURE_BASE,
      IDS_FLASHMON_FAILURE_BASE,
      IDS_BD_FAILURE_BASE,
      IDS_SERIAL_LABEL,
      IDS_COLUMN_OPTION,
      IDS_COLUMN_VALUE,
      IDS_OPTION_ENABLED,
  };
  for (UINT id : ids) EXPECT_FALSE(Load(id).empty()) << "string " << id;
}

// The failure classes reach their texts by arithmetic on the code; each raised code
// must land on a text.
TEST_F(StringTableTest, EveryRaisedFailureCodeHasAText) {
  for (int code : {501, 504, 505, 506, 509, 516, 517, 518, 519})
    EXPECT_FALSE(Load(code - 100).empty()) << code;
  for (int code : {803, 804, 805, 806}) EXPECT_FALSE(Load(code + 300).empty()) << code;
  for (int code : {401, 402, 403, 405, 406, 407, 408, 411, 412, 413, 414, 415, 416})
    EXPECT_FALSE(Load(code + 100).empty()) << code;
  for (int code : {301, 302, 303, 304}) EXPECT_FALSE(Load(code + 1).empty()) << code;
}

TEST_F(StringTableTest, TextsUseOnlyPlainEscapes) {
  // A stray backslash would mean an escape written twice ("\\n" instead of "\n").
  for (const auto& entry : StringTable()) {
    EXPECT_EQ(std::string(entry.text).find('\\'), std::string::npos) << "string " << entry.id;
  }
}

TEST_F(StringTableTest, MissingIdLoadsAsEmpty) {
  EXPECT_EQ(Load(2), "");
  EXPECT_EQ(Load(402), "");
  EXPECT_EQ(Load(IDS_PROJECT_FIRST), "");
}

}  // namespace
