#include <gtest/gtest.h>

#include <cstring>

#include "device/tests/device_fixture.h"
#include "resources/monitor_image.h"

namespace kv70test {
namespace {

// A frame of the register set-up as the ROM monitor receives it.
struct Expected {
  BYTE type;
  DWORD address;
  Bytes payload;
};

// The two frames of one word write through the register-write routine.
void WordWrite(std::vector<Expected>& out, WORD value, DWORD target) {
  out.push_back({0x81,
                 0x810,
                 {static_cast<BYTE>(value >> 8), static_cast<BYTE>(value), 0x20, 0x7C,
                  static_cast<BYTE>(target >> 24), static_cast<BYTE>(target >> 16),
                  static_cast<BYTE>(target >> 8), static_cast<BYTE>(target), 0x22, 0x7C, 0x00, 0x00,
                  0x08, 0x10, 0x30, 0x91, 0x4E, 0x75}});
  out.push_back({0x82, 0x812, {}});
}

TEST_F(DeviceTest, RegisterSetUpWritesEveryValueInOrder) {
  std::vector<Expected> expected;
  WordWrite(expected, 0x0A05, 0x1E38);
  WordWrite(expected, 0x7C2A, 0x1E30);
  WordWrite(expected, 0x6FD0, 0x1E32);
  WordWrite(expected, 0x8F14, 0x1E34);
  WordWrite(expected, 0x0083, 0x1E36);
  WordWrite(expected, 0x0000, 0x1E38);
  expected.push_back({0x81, 0xFFF01B, {0x00}});
  expected.push_back({0x81, 0xFFF01D, {0x03}});
  expected.push_back({0x81, 0xFFF01F, {0x03}});
  expected.push_back({0x81, 0xFFF011, {0xE7}});
  expected.push_back({0x81, 0xFFF013, {0xFF}});
  expected.push_back({0x81, 0xFFF015, {0x3E}});
  expected.push_back({0x81, 0xFFF017, {0x40}});
  // Row 0 is disabled; each enabled row: second register, then first.
  expected.push_back({0x81, 0xFFF048, {0x01, 0xFF, 0xFF, 0x75}});
  expected.push_back({0x81, 0xFFF04C, {0x02, 0x40, 0x00, 0x11}});
  expected.push_back({0x81, 0xFFF050, {0x00, 0x1F, 0xFF, 0x77}});
  expected.push_back({0x81, 0xFFF054, {0x00, 0x20, 0x00, 0x11}});
  expected.push_back({0x81, 0xFFF058, {0x00, 0x03, 0xFF, 0x7F}});
  expected.push_back({0x81, 0xFFF05C, {0x00, 0x10, 0x00, 0x11}});
  WordWrite(expected, 0x7FFF, 0x1F00);
  WordWrite(expected, 0xFF8F, 0x1F02);
  WordWrite(expected, 0x8000, 0x1F04);
  WordWrite(expected, 0x0041, 0x1F06);

  device.SetUpChipSelects();
  ASSERT_EQ(rom.frames.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rom.frames[i].type, expected[i].type);
    EXPECT_EQ(rom.frames[i].address, expected[i].address);
    EXPECT_EQ(rom.frames[i].payload, expected[i].payload);
    EXPECT_FALSE(rom.frames[i].bulk && rom.frames[i].type == 0x81);
  }
}

TEST_F(DeviceTest, RegisterSetUpFailuresBecome506) {
  const struct {
    const char* name;
    std::function<bool(const RomFrame&, int)> ackWrite;
    std::function<bool(const RomFrame&, int)> ackGo;
  } cases[] = {
      {"a chip-select write refused", [](const RomFrame& f, int) { return f.address != 0xFFF050; },
       [](const RomFrame&, int) { return true; }},
      {"the routine never starts", [](const RomFrame&, int) { return true; },
       [](const RomFrame&, int) { return false; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rom.ackWrite = c.ackWrite;
    rom.ackGo = c.ackGo;
    EXPECT_EQ(Failure([&] { device.SetUpChipSelects(); }), "D506");
  }
}

TEST_F(DeviceTest, SpeedSwitchLoadsAndRunsTheRoutineThenMovesThePort) {
  device.SwitchBaudRate();
  ASSERT_EQ(rom.frames.size(), 2u);
  EXPECT_EQ(rom.frames[0].type, 0x81);
  EXPECT_EQ(rom.frames[0].address, 0x80Au);
  EXPECT_TRUE(rom.frames[0].bulk);
  EXPECT_EQ(rom.frames[0].payload, (Bytes{0x11, 0xFC, 0xCC, 0xCC, 0x0C, 0x03, 0x11, 0xFC, 0xCC,
                                          0xCC, 0x0C, 0x13, 0x4E, 0x75}));
  EXPECT_EQ(rom.frames[1].type, 0x82);
  EXPECT_EQ(rom.frames[1].address, 0x80Au);
  EXPECT_EQ(port.GetSpeed(), 38400u);
}

TEST_F(DeviceTest, SpeedSwitchFailures) {
  const struct {
    const char* name;
    bool ackWrite;
    bool ackGo;
    std::string failure;
    size_t frames;
  } cases[] = {
      {"routine not written", false, true, "D504", 15},
      {"routine not started", true, false, "D505", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rom.frames.clear();
    rom.ackWrite = [&](const RomFrame&, int) { return c.ackWrite; };
    rom.ackGo = [&](const RomFrame&, int) { return c.ackGo; };
    EXPECT_EQ(Failure([&] { device.SwitchBaudRate(); }), c.failure);
    EXPECT_EQ(rom.frames.size(), c.frames);
    EXPECT_EQ(port.GetSpeed(), 9600u);
  }
}

// --- Monitor upload ------------------------------------------------------------------------

TEST_F(DeviceTest, UploadSends34ChunksOf251AndOneOf20EachReadBack) {
  port.SetSpeed(CSerialCom::SPEED_38400);
  device.UploadMonitor(20, 70);
  ASSERT_EQ(rom.frames.size(), 35u * 2 + 1);
  for (size_t k = 0; k < 35; ++k) {
    SCOPED_TRACE(k);
    const RomFrame& write = rom.frames[2 * k];
    const RomFrame& read = rom.frames[2 * k + 1];
    const size_t size = k < 34 ? 251 : 20;
    EXPECT_EQ(write.type, 0x81);
    EXPECT_TRUE(write.bulk);
    EXPECT_EQ(write.address, 0x200000 + 251 * k);
    ASSERT_EQ(write.payload.size(), size);
    EXPECT_EQ(std::memcmp(write.payload.data(), kFlashMonitorImage + 251 * k, size), 0);
    EXPECT_EQ(read.type, 0x80);
    EXPECT_EQ(read.address, write.address);
    EXPECT_EQ(read.payload, (Bytes{static_cast<BYTE>(size)}));
  }
  EXPECT_EQ(rom.frames.back().type, 0x82);
  EXPECT_EQ(rom.frames.back().address, 0x200000u);
  EXPECT_EQ(rom.monitorCommands, (std::vector<BYTE>{0x00}));
  // Before chunks 0, 4, ..., 32, then the end.
  std::vector<int> progress;
  for (unsigned k = 0; k <= 32; k += 4)
    progress.push_back(static_cast<int>(20 + k * 251 * 70 / 8554));
  progress.push_back(100);
  EXPECT_EQ(run.progress, progress);
  EXPECT_EQ(run.progress.front(), 20);
}

// Changes one data byte of a read answer and keeps its checksum right: a good answer
// with the wrong content.
void Misread(Bytes& answer) {
  answer[4] ^= 0x01;
  answer[answer.size() - 2] ^= 0x00;
  BYTE sum = 0;
  for (size_t i = 1; i < answer.size() - 2; ++i) sum = static_cast<BYTE>(sum + answer[i]);
  answer[answer.size() - 2] = sum;
}

TEST_F(DeviceTest, UploadVerifiesEachChunkSixTimesAtMost) {
  const struct {
    const char* name;
    int misreads;  // of chunk 3
    std::string failure;
    int passes;
  } cases[] = {
      {"five differing read-backs", 5, "", 6},
      {"six differing read-backs", 6, "B804", 6},
      {"one", 1, "", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rom.frames.clear();
    rom.monitorRunning = false;
    port.SetSpeed(CSerialCom::SPEED_38400);
    int misread = 0;
    rom.bendRead = [&](Bytes& a, int) {
      const DWORD address = rom.frames.back().address;
      if (address == 0x200000 + 3 * 251 && misread < c.misreads) {
        ++misread;
        Misread(a);
      }
    };
    EXPECT_EQ(Failure([&] { device.UploadMonitor(20, 70); }), c.failure);
    int passes = 0;
    for (const auto& f : rom.frames) passes += f.type == 0x81 && f.address == 0x200000 + 3 * 251;
    EXPECT_EQ(passes, c.passes);
  }
}

TEST_F(DeviceTest, UploadFailures) {
  const struct {
    const char* name;
    std::function<void(ScriptedRom&)> bend;
    std::string failure;
  } cases[] = {
      {"a chunk never acknowledged",
       [](ScriptedRom& r) {
         r.ackWrite = [](const RomFrame& f, int) { return f.address != 0x200000 + 251 * 7; };
       },
       "B804"},
      {"read-back never answers",
       [](ScriptedRom& r) { r.bendRead = [](Bytes& a, int) { a.clear(); }; }, "B804"},
      {"start refused five times",
       [](ScriptedRom& r) { r.ackGo = [](const RomFrame&, int) { return false; }; }, "B805"},
      {"start refused four times",
       [](ScriptedRom& r) { r.ackGo = [](const RomFrame&, int i) { return i >= 4; }; }, ""},
      {"monitor silent after the start", [](ScriptedRom& r) { r.monitorAnswers = false; }, "B806"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedLine freshLine;
    ScriptedRom freshRom(freshLine);
    c.bend(freshRom);
    CSerialCom freshPort;
    freshPort.Open(1, 1, 0, 0, 9);
    CKV70Device freshDevice(freshPort, run.record);
    EXPECT_EQ(Failure([&] { freshDevice.UploadMonitor(20, 70); }), c.failure);
  }
}

// --- Answering the boot ROM -----------------------------------------------------------------

TEST_F(DeviceTest, UpgradeConnectionAnswersEveryBreakAndAsksAfterTheFirst) {
  rom.BootWithBreaks(3);
  EXPECT_TRUE(device.EstablishRomMonitor());
  ASSERT_EQ(rom.identifications.size(), 3u);
  for (const auto& ident : rom.identifications) {
    EXPECT_EQ(ident.size(), 90u);
    EXPECT_EQ(std::string(ident.begin() + 4, ident.begin() + 88).substr(50, 4), "1.03");
  }
  ASSERT_EQ(run.boxes.size(), 2u);
  for (const auto& box : run.boxes) {
    EXPECT_EQ(box.text, "Check KV70 display.");
    EXPECT_EQ(box.style, 0x00010030u);
    EXPECT_EQ(box.owner, run.record.hostWindow);
    EXPECT_FALSE(box.caption.empty());
  }
}

TEST_F(DeviceTest, ReadOnlyConnectionStopsAtTheFirstIdentification) {
  device.SetReadOnly(1);
  rom.BootWithBreaks(3);
  EXPECT_TRUE(device.EstablishRomMonitor());
  ASSERT_EQ(rom.identifications.size(), 1u);
  EXPECT_EQ(std::string(rom.identifications[0].begin() + 4, rom.identifications[0].begin() + 88)
                .substr(50, 4),
            "5.03");
  EXPECT_TRUE(run.boxes.empty());
  // Probed one second after the identification.
  EXPECT_EQ(clock.NowMs(), 1000u);
}

TEST_F(DeviceTest, WithoutBreaksTheProbeComesAfter12AndAHalfSecondsAndOne) {
  EXPECT_TRUE(device.EstablishRomMonitor());
  EXPECT_TRUE(rom.identifications.empty());
  EXPECT_EQ(clock.NowMs(), 13500u);
  EXPECT_EQ(rom.probes, 2);
}

TEST_F(DeviceTest, CancelWhileListeningForBreaks) {
  run.Cancel();
  EXPECT_EQ(Failure([&] { device.EstablishRomMonitor(); }), "cancel");
  EXPECT_EQ(rom.probes, 0);
}

// --- The whole connection -------------------------------------------------------------------

TEST_F(DeviceTest, ConnectRunsEveryStepAndReadsTheRecord) {
  rom.BootWithBreaks(1);
  device.Connect();
  EXPECT_TRUE(device.IsConnected());
  EXPECT_EQ(device.GetConfig().FlashType(), 8922);
  EXPECT_EQ(rom.monitorCommands, (std::vector<BYTE>{0x00, 0x06}));
  EXPECT_EQ(port.GetSpeed(), 38400u);
  ASSERT_GE(run.progress.size(), 6u);
  EXPECT_EQ((std::vector<int>(run.progress.begin(), run.progress.begin() + 4)),
            (std::vector<int>{5, 15, 20, 20}));
  EXPECT_EQ(run.progress[run.progress.size() - 2], 100);
  EXPECT_EQ(run.progress.back(), 100);

  device.RebootDevice();
  EXPECT_FALSE(device.IsConnected());
  EXPECT_EQ(rom.monitorCommands.back(), 0x04);
  EXPECT_EQ(line.BreaksSent(), (std::vector<DWORD>{1000}));
}

TEST_F(DeviceTest, ConnectOutcomes) {
  const struct {
    const char* name;
    std::function<void(ScriptedRom&)> device;
    std::string failure;
    std::uint64_t elapsedMs;  // 0: not checked
  } cases[] = {
      {"unknown flash type after the upload", [](ScriptedRom& r) { r.SetNumber(176, 0); }, "D519",
       0},
      {"configuration of the wrong size", [](ScriptedRom& r) { r.record.pop_back(); }, "F411", 0},
      // 12.5 s of listening, 1 s, five probe attempts of 1.2 s, and the ping's answer.
      {"flash monitor still running",
       [](ScriptedRom& r) {
         r.romAnswers = false;
         r.monitorRunning = true;
       },
       "", 19500},
      {"nothing answers",
       [](ScriptedRom& r) {
         r.romAnswers = false;
         r.monitorRunning = true;
         r.monitorAnswers = false;
       },
       "D501", 21500},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedLine freshLine;
    ScriptedRom freshRom(freshLine);
    freshRom.BootWithBreaks(1);
    c.device(freshRom);
    CSerialCom freshPort;
    freshPort.Open(1, 1, 0, 0, 6);
    CKV70Device freshDevice(freshPort, run.record);
    const std::uint64_t start = clock.NowMs();
    EXPECT_EQ(Failure([&] { freshDevice.Connect(); }), c.failure);
    if (c.elapsedMs) {
      EXPECT_EQ(clock.NowMs() - start, c.elapsedMs);
    }
    EXPECT_EQ(freshDevice.IsConnected(), c.failure.empty());
    if (c.failure == "D519") {
      EXPECT_EQ(freshRom.frames.back().address, 0x200000u);  // after the upload
    }
  }
}

}  // namespace
}  // namespace kv70test
