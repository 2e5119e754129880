// Whole sessions: from a restart to a running flash monitor, and on to a finished upgrade,
// with nothing but hand-built frames.
#include <gtest/gtest.h>

#include "sim/tests/line.h"

namespace kv70sim {
namespace {

using namespace testing;

TEST(Session, RestartToRunningMonitor) {
  Line line("flash-type=215,fs-mb=2,serial=S-77");
  std::string failure;
  ASSERT_TRUE(BringUpMonitor(line, failure)) << failure;
  EXPECT_EQ(line.device->State(), DeviceState::FlashMonitor);
  EXPECT_EQ(line.device->DeviceBaud(), 38400u);
  EXPECT_TRUE(line.device->IdentifiedReadOnly());

  // The set-up left every register as written.
  Bus& bus = line.device->GetBus();
  EXPECT_EQ(bus.SystemRegister16(0x1E30), 0x7C2A);
  EXPECT_EQ(bus.SystemRegister16(0x1E38), 0x0000);
  EXPECT_EQ(bus.SystemRegister16(0x1F06), 0x0041);
  EXPECT_EQ(bus.ModuleRegister8(0xFFF011), 0xE7);
  EXPECT_EQ(bus.ModuleRegister32(0xFFF04C), 0x02400011u);
  EXPECT_TRUE(bus.FlashSelected());

  // The monitor answers: configuration, a read of file-system flash.
  Bytes data;
  ASSERT_TRUE(FindReply(line.Exchange(Request(0x06)), 0x06, data));
  ASSERT_EQ(data.size(), 184u);
  EXPECT_EQ(std::string(data.begin() + 2, data.begin() + 6), "S-77");
  EXPECT_EQ((data[176] << 8) | data[177], 215);
  ASSERT_TRUE(
      FindReply(line.Exchange(Request(0x05, Cat(Be32(0x02900000), {0x04, 0x00}))), 0x05, data));
  EXPECT_EQ(data.size(), 1024u);
  EXPECT_EQ(line.device->GetCounters().badFrames, 0u);
}

TEST(Session, UpgradeEraseProgramFinishReboot) {
  Line line("state=monitor,erase-busy=1,flash-type=8777");
  line.SetBaud(38400);
  Bytes data;
  // Erase the whole table D: 34 sectors.
  Bytes list{34};
  list = Cat(list, Be32(0x02400000));
  list = Cat(list, Be32(0x02404000));
  list = Cat(list, Be32(0x02406000));
  list = Cat(list, Be32(0x02408000));
  for (std::uint32_t a = 0x02410000; a <= 0x025E0000; a += 0x10000) list = Cat(list, Be32(a));
  ASSERT_EQ(list.size(), 1u + 4 * 34);
  ASSERT_TRUE(FindReply(line.Exchange(Request(0x01, list)), 0x01, data));
  ASSERT_EQ(data, Bytes{0x01});
  ASSERT_TRUE(FindReply(line.Exchange(Request(0x02)), 0x02, data));
  EXPECT_EQ(data, Bytes{0x00});
  ASSERT_TRUE(FindReply(line.Exchange(Request(0x02)), 0x02, data));
  EXPECT_EQ(data, Bytes{0x01});

  // 8 KiB of software in 252-byte blocks, its identification word at 0x02400420.
  Bytes image(8192);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  image[0x420] = 0x00;
  image[0x421] = 0x01;
  image[0x422] = 0x0F;  // application 0
  image[0x423] = 0x09;
  for (std::size_t off = 0; off < image.size(); off += 252) {
    std::size_t n = std::min<std::size_t>(252, image.size() - off);
    Bytes block = Cat(Be32(static_cast<std::uint32_t>(0x02400000 + off)),
                      Bytes(image.begin() + off, image.begin() + off + n));
    ASSERT_TRUE(FindReply(line.Exchange(Request(0x03, block)), 0x03, data));
    ASSERT_EQ(data, Bytes{0x01}) << off;
  }
  auto flash = line.device->ProgFlash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  ASSERT_TRUE(FindReply(line.Exchange(Request(0x0A)), 0x0A, data));
  EXPECT_EQ(data, Bytes{0x01});
  ASSERT_TRUE(FindReply(line.Exchange(Request(0x06)), 0x06, data));
  EXPECT_EQ((data[182] << 8) | data[183], 0);
  EXPECT_EQ(data[110 + 33 + 6], 0x09);

  ASSERT_TRUE(FindReply(line.Exchange(Request(0x04)), 0x04, data));
  line.clock.SleepMs(5000);
  line.port.SetBreak();
  line.clock.SleepMs(1000);
  line.port.ClearBreak();
  EXPECT_EQ(line.device->State(), DeviceState::BootRom);
  EXPECT_EQ(line.device->GetCounters().reboots, 1u);
}

}  // namespace
}  // namespace kv70sim
