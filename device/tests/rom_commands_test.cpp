#include <gtest/gtest.h>

#include "device/tests/device_fixture.h"

namespace kv70test {
namespace {

const Bytes kProbe = {0x05, 0x0A, 0x14, 0x28, 0x00, 0x00};

TEST_F(DeviceTest, ProbeNeedsTwoAnswersInOneAttempt) {
  const struct {
    const char* name;
    std::function<bool(int)> answer;
    BOOL result;
    int probes;
    std::uint64_t elapsedMs;
  } cases[] = {
      {"both answered", [](int) { return true; }, TRUE, 2, 0},
      // First attempt: 0x06, then silence; the next attempt starts afresh.
      {"second probe silent once", [](int i) { return i != 1; }, TRUE, 4, 1200},
      {"first probe silent once", [](int i) { return i != 0; }, TRUE, 3, 1200},
      {"silent", [](int) { return false; }, FALSE, 5, 6000},
      {"always only the first", [](int i) { return i % 2 == 0; }, FALSE, 10, 6000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rom.answerProbe = c.answer;
    rom.probes = 0;
    const std::uint64_t start = clock.NowMs();
    EXPECT_EQ(device.RomProbe(), c.result);
    EXPECT_EQ(rom.probes, c.probes);
    EXPECT_EQ(clock.NowMs() - start, c.elapsedMs);
    EXPECT_EQ(port.GetSpeed(), 9600u);
    EXPECT_EQ(line.Writes().back(), kProbe);
  }
}

TEST_F(DeviceTest, BulkWriteRetriesWithoutPause) {
  const BYTE data[] = {0x60, 0xFE};
  const Bytes frame = {0x02, 0x00, 0x81, 0x06, 0x00, 0x20, 0x00,
                       0x00, 0x60, 0xFE, 0x05, 0x03, 0x00, 0x00};
  const struct {
    const char* name;
    UINT attempts;
    int acknowledgeFrom;  // the write that gets 0x06
    std::string failure;
    size_t writes;
  } cases[] = {
      {"first acknowledged", 15, 0, "", 1},
      {"third acknowledged", 15, 2, "", 3},
      {"attempts spent", 3, 99, "D516", 3},
      {"no attempts", 0, 0, "D516", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int base = -1;
    rom.ackWrite = [&](const RomFrame&, int i) {
      if (base < 0) base = i;
      return i - base >= c.acknowledgeFrom;
    };
    const size_t before = line.Writes().size();
    const int rxPurges = line.RxPurges();
    EXPECT_EQ(Failure([&] { device.RomWriteMemory(0x200000, data, 2, c.attempts); }), c.failure);
    ASSERT_EQ(line.Writes().size() - before, c.writes);
    EXPECT_EQ(line.RxPurges() - rxPurges, static_cast<int>(c.writes));
    if (c.writes) {
      EXPECT_EQ(line.Writes().back(), frame);
    }
  }
}

TEST_F(DeviceTest, TypedWriteSendsBigEndianElementsAndTriesSixTimes) {
  const DWORD value = 0x02400011;
  device.RomWriteTyped(0xFFF04C, &value, 4, 32);
  EXPECT_EQ(line.Writes().back(), (Bytes{0x02, 0x00, 0x81, 0x08, 0x00, 0xFF, 0xF0, 0x4C, 0x02, 0x40,
                                         0x00, 0x11, 0x17, 0x03}));

  const size_t before = line.Writes().size();
  device.RomWriteTyped(0xFFF04C, &value, 0, 32);
  EXPECT_EQ(line.Writes().size(), before);

  rom.ackWrite = [](const RomFrame&, int) { return false; };
  const std::uint64_t start = clock.NowMs();
  EXPECT_EQ(Failure([&] { device.RomWriteTyped(0xFFF04C, &value, 4, 32); }), "D518");
  EXPECT_EQ(line.Writes().size() - before, 6u);
  EXPECT_EQ(clock.NowMs() - start, 6u * 1050u);
}

TEST_F(DeviceTest, GoNeedsItsAcknowledgement) {
  device.RomGo(0x812);
  EXPECT_EQ(line.Writes().back(),
            (Bytes{0x02, 0x00, 0x82, 0x04, 0x00, 0x00, 0x08, 0x12, 0xA0, 0x03, 0x00, 0x00}));
  rom.ackGo = [](const RomFrame&, int) { return false; };
  const size_t before = line.Writes().size();
  EXPECT_EQ(Failure([&] { device.RomGo(0x812); }), "D517");
  EXPECT_EQ(line.Writes().size() - before, 1u);
}

TEST_F(DeviceTest, ReadRetriesBadAnswers) {
  rom.memory[0x1000] = 0x60;
  rom.memory[0x1001] = 0xFE;
  const struct {
    const char* name;
    std::function<void(Bytes&, int)> bend;
    UINT attempts;
    std::string failure;
    int writes;
  } cases[] = {
      {"good", [](Bytes&, int) {}, 15, "", 1},
      {"noise before the ETX",
       [](Bytes& a, int) {
         a.insert(a.end() - 1, {0x00, 0x7F});
       },
       15, "", 1},
      {"bad checksum once",
       [](Bytes& a, int i) {
         if (i == 0) a[6] ^= 1;
       },
       15, "", 2},
      {"wrong header once",
       [](Bytes& a, int i) {
         if (i == 0) a[2] = 0x93;
       },
       15, "", 2},
      {"no ETX once",
       [](Bytes& a, int i) {
         if (i == 0) a.pop_back();
       },
       15, "", 2},
      {"endless bytes before the ETX once",
       [](Bytes& a, int i) {
         if (i == 0) a.insert(a.end() - 1, 2000, 0x00);
       },
       15, "", 2},
      {"always corrupt", [](Bytes& a, int) { a[4] ^= 0xFF; }, 3, "D509", 3},
      {"no attempts", [](Bytes&, int) {}, 0, "D509", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int base = -1;
    rom.bendRead = [&](Bytes& a, int i) {
      if (base < 0) base = i;
      c.bend(a, i - base);
    };
    BYTE buffer[2] = {0, 0};
    const size_t before = line.Writes().size();
    EXPECT_EQ(Failure([&] { device.RomReadMemory(0x1000, buffer, 2, c.attempts); }), c.failure);
    EXPECT_EQ(line.Writes().size() - before, static_cast<size_t>(c.writes));
    if (c.failure.empty()) {
      EXPECT_EQ(buffer[0], 0x60);
      EXPECT_EQ(buffer[1], 0xFE);
      EXPECT_EQ(line.Writes().back(), (Bytes{0x02, 0x00, 0x80, 0x05, 0x00, 0x00, 0x10, 0x00, 0x02,
                                             0x97, 0x03, 0x00, 0x00}));
    }
  }
}

TEST_F(DeviceTest, WordWriteLoadsTheRoutineThenStartsIt) {
  device.RomWriteWord(0x1E38, 0x0A05);
  ASSERT_EQ(rom.frames.size(), 2u);
  EXPECT_EQ(line.Writes()[0], (Bytes{0x02, 0x00, 0x81, 0x16, 0x00, 0x00, 0x08, 0x10, 0x0A, 0x05,
                                     0x20, 0x7C, 0x00, 0x00, 0x1E, 0x38, 0x22, 0x7C, 0x00, 0x00,
                                     0x08, 0x10, 0x30, 0x91, 0x4E, 0x75, 0xEA, 0x03}));
  EXPECT_EQ(rom.frames[1].type, 0x82);
  EXPECT_EQ(rom.frames[1].address, 0x812u);
}

}  // namespace
}  // namespace kv70test
