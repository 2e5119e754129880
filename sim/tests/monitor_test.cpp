// The flash monitor's commands, from the PC's end of the line at 38400 bit/s.
#include <gtest/gtest.h>

#include "sim/tests/line.h"

namespace kv70sim {
namespace {

using namespace testing;

class Monitor : public ::testing::Test {
 protected:
  void Open(const std::string& settings) {
    line = std::make_unique<Line>("state=monitor," + settings);
    line->SetBaud(38400);
  }
  void SetUp() override { Open(""); }
  // The data of the reply for `code`; fails the test when none came.
  Bytes Ask(std::uint8_t code, const Bytes& data = {}) {
    Bytes reply;
    EXPECT_TRUE(FindReply(line->Exchange(Request(code, data)), code, reply))
        << "no reply to " << int(code);
    return reply;
  }
  Bytes Flash(std::uint32_t address, std::size_t n) {
    auto flash = line->device->ProgFlash();
    auto off = address - 0x02400000;
    return Bytes(flash.begin() + off, flash.begin() + off + n);
  }
  static Bytes SectorList(const std::vector<std::uint32_t>& starts) {
    Bytes d{static_cast<std::uint8_t>(starts.size())};
    for (auto s : starts) d = Cat(d, Be32(s));
    return d;
  }
  std::unique_ptr<Line> line;
};

TEST_F(Monitor, ProgramRequestFromTheWireExample) {
  // Outside flash: well-formed, answered with 0.
  Bytes request{0x02, 0x03, 0x00, 0x08, 0x00, 0x01, 0x23, 0x45,
                0xAA, 0xBB, 0xCC, 0xDD, 0x03, 0x82, 0x03, 0x00};
  EXPECT_EQ(line->Exchange(request), (Bytes{0x02, 0x03, 0x00, 0x01, 0x00, 0x00, 0x04, 0x03}));

  // The same for 0x02400000, with its own checksum (03+00+08+02+40+00+00+AA+BB+CC+DD = 0x035B).
  Bytes inFlash{0x02, 0x03, 0x00, 0x08, 0x02, 0x40, 0x00, 0x00,
                0xAA, 0xBB, 0xCC, 0xDD, 0x03, 0x5B, 0x03, 0x00};
  EXPECT_EQ(line->Exchange(inFlash), (Bytes{0x02, 0x03, 0x00, 0x01, 0x01, 0x00, 0x05, 0x03}));
  EXPECT_EQ(Flash(0x02400000, 4), (Bytes{0xAA, 0xBB, 0xCC, 0xDD}));

  // One wrong checksum byte: no answer, nothing programmed.
  Bytes bad{0x02, 0x03, 0x00, 0x08, 0x02, 0x40, 0x00, 0x04,
            0x11, 0x22, 0x33, 0x44, 0x03, 0x00, 0x03, 0x00};
  EXPECT_TRUE(line->Exchange(bad).empty());
  EXPECT_EQ(Flash(0x02400004, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Monitor, ProgramHasNorSemantics) {
  EXPECT_EQ(Ask(0x03, Cat(Be32(0x02400010), {0x0F, 0xF0})), Bytes{0x01});
  EXPECT_EQ(Ask(0x03, Cat(Be32(0x02400010), {0x0F, 0xF0})), Bytes{0x01});  // same again: holds
  EXPECT_EQ(Ask(0x03, Cat(Be32(0x02400010), {0x03, 0x30})), Bytes{0x01});  // only clears bits
  EXPECT_EQ(Ask(0x03, Cat(Be32(0x02400010), {0xFF, 0x30})),
            Bytes{0x00});  // a bit would have to rise
  EXPECT_EQ(Flash(0x02400010, 2), (Bytes{0x03, 0x30}));
  EXPECT_EQ(Ask(0x03, Cat(Be32(0x025FFFFE), {1, 2, 3})), Bytes{0x00});  // runs past the end
}

TEST_F(Monitor, EmptyCommandsAnswerWithTheirCode) {
  EXPECT_EQ(line->Exchange({0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00}),
            (Bytes{0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}));
  EXPECT_EQ(Ask(0x07), Bytes{0x01});
  EXPECT_EQ(line->device->GetCounters().garbageCollections, 1u);
  // A payload where none belongs: dropped without an answer.
  EXPECT_TRUE(line->Exchange(Request(0x00, {0x01})).empty());
  // A code the monitor does not know.
  EXPECT_TRUE(line->Exchange(Request(0x08)).empty());
}

// Each command's payload rule: a request whose data breaks it is dropped unanswered and
// counted as a bad frame; one that keeps it is answered. Unknown codes are not bad frames.
TEST_F(Monitor, PayloadRulesPerCommand) {
  enum Outcome { Answered, Malformed, Unknown };
  const Bytes address = Be32(0x02400100);
  struct Case {
    std::uint8_t code;
    Bytes data;
    Outcome outcome;
  } cases[] = {
      {0x00, {}, Answered},
      {0x00, {0x00}, Malformed},
      {0x01, {}, Malformed},
      {0x01, {0x00}, Answered},  // N = 0: answered, and refused
      {0x01, Cat({0x01}, Be32(0x02400000)), Answered},
      {0x01, Cat({0x02}, Be32(0x02400000)), Malformed},  // N says two addresses
      {0x01, Cat(Cat({0x01}, Be32(0x02400000)), {0x00}), Malformed},
      {0x02, {}, Answered},
      {0x02, {0x01}, Malformed},
      {0x03, address, Malformed},  // an address without data
      {0x03, Cat(address, {0xFF}), Answered},
      {0x04, {0x04}, Malformed},
      {0x05, Cat(address, {0x00}), Malformed},
      {0x05, Cat(address, {0x00, 0x10}), Answered},
      {0x05, Cat(address, {0x00, 0x10, 0x00}), Malformed},
      {0x06, {}, Answered},
      {0x06, {0x00, 0x00}, Malformed},
      {0x07, {0x07}, Malformed},
      {0x0A, {0x0A}, Malformed},
      {0x0D, {0x0D}, Malformed},
      {0x08, {}, Unknown},
      {0x09, {}, Unknown},
      {0x0B, {0x01, 0x02}, Unknown},
      {0x0E, {}, Unknown},
      {0xFF, {}, Unknown},
  };
  for (const auto& c : cases) {
    const auto before = line->device->GetCounters();
    Bytes reply;
    const bool answered = FindReply(line->Exchange(Request(c.code, c.data)), c.code, reply);
    const auto after = line->device->GetCounters();
    EXPECT_EQ(answered, c.outcome == Answered)
        << "code " << int(c.code) << ", " << c.data.size() << " bytes";
    EXPECT_EQ(after.badFrames - before.badFrames, c.outcome == Malformed ? 1u : 0u)
        << "code " << int(c.code);
    EXPECT_EQ(after.requests - before.requests, 1u) << "code " << int(c.code);
    EXPECT_EQ(line->device->Events().back().kind, c.outcome == Answered ? EventKind::Request
                                                  : c.outcome == Malformed
                                                      ? EventKind::MalformedRequest
                                                      : EventKind::UnknownRequest)
        << "code " << int(c.code);
  }
}

TEST_F(Monitor, ReadUpTo1024Bytes) {
  Open("fs-mb=1");
  Bytes d = Ask(0x05, Cat(Be32(0x02800000), {0x04, 0x00}));
  ASSERT_EQ(d.size(), 1024u);
  auto fs = line->device->FsFlash();
  EXPECT_TRUE(std::equal(d.begin(), d.end(), fs.begin()));
  EXPECT_EQ(Ask(0x05, Cat(Be32(0x02800000), {0x04, 0x01})).size(), 0u);     // 1025: refused
  EXPECT_EQ(Ask(0x05, Cat(Be32(0x028FFC00), {0x04, 0x00})).size(), 1024u);  // last block
  EXPECT_EQ(Ask(0x05, Cat(Be32(0x028FFC01), {0x04, 0x00})).size(), 0u);     // one past the end
  EXPECT_EQ(Ask(0x05, Cat(Be32(0x00012345), {0x00, 0x10})).size(), 0u);     // nothing there
}

TEST_F(Monitor, ReadConfigurationIs184Bytes) {
  Open("serial=XY-1,flash-type=8777,fs-mb=2,app-id=1");
  Bytes d = Ask(0x06);
  ASSERT_EQ(d.size(), 184u);
  EXPECT_EQ(d[2], 'X');
  EXPECT_EQ((d[176] << 8) | d[177], 8777);
  EXPECT_EQ((d[180] << 8) | d[181], 2);
  EXPECT_EQ((d[182] << 8) | d[183], 1);
  // The empty request for 06 exactly as written on the wire.
  Bytes raw = line->Exchange({0x02, 0x06, 0x00, 0x00, 0x00, 0x06, 0x03, 0x00});
  EXPECT_EQ(raw.size(), 191u);
}

TEST_F(Monitor, EraseSectorsThenBusyThenDone) {
  Open("erase-busy=2,flash-type=8795");
  ASSERT_EQ(Ask(0x03, Cat(Be32(0x02404000), {0x00})), Bytes{0x01});
  ASSERT_EQ(Ask(0x03, Cat(Be32(0x02406000), {0x00})), Bytes{0x01});
  EXPECT_EQ(Ask(0x01, SectorList({0x02404000})), Bytes{0x01});
  EXPECT_EQ(Flash(0x02404000, 1), Bytes{0xFF});
  EXPECT_EQ(Flash(0x02406000, 1), Bytes{0x00});  // the next sector keeps its data
  EXPECT_EQ(Ask(0x02), Bytes{0x00});
  // Programming while the erase runs is refused.
  EXPECT_EQ(Ask(0x03, Cat(Be32(0x02410000), {0x00})), Bytes{0x00});
  EXPECT_EQ(Ask(0x02), Bytes{0x00});
  EXPECT_EQ(Ask(0x02), Bytes{0x01});
  EXPECT_EQ(Ask(0x02), Bytes{0x01});
  EXPECT_EQ(Ask(0x03, Cat(Be32(0x02410000), {0x00})), Bytes{0x01});
}

TEST_F(Monitor, EraseRefusesAnythingButSectorStarts) {
  struct Row {
    const char* what;
    std::string settings;
    Bytes list;
  };
  const Row rows[] = {
      {"a start of another flash type's table", "flash-type=8922", SectorList({0x02404000})},
      {"inside a sector", "flash-type=8922", SectorList({0x02400000, 0x02410004})},
      {"the protected boot block", "flash-type=8922", SectorList({0x025FC000})},
      {"an unknown flash type", "flash-type=0", SectorList({0x02400000})},
      {"an empty list", "flash-type=8922", SectorList({})},
  };
  for (const auto& row : rows) {
    Open(row.settings);
    ASSERT_EQ(Ask(0x03, Cat(Be32(0x02400000), {0x00})), Bytes{0x01});
    Bytes reply = Ask(0x01, row.list);
    EXPECT_EQ(reply, Bytes{0x02}) << row.what;
    EXPECT_EQ(Ask(0x02), Bytes{0x02}) << row.what;
    EXPECT_EQ(Flash(0x02400000, 1), Bytes{0x00}) << row.what << ": nothing erased";
  }
  // A list whose length does not match its count is not even a request.
  Open("");
  EXPECT_TRUE(line->Exchange(Request(0x01, {0x02, 0x02, 0x40, 0x00, 0x00})).empty());
}

TEST_F(Monitor, WholeTableErasesAllButTheBootBlock) {
  Open("erase-busy=0,flash-type=8900");
  auto flash = line->device->GetBus().ProgFlash().Bytes();
  std::fill(flash.begin(), flash.end(), 0x00);
  std::vector<std::uint32_t> starts;
  for (std::uint32_t a = 0x02400000; a <= 0x025F0000; a += 0x10000) starts.push_back(a);
  starts.push_back(0x025F8000);
  starts.push_back(0x025FA000);
  ASSERT_EQ(starts.size(), 34u);
  EXPECT_EQ(Ask(0x01, SectorList(starts)), Bytes{0x01});
  EXPECT_EQ(Ask(0x02), Bytes{0x01});
  EXPECT_EQ(Flash(0x02400000, 1), Bytes{0xFF});
  EXPECT_EQ(Flash(0x025FBFFF, 1), Bytes{0xFF});
  EXPECT_EQ(Flash(0x025FC000, 1), Bytes{0x00});
}

TEST_F(Monitor, ProgramDoneFollowsTheSoftwareWord) {
  // Word at 0x02400420: b2 = 0x1F (application 1), b3 = 0x07.
  ASSERT_EQ(Ask(0x03, Cat(Be32(0x02400420), {0x12, 0x34, 0x1F, 0x07})), Bytes{0x01});
  Bytes before = Ask(0x06);
  EXPECT_EQ((before[182] << 8) | before[183], 0);
  EXPECT_EQ(Ask(0x0A), Bytes{0x01});
  Bytes after = Ask(0x06);
  EXPECT_EQ((after[182] << 8) | after[183], 1);
  EXPECT_EQ(after[110 + 40 + 6], 0x07);
}

TEST_F(Monitor, EraseFileSystem) {
  Bytes d = Ask(0x0D);
  EXPECT_EQ(d, Bytes{0x01});
  auto fs = line->device->FsFlash();
  EXPECT_TRUE(std::all_of(fs.begin(), fs.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(Monitor, RebootAnswersThenRestartsIntoTheBootRom) {
  Open("boot-ms=300,breaks=2,break-interval-ms=500");
  EXPECT_EQ(Ask(0x04), Bytes{});
  EXPECT_EQ(line->device->GetCounters().reboots, 1u);
  EXPECT_EQ(line->device->DeviceBaud(), 9600u);
  // The boot ROM's breaks reach the PC (the flag is set once per break).
  int breaks = 0;
  for (int i = 0; i < 20; ++i) {
    line->clock.SleepMs(100);
    breaks += line->BreakSeen();
  }
  EXPECT_EQ(breaks, 2);
  EXPECT_EQ(line->device->State(), DeviceState::BootRom);
  // The monitor is gone: a ping at 38400 finds nobody.
  EXPECT_TRUE(line->Exchange(Request(0x00)).empty());
}

TEST_F(Monitor, BreakFromThePcIsHarmless) {
  line->port.SetBreak();
  line->clock.SleepMs(1000);
  line->port.ClearBreak();
  EXPECT_EQ(line->device->State(), DeviceState::FlashMonitor);
  EXPECT_EQ(Ask(0x00), Bytes{});
}

TEST_F(Monitor, BreakCutsAFrameShort) {
  Bytes ping = Request(0x00);
  line->Send(Bytes(ping.begin(), ping.begin() + 3));
  line->port.SetBreak();
  line->port.ClearBreak();
  line->Send(Bytes(ping.begin() + 3, ping.end()));
  EXPECT_TRUE(line->Receive().empty());
  EXPECT_EQ(Ask(0x00), Bytes{});
}

TEST_F(Monitor, SilenceInsideAFrameDropsIt) {
  Bytes ping = Request(0x00);
  line->Send(Bytes(ping.begin(), ping.begin() + 4));
  line->clock.SleepMs(500);
  line->Send(Bytes(ping.begin() + 4, ping.end()));
  EXPECT_TRUE(line->Receive().empty());
}

TEST_F(Monitor, ChipSelectsMustBeRight) {
  line->device->GetBus().ResetRegisters();
  // The PC's line stays at 38400 only if the DUART says so: keep the speed, lose the chip selects.
  const std::uint8_t cc = 0xCC;
  line->device->GetBus().Write(0x0C03, &cc, 1);
  EXPECT_EQ(Ask(0x03, Cat(Be32(0x02400000), {0x00})), Bytes{0x00});
  EXPECT_EQ(Ask(0x05, Cat(Be32(0x02800000), {0x00, 0x10})).size(), 0u);
  EXPECT_EQ(Ask(0x0D), Bytes{0x02});
}

TEST_F(Monitor, ThreeHundredPollBusyErase) {
  Open("erase-busy=300");
  ASSERT_EQ(Ask(0x01, SectorList({0x02400000})), Bytes{0x01});
  int polls = 0;
  Bytes status;
  do {
    line->clock.SleepMs(1000);
    status = Ask(0x02);
    ++polls;
  } while (status == Bytes{0x00} && polls < 400);
  EXPECT_EQ(polls, 301);
  EXPECT_EQ(status, Bytes{0x01});
  EXPECT_EQ(line->device->GetCounters().erasePolls, 301u);
  EXPECT_GE(line->NowMs(), 300000u);
}

}  // namespace
}  // namespace kv70sim
