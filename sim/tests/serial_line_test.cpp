// The serial line on its own, with a recording device end: what the wire does to bytes
// and breaks, in nanoseconds of the line's time.
#include "sim/serial_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/comm_port.h"

namespace kv70sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kByteAt9600 = 10 * 1000000000ull / 9600;    // 1041666 ns
constexpr std::uint64_t kByteAt38400 = 10 * 1000000000ull / 38400;  // 260416 ns

struct Arrival {
  std::uint8_t byte;
  std::uint64_t ns;
};

class RecordingEnd final : public SerialLine::DeviceEnd {
 public:
  void CatchUpTo(std::uint64_t ns) override { caughtUpTo.push_back(ns); }
  void Received(std::uint8_t byte, std::uint64_t ns) override { got.push_back({byte, ns}); }
  std::vector<std::uint64_t> caughtUpTo;
  std::vector<Arrival> got;
};

struct Wire {
  explicit Wire(const std::string& settings = "")
      : s(Settings::Parse(settings)), random(s.seed), line(s, random, counters, 0) {}
  // Delivers everything due by `ns` to the PC, as the device's event loop does.
  void DeliverUntil(std::uint64_t ns) {
    while (line.NextDeliveryNs() <= ns) line.DeliverNext();
    line.Compact();
  }
  Bytes TakeAll() {
    Bytes b(line.PcAvailable());
    b.resize(line.PcTake(b.data(), b.size()));
    return b;
  }
  Settings s;
  Random random;
  LineCounters counters;
  SerialLine line;
  RecordingEnd end;
};

TEST(SerialLine, PcBytesArriveOneCharacterTimeApartAndTheDeviceCatchesUpFirst) {
  Wire w;
  const Bytes data{0x02, 0x00, 0x55};
  std::uint64_t done = w.line.PcWrite(data.data(), data.size(), 1000, w.end);
  EXPECT_EQ(done, 1000 + 3 * kByteAt9600);
  ASSERT_EQ(w.end.got.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(w.end.got[i].byte, data[i]);
    EXPECT_EQ(w.end.got[i].ns, 1000 + (i + 1) * kByteAt9600);
    EXPECT_EQ(w.end.caughtUpTo[i], w.end.got[i].ns);
  }
  // A second write queues behind the first, however early it is given.
  EXPECT_EQ(w.line.PcWrite(data.data(), 1, 0, w.end), done + kByteAt9600);
  EXPECT_EQ(w.counters.bytesToDevice, 4u);
  EXPECT_EQ(w.counters.exchanges, 1u);  // no read in between: one exchange
  w.line.PcRead();
  w.line.PcWrite(data.data(), 1, 0, w.end);
  EXPECT_EQ(w.counters.exchanges, 2u);
}

TEST(SerialLine, GarblesWhatTheReceiverIsNotSetFor) {
  struct Case {
    const char* what;
    std::uint32_t pcBaud;
    bool eightN1;
    std::uint32_t deviceRx;
    bool garbled;
  } cases[] = {
      {"both at 9600", 9600, true, 9600, false},  {"both at 38400", 38400, true, 38400, false},
      {"PC faster", 38400, true, 9600, true},     {"PC not 8N1", 9600, false, 9600, true},
      {"device rate unusable", 0, true, 0, true},
  };
  for (const auto& c : cases) {
    Wire w;
    w.line.PcSetLine(c.pcBaud, c.eightN1);
    w.line.SetDeviceSpeeds(c.deviceRx, 9600);
    const Bytes data(32, 0x3C);
    w.line.PcWrite(data.data(), data.size(), 0, w.end);
    ASSERT_EQ(w.end.got.size(), data.size()) << c.what;
    std::size_t changed = 0;
    for (const auto& a : w.end.got) changed += a.byte != 0x3C;
    EXPECT_EQ(changed, c.garbled ? data.size() : 0u) << c.what;  // a garbled byte never survives
    EXPECT_EQ(w.counters.bytesGarbled, c.garbled ? data.size() : 0u) << c.what;
  }
}

TEST(SerialLine, DeviceBytesReachThePcAtTheirSpeedAndGarbleOnAMismatch) {
  Wire w;
  w.line.SetDeviceSpeeds(38400, 38400);
  w.line.PcSetLine(38400, true);
  const Bytes reply{0x02, 0x06, 0x00};
  w.line.DeviceSend(reply, 500);
  EXPECT_EQ(w.line.NextDeliveryNs(), 500 + kByteAt38400);
  EXPECT_EQ(w.line.DeviceTxFreeNs(), 500 + 3 * kByteAt38400);
  w.DeliverUntil(500 + 2 * kByteAt38400);
  EXPECT_EQ(w.TakeAll(), (Bytes{0x02, 0x06}));
  w.DeliverUntil(UINT64_MAX - 1);
  EXPECT_EQ(w.TakeAll(), Bytes{0x00});
  EXPECT_EQ(w.line.PcTakeErrors(), 0u);

  w.line.PcSetLine(9600, true);  // the PC has not followed the device's switch
  w.line.DeviceSend(reply, 0);
  w.DeliverUntil(UINT64_MAX - 1);
  Bytes got = w.TakeAll();
  ASSERT_EQ(got.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_NE(got[i], reply[i]);
  EXPECT_EQ(w.line.PcTakeErrors(), static_cast<std::uint32_t>(CE_FRAME));
  EXPECT_EQ(w.line.PcTakeErrors(), 0u);  // reported once
  EXPECT_EQ(w.counters.bytesToPc, 6u);
}

TEST(SerialLine, BreaksBothWays) {
  Wire w;
  // The device's break: the transmitter is held for its length, the PC sees it once.
  const Bytes one{0x41};
  w.line.DeviceSend(one, 0);
  const std::uint64_t at = w.line.DeviceSendBreak(0, 20000000);
  EXPECT_EQ(at, kByteAt9600);  // after the byte already queued
  EXPECT_EQ(w.line.DeviceTxFreeNs(), at + 20000000);
  std::uint64_t next = 0;
  ASSERT_TRUE(w.line.NextPcArrival(next));
  EXPECT_EQ(next, kByteAt9600);
  w.DeliverUntil(at);
  EXPECT_FALSE(w.line.NextPcArrival(next));  // only breaks are not arrivals
  EXPECT_EQ(w.line.PcTakeErrors(), static_cast<std::uint32_t>(CE_BREAK));
  EXPECT_EQ(w.line.PcTakeErrors(), 0u);

  // The PC's break: nothing it writes meanwhile reaches the device.
  EXPECT_TRUE(w.line.PcSetBreak(true, 5000));
  EXPECT_FALSE(w.line.PcSetBreak(true, 6000));  // already held
  EXPECT_EQ(w.line.PcBreakStartNs(), 5000u);
  w.line.PcWrite(one.data(), 1, 7000, w.end);
  EXPECT_TRUE(w.end.got.empty());
  EXPECT_TRUE(w.line.PcSetBreak(false, 9000));
  w.line.PcWrite(one.data(), 1, 9000, w.end);
  EXPECT_EQ(w.end.got.size(), 1u);
}

TEST(SerialLine, APulledCableLosesBytesBothWays) {
  {
    Wire w("pull=2");  // the second exchange only
    const Bytes b{0x10, 0x20};
    w.line.PcWrite(b.data(), b.size(), 0, w.end);
    w.line.PcRead();
    w.line.PcWrite(b.data(), b.size(), 0, w.end);
    w.line.DeviceSend(b, 0);
    w.DeliverUntil(UINT64_MAX - 1);
    w.line.PcRead();
    w.line.PcWrite(b.data(), b.size(), 0, w.end);
    EXPECT_EQ(w.end.got.size(), 4u);
    EXPECT_EQ(w.counters.bytesLost, 4u);
    EXPECT_TRUE(w.TakeAll().empty());
  }
  {
    Wire w("pull-ms=10-19");  // out from 10 ms to 19.999 ms after the origin
    const Bytes b{0x10};
    for (std::uint64_t ms : {8, 10, 18, 20}) w.line.PcWrite(b.data(), 1, ms * 1000000, w.end);
    ASSERT_EQ(w.end.got.size(), 2u);
    EXPECT_LT(w.end.got[0].ns, 10000000u);
    EXPECT_GE(w.end.got[1].ns, 20000000u);
  }
}

TEST(SerialLine, NoiseNeverPassesForAFrameStartAndFollowsTheSeed) {
  Wire a("seed=3"), b("seed=3"), c("seed=4");
  Bytes na, nb, nc;
  a.line.AppendNoise(na, 4096);
  b.line.AppendNoise(nb, 4096);
  c.line.AppendNoise(nc, 4096);
  EXPECT_EQ(na.size(), 4096u);
  EXPECT_EQ(na, nb);
  EXPECT_NE(na, nc);
  for (std::uint8_t x : na) EXPECT_NE(x, 0x02);
}

TEST(SerialLine, OpeningAPortForgetsWhatThePcHadNotTaken) {
  Wire w;
  w.line.DeviceSend(Bytes{1, 2, 3}, 0);
  w.line.DeviceSendBreak(0, 1000);
  w.line.PcSetLine(19200, true);
  w.DeliverUntil(UINT64_MAX - 1);
  EXPECT_EQ(w.line.PcAvailable(), 3u);
  w.line.PcOpened();
  EXPECT_EQ(w.line.PcAvailable(), 0u);
  EXPECT_EQ(w.line.PcTakeErrors(), 0u);  // neither the framing errors nor the break
}

}  // namespace
}  // namespace kv70sim
