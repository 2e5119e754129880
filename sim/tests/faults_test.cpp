// Every fault setting, seen from the PC's end.
#include <gtest/gtest.h>

#include "sim/tests/line.h"

namespace kv70sim {
namespace {

using namespace testing;

std::unique_ptr<Line> MonitorLine(const std::string& faults) {
  auto line = std::make_unique<Line>("state=monitor," + faults);
  line->SetBaud(38400);
  return line;
}

const Bytes kPing = Request(0x00);
const Bytes kPingReply = Reply(0x00);

TEST(Faults, PullByExchange) {
  auto line = MonitorLine("pull=2-3");
  EXPECT_EQ(line->Exchange(kPing), kPingReply);  // exchange 1
  EXPECT_TRUE(line->Exchange(kPing).empty());    // 2: the request is lost
  EXPECT_TRUE(line->Exchange(kPing).empty());    // 3
  EXPECT_EQ(line->Exchange(kPing), kPingReply);  // 4: back
  EXPECT_EQ(line->device->GetCounters().requests, 2u);
}

TEST(Faults, PullByTimeCutsBothWays) {
  // The cable is out from 1000 to 2999 ms of device time.
  auto line = MonitorLine("pull-ms=1000-2999");
  EXPECT_EQ(line->Exchange(kPing), kPingReply);  // ends at about 1 s (the read waits it out)
  EXPECT_TRUE(line->Exchange(kPing).empty());
  line->clock.SleepMs(1000);
  EXPECT_EQ(line->Exchange(kPing), kPingReply);
  EXPECT_GT(line->device->GetCounters().bytesLost, 0u);

  // A reply under way when the cable goes: the PC gets its start only.
  auto cut = MonitorLine("pull-ms=5-100");
  Bytes request = Request(0x05, Cat(Be32(0x02800000), {0x04, 0x00}));
  Bytes got = cut->Exchange(request);
  EXPECT_GT(got.size(), 0u);
  EXPECT_LT(got.size(), 1031u);
}

TEST(Faults, NoiseBeforeReplies) {
  auto line = MonitorLine("noise=5,seed=9");
  Bytes got = line->Exchange(kPing);
  ASSERT_EQ(got.size(), 5 + kPingReply.size());
  EXPECT_EQ(Bytes(got.begin() + 5, got.end()), kPingReply);
  for (int i = 0; i < 5; ++i) EXPECT_NE(got[i], 0x02);
  // The same seed makes the same noise.
  auto again = MonitorLine("noise=5,seed=9");
  EXPECT_EQ(again->Exchange(kPing), got);
  auto other = MonitorLine("noise=5,seed=10");
  EXPECT_NE(other->Exchange(kPing), got);
}

TEST(Faults, ForeignFrameBeforeReplies) {
  auto line = MonitorLine("foreign=1");
  Bytes got = line->Exchange(Request(0x07));
  Bytes foreign = Reply(0x47, {0x01, 0x00});
  ASSERT_EQ(got.size(), foreign.size() + 8);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + foreign.size()), foreign);
  Bytes data;
  EXPECT_TRUE(FindReply(got, 0x07, data));
  EXPECT_EQ(data, Bytes{0x01});
}

TEST(Faults, BadChecksumOnTheKthReply) {
  auto line = MonitorLine("bad-checksum=2");
  Bytes data;
  EXPECT_TRUE(FindReply(line->Exchange(kPing), 0x00, data));
  Bytes second = line->Exchange(kPing);
  ASSERT_EQ(second.size(), kPingReply.size());
  EXPECT_FALSE(FindReply(second, 0x00, data));
  EXPECT_EQ(second[5], kPingReply[5] ^ 0x5A);
  EXPECT_TRUE(FindReply(line->Exchange(kPing), 0x00, data));
}

TEST(Faults, BadChecksumRateIsDeterministic) {
  auto pattern = [](const std::string& settings) {
    auto line = MonitorLine(settings);
    std::string marks;
    Bytes data;
    for (int i = 0; i < 40; ++i) marks += FindReply(line->Exchange(kPing), 0x00, data) ? '.' : 'x';
    return marks;
  };
  std::string a = pattern("bad-checksum-rate=0.5,seed=3");
  EXPECT_EQ(a, pattern("bad-checksum-rate=0.5,seed=3"));
  EXPECT_NE(a.find('x'), std::string::npos);
  EXPECT_NE(a.find('.'), std::string::npos);
  EXPECT_EQ(pattern("bad-checksum-rate=1"), std::string(40, 'x'));
  EXPECT_EQ(pattern("bad-checksum-rate=0"), std::string(40, '.'));
}

TEST(Faults, EraseBusyForever) {
  auto line = MonitorLine("erase-busy=forever");
  Bytes data;
  ASSERT_TRUE(FindReply(line->Exchange(Request(0x01, Cat({1}, Be32(0x02400000)))), 0x01, data));
  for (int i = 0; i < 500; ++i) {
    ASSERT_TRUE(FindReply(line->Exchange(Request(0x02)), 0x02, data));
    ASSERT_EQ(data, Bytes{0x00}) << "poll " << i;
  }
}

TEST(Faults, ProgramRefused) {
  auto line = MonitorLine("program-refuse=2-3");
  Bytes data;
  for (std::uint8_t k = 1; k <= 4; ++k) {
    ASSERT_TRUE(
        FindReply(line->Exchange(Request(0x03, Cat(Be32(0x02400000 + k), {0x00}))), 0x03, data));
    EXPECT_EQ(data, Bytes{static_cast<std::uint8_t>(k == 2 || k == 3 ? 0x00 : 0x01)}) << int(k);
  }
  auto flash = line->device->ProgFlash();
  EXPECT_EQ(flash[2], 0xFF);  // refused requests program nothing
  EXPECT_EQ(flash[4], 0x00);

  auto all = MonitorLine("program-refuse=all");
  ASSERT_TRUE(FindReply(all->Exchange(Request(0x03, Cat(Be32(0x02400000), {0x00}))), 0x03, data));
  EXPECT_EQ(data, Bytes{0x00});
}

TEST(Faults, MonitorSilent) {
  auto line = MonitorLine("monitor-silent=1");
  EXPECT_TRUE(line->Exchange(kPing).empty());
  EXPECT_TRUE(line->Exchange(Request(0x06)).empty());
  EXPECT_EQ(line->device->GetCounters().requests, 2u);  // heard, never answered
}

TEST(Faults, ConfigurationOfTheWrongLength) {
  for (std::uint32_t n : {183u, 185u, 0u}) {
    auto line = MonitorLine("config-len=" + std::to_string(n));
    Bytes data;
    ASSERT_TRUE(FindReply(line->Exchange(Request(0x06)), 0x06, data));
    EXPECT_EQ(data.size(), n);
  }
}

TEST(Faults, MismatchedSpeedGarblesBothWays) {
  auto line = std::make_unique<Line>("state=monitor,seed=1");  // device at 38400, PC at 9600
  EXPECT_TRUE(line->Exchange(kPing).empty());
  EXPECT_EQ(line->device->GetCounters().requests, 0u);
  EXPECT_GT(line->device->GetCounters().bytesGarbled, 0u);

  // A PC at the right speed with 7 data bits fares no better.
  DCB dcb;
  line->port.GetState(dcb);
  dcb.BaudRate = 38400;
  dcb.ByteSize = 7;
  line->port.SetState(dcb);
  EXPECT_TRUE(line->Exchange(kPing).empty());
}

TEST(Faults, GarbledRepliesFromTheDevice) {
  // The device answers at 38400 but the PC listens at 19200: bytes arrive, all wrong.
  auto line = MonitorLine("");
  line->Send(kPing);
  line->SetBaud(19200);
  Bytes got = line->Receive();
  ASSERT_EQ(got.size(), kPingReply.size());
  EXPECT_NE(got, kPingReply);
  DWORD errors = 0;
  line->port.ClearError(errors);
  EXPECT_TRUE(errors & CE_FRAME);
}

}  // namespace
}  // namespace kv70sim
