// The station's model from its children's event lines, the event parser, and the log
// files' final names that never replace a file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "host/core/station_model.h"
#include "host/core/station_runner.h"

namespace velmora {
namespace {

TEST(StationJson, ParsesEventLinesAndRefusesTheRest) {
  const auto result = ParseJsonObject(
      R"({"event":"result","version":1,"exit":1,"result":"failed","failure":{"number":506,)"
      R"("text":"Device failure! [506] \u00e9\"x\""},"serial":null,"record":null})");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->Str("event"), "result");
  EXPECT_EQ(result->Num("exit"), 1);
  EXPECT_FALSE(result->Has("serial"));
  EXPECT_EQ(result->objects.at("failure").Str("text"), "Device failure! [506] \xC3\xA9\"x\"");
  EXPECT_EQ(result->objects.at("failure").Num("number"), 506);

  for (const char* bad :
       {"", "{", "{\"a\":}", "{\"a\":1", "{\"a\":1} x", "[1]", "{\"a\":{\"b\":{\"c\":1}}}",
        "{\"a\":\"\x01\"}", "{\"a\":\"\\q\"}", "First run: Velmora keeps its files in /tmp"}) {
    EXPECT_FALSE(ParseJsonObject(bad)) << bad;
  }
  // A surrogate pair and a lone one.
  EXPECT_EQ(ParseJsonObject(R"({"t":"\ud83d\ude00|\ud800"})")->Str("t"),
            "\xF0\x9F\x98\x80|\xEF\xBF\xBD");
}

TEST(StationModel, FollowsARunToItsResult) {
  StationModel model;
  const int slot = model.Add("rfc2217://127.0.0.1:4001");
  model.Started(slot, 10);
  EXPECT_EQ(model.Slot(slot).phase, SlotPhase::Running);
  EXPECT_TRUE(model.Apply(slot, R"({"event":"status","text":"Reading file system..."})", 10));
  EXPECT_TRUE(model.Apply(slot, R"({"event":"progress","position":10})", 12));
  EXPECT_TRUE(model.Apply(slot, R"({"event":"progress","position":30})", 16));
  // 20 points in 4 s: 70 points left take 14 s.
  EXPECT_EQ(model.Slot(slot).secondsLeft, 14);
  EXPECT_EQ(model.StatusText(slot), "Reading file system...");
  // The serial number shows while the run goes on; a result without one keeps it.
  model.Apply(slot, R"({"event":"device","serial":"KV7012345"})", 16);
  EXPECT_EQ(model.Slot(slot).serial, "KV7012345");
  EXPECT_FALSE(model.Apply(slot, "velmora: not an event", 17));
  model.Apply(slot,
              R"({"event":"result","version":1,"exit":0,"result":"succeeded","failure":null,)"
              R"("serial":null,"record":null})",
              20);
  model.Ended(slot, 0, "", 20);
  EXPECT_EQ(model.Slot(slot).phase, SlotPhase::Succeeded);
  EXPECT_EQ(model.Slot(slot).serial, "KV7012345");
  EXPECT_EQ(model.Slot(slot).devicesDone, 1);
  model.finished.push_back({slot, model.Slot(slot)});
  EXPECT_EQ(model.ExitStatus(false), 0);
  EXPECT_EQ(model.ExitStatus(true), 2);
}

TEST(StationModel, AQuestionAnsweredNoIsTheFailure) {
  StationModel model;
  const int slot = model.Add("sim");
  model.Started(slot, 0);
  model.Apply(slot, R"({"event":"box","text":"Replace the application?","answer":"No"})", 1);
  model.Apply(slot, R"({"event":"result","exit":1,"result":"failed","failure":null})", 2);
  EXPECT_EQ(model.Slot(slot).failure, "question answered No: Replace the application?");
  model.finished.push_back({slot, model.Slot(slot)});
  EXPECT_EQ(model.ExitStatus(false), 1);
}

TEST(StationModel, AChildWithoutAResultFailsWithItsLastWords) {
  const struct {
    int exit;
    const char* tail;
    SlotPhase phase;
    const char* failure;
  } cases[] = {
      {64, "--firmware Nope: no such list item", SlotPhase::Failed,
       "--firmware Nope: no such list item"},
      {-1, "", SlotPhase::Failed, "velmora ended without a result"},
      {2, "", SlotPhase::Cancelled, ""},
  };
  for (const auto& c : cases) {
    StationModel model;
    const int slot = model.Add("sim");
    model.Started(slot, 0);
    model.Apply(slot, R"({"event":"status","text":"Programming..."})", 1);
    model.Ended(slot, c.exit, c.tail, 2);
    EXPECT_EQ(model.Slot(slot).phase, c.phase) << c.exit;
    EXPECT_EQ(model.Slot(slot).failure, c.failure);
  }
}

TEST(StationModel, ARepeatingSlotWaitsForTheNextDevice) {
  StationModel model;
  const int slot = model.Add("/dev/ttyUSB0");
  model.MutableSlot(slot).repeating = true;
  model.Started(slot, 0);
  model.Apply(slot, std::string(R"({"event":"status","text":")") + kEstablishingText + "\"}", 0);
  model.Apply(slot, R"({"event":"progress","position":0})", 1);
  EXPECT_EQ(model.StatusText(slot), "waiting for a KV70");
  EXPECT_FALSE(model.Slot(slot).deviceAnswered);
  model.Apply(slot, R"({"event":"progress","position":5})", 2);
  EXPECT_EQ(model.StatusText(slot), kEstablishingText);
  EXPECT_TRUE(model.Slot(slot).deviceAnswered);
  // No slot that never ran counts as done.
  EXPECT_EQ(model.ExitStatus(false), 1);
}

TEST(StationLogs, NamesAreSafeAndNeverReplaceAFile) {
  setenv("TZ", "UTC", 1);
  EXPECT_EQ(StationLogName("KV70-123", 1700000000), "KV70-123-20231114-221320.log");
  EXPECT_EQ(StationLogName("rfc2217://10.0.0.7:4001", 0),
            "rfc2217___10.0.0.7_4001-19700101-000000.log");
  EXPECT_EQ(StationLogName("../../etc/x", 0), "etc_x-19700101-000000.log");
  EXPECT_EQ(StationLogName("", 0), "KV70-19700101-000000.log");

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("station_test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto write = [](const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  };
  const auto read = [](const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  write(dir / "A-1.log", "old");
  write(dir / "A-1-1.log", "older");
  write(dir / ".part", "new");
  std::string error;
  const std::string placed = PlaceLogFile((dir / ".part").string(), dir.string(), "A-1.log", error);
  EXPECT_EQ(placed, (dir / "A-1-2.log").string()) << error;
  EXPECT_EQ(read(dir / "A-1.log"), "old");
  EXPECT_EQ(read(dir / "A-1-1.log"), "older");
  EXPECT_EQ(read(dir / "A-1-2.log"), "new");
  EXPECT_FALSE(std::filesystem::exists(dir / ".part"));
  // A folder gone: the file keeps its temporary name and the error says where it is.
  write(dir / ".part2", "x");
  EXPECT_EQ(PlaceLogFile((dir / ".part2").string(), (dir / "gone").string(), "B.log", error), "");
  EXPECT_NE(error.find(".part2"), std::string::npos) << error;
  std::filesystem::remove_all(dir);
}

TEST(StationView, BarsAndClocks) {
  EXPECT_EQ(ProgressBar(50, 10), "[#####     ]");
  EXPECT_EQ(ProgressBar(140, 4), "[####]");
  EXPECT_EQ(ClockText(65), "1:05");
  EXPECT_EQ(ClockText(3725), "1:02:05");
  EXPECT_EQ(ClockText(std::nullopt), "");
}

}  // namespace
}  // namespace velmora
