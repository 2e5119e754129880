// Pure helpers: choosing the operation, the summary's COM port, box choices, the
// progress bar and the --device value.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "framework/plugin_abi.h"
#include "host/core/device_choice.h"
#include "host/core/exit_codes.h"
#include "host/core/list_choice.h"
#include "host/core/message_box_text.h"
#include "host/core/operation_choice.h"
#include "host/core/summary_page.h"
#include "host/terminal/run_view.h"
#include "platform/testing/system_for_tests.h"

namespace velmora {
namespace {

const std::vector<std::string> kNames = {"Software upgrade", "Configuration retrieval",
                                         "File system dump"};

TEST(FindListChoice, ExactFirstThenTheOnlyOneThatDiffersInCaseAlone) {
  const std::vector<std::string> items = {"KV70 2.01", "kv70 2.01", "Field 3.0", ""};
  struct Row {
    const char* wanted;
    int index;
  } const rows[] = {
      {"KV70 2.01", 0}, {"kv70 2.01", 1}, {"Kv70 2.01", -1},  // two differ in case alone
      {"FIELD 3.0", 2}, {"Field", -1},    {"", 3},
  };
  for (const auto& row : rows)
    EXPECT_EQ(FindListChoice(items, row.wanted), row.index) << row.wanted;
  EXPECT_EQ(FindListChoice({}, "x"), -1);
  EXPECT_EQ(NotInList("x", "Available Software", true),
            "\"x\" is not in the list \"Available Software\", which is empty");
  EXPECT_EQ(ListChoiceNeeded("P", ""),
            "--firmware is needed: the page \"P\" asks for a choice from its list");
}

TEST(ChooseOperation, TakesIndexesAndWordsOfTheName) {
  struct Row {
    const char* wanted;
    int index;
  };
  const Row rows[] = {
      {"0", 0},       {"2", 2},      {"upgrade", 0},
      {"UPGRADE", 0}, {"config", 1}, {"configuration", 1},
      {"dump", 2},    {"file", 2},   {"software upgrade", 0},
      {"retr", 1},
  };
  for (const Row& row : rows) {
    std::string error;
    EXPECT_EQ(ChooseOperation(row.wanted, kNames, error), row.index) << row.wanted << ": " << error;
  }
}

TEST(ChooseOperation, RefusesUnknownOutOfRangeAndAmbiguousWords) {
  std::string error;
  EXPECT_EQ(ChooseOperation("3", kNames, error), -1);
  EXPECT_NE(error.find("3 operations"), std::string::npos) << error;
  EXPECT_EQ(ChooseOperation("flash", kNames, error), -1);
  EXPECT_NE(error.find("\"flash\""), std::string::npos) << error;
  EXPECT_EQ(ChooseOperation("", kNames, error), -1);
  EXPECT_EQ(ChooseOperation("-1", kNames, error), -1);
  const std::vector<std::string> twins = {"Read settings", "Read log"};
  EXPECT_EQ(ChooseOperation("read", twins, error), -1);
  EXPECT_NE(error.find("more than one"), std::string::npos) << error;
  EXPECT_EQ(ChooseOperation("log", twins, error), 1);
}

TEST(FillComPort, ReplacesOnlyTheFirstPlaceholder) {
  EXPECT_EQ(FillComPort("Connect it to COM%d of the PC.", 3), "Connect it to COM3 of the PC.");
  EXPECT_EQ(FillComPort("COM%d or COM%d", 2), "COM2 or COM%d");
  EXPECT_EQ(FillComPort("100%% sure on COM%d", 6), "100% sure on COM6");
  // A stray conversion in the plug-in's text is shown, never interpreted.
  EXPECT_EQ(FillComPort("%s %n %d", 1), "%s %n 1");
  EXPECT_EQ(FillComPort("ends with %", 1), "ends with %");
  EXPECT_EQ(FillComPort("", 1), "");
}

TEST(MessageBoxText, ChoicesFollowTheStyle) {
  EXPECT_EQ(BoxChoices(MB_OK).size(), 1u);
  EXPECT_EQ(BoxChoices(MB_YESNO).front().result, IDYES);
  EXPECT_EQ(BoxChoices(MB_YESNOCANCEL).size(), 3u);
  EXPECT_EQ(DefaultBoxResult(MB_YESNO), IDYES);
  EXPECT_EQ(DefaultBoxResult(MB_YESNO | 0x100), IDNO);
  EXPECT_EQ(FormatChoices(MB_YESNO), "[y]es  [n]o  (type y or n)");
  EXPECT_EQ(FormatChoices(MB_YESNO | MB_DEFBUTTON2), "[y]es  [n]o  (Enter: No)");
  EXPECT_EQ(FormatChoices(MB_OKCANCEL), "[o]K  [c]ancel  (Enter: OK)");
}

TEST(MessageBoxText, TypedAnswers) {
  struct Row {
    UINT style;
    const char* typed;
    int result;
  };
  const Row rows[] = {
      // Enter never answers Yes: where Yes is the default it asks again (0).
      {MB_YESNO, "y", IDYES},
      {MB_YESNO, "No", IDNO},
      {MB_YESNO, " YES ", IDYES},
      {MB_YESNO, "", 0},
      {MB_YESNO | MB_DEFBUTTON2, "", IDNO},
      {MB_YESNOCANCEL, "", 0},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, "", IDCANCEL},
      {MB_YESNO | MB_DEFBUTTON2, "y", IDYES},
      {MB_YESNO, "ok", 0},
      {MB_OK, "", IDOK},
      {MB_OK, "o", IDOK},
      {MB_OKCANCEL, "c", IDCANCEL},
      {MB_YESNOCANCEL, "cancel", IDCANCEL},
      {MB_YESNO, "maybe", 0},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ParseBoxAnswer(row.style, row.typed), row.result) << row.typed;
}

TEST(MessageBoxText, NobodyAtTheKeyboardTakesTheSafeWayOut) {
  EXPECT_EQ(UnattendedBoxResult(MB_OK | MB_ICONEXCLAMATION, false), IDOK);
  EXPECT_EQ(UnattendedBoxResult(MB_OKCANCEL, false), IDOK);
  EXPECT_EQ(UnattendedBoxResult(MB_YESNO, false), IDNO);
  EXPECT_EQ(UnattendedBoxResult(MB_YESNO, true), IDYES);
  EXPECT_EQ(UnattendedBoxResult(MB_YESNOCANCEL, false), IDNO);
  EXPECT_EQ(UnattendedBoxResult(0x5, true), IDCANCEL);
}

TEST(MessageBoxText, FormatShowsCaptionIconAndEveryLine) {
  const auto lines =
      FormatBox({nullptr, "First\r\n\r\nThird", "DevKV70", MB_ICONEXCLAMATION | MB_SETFOREGROUND});
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "--- DevKV70 (warning) ---");
  EXPECT_EQ(lines[1], "First");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "Third");
}

TEST(ProgressBar, ClampsAndShowsElapsedTime) {
  EXPECT_EQ(FormatProgressBar(50, 65000, 10), "[#####.....]  50%  1:05");
  EXPECT_EQ(FormatProgressBar(130, 0, 10), "[##########] 100%  0:00");
  EXPECT_EQ(FormatProgressBar(-5, 3723000, 10), "[..........]   0%  1:02:03");
  EXPECT_EQ(ClampPercent(101), 100);
  EXPECT_EQ(FormatElapsed(599999), "9:59");
}

TEST(ExitStatus, FollowsTheRunsResult) {
  EXPECT_EQ(ExitStatusForResult(OPERATION_SUCCEEDED), 0);
  EXPECT_EQ(ExitStatusForResult(OPERATION_FAILED), 1);
  EXPECT_EQ(ExitStatusForResult(OPERATION_CANCELED), 2);
  EXPECT_EQ(ExitStatusForResult(77), 1);
}

TEST(DeviceChoice, SimulatorSettingsAreCheckedAndRealtimeIsNoticed) {
  std::string error;
  auto sim = ParseDeviceChoice("sim", error);
  ASSERT_TRUE(sim) << error;
  EXPECT_TRUE(sim->simulator);
  EXPECT_FALSE(sim->realtime);
  auto realtime = ParseDeviceChoice("sim:realtime=1,flash-type=8922", error);
  ASSERT_TRUE(realtime) << error;
  EXPECT_TRUE(realtime->realtime);
  EXPECT_EQ(realtime->name, "sim:realtime=1,flash-type=8922");
  EXPECT_FALSE(ParseDeviceChoice("sim:no-such-key=1", error));
  EXPECT_NE(error.find("no-such-key"), std::string::npos) << error;
}

TEST(DeviceChoice, ADevicePathMustExist) {
  const std::string dir = platform_test::MakeTempDir("device-choice-");
  ASSERT_FALSE(dir.empty());
  const std::string device = dir + "/ttyS-stand-in";
  std::ofstream(device).put('\n');
  std::string error;
  EXPECT_TRUE(ParseDeviceChoice(device, error)) << error;
  EXPECT_FALSE(ParseDeviceChoice(dir + "/ttyUSB-not-here", error));
  EXPECT_NE(error.find("no such device"), std::string::npos) << error;
  EXPECT_FALSE(ParseDeviceChoice(dir, error));
  EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  EXPECT_FALSE(ParseDeviceChoice("/tmp", error));
  EXPECT_FALSE(ParseDeviceChoice("", error));
  EXPECT_EQ(ComVariable(3), "VELMORA_COM3");
}

}  // namespace
}  // namespace velmora
