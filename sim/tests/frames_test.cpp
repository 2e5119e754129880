// The device's frame readers, fed by hand-written bytes.
#include <gtest/gtest.h>

#include "sim/monitor_frames.h"
#include "sim/rom_frames.h"
#include "sim/tests/line.h"

namespace kv70sim {
namespace {

using testing::Bytes;
using RomResult = RomFrameReader::Result;
using MonResult = MonitorRequestReader::Result;

std::vector<RomResult> FeedRom(RomFrameReader& r, const Bytes& bytes) {
  std::vector<RomResult> results;
  for (auto b : bytes) {
    auto result = r.Feed(b);
    if (result != RomResult::More) results.push_back(result);
  }
  return results;
}

std::vector<MonResult> FeedMon(MonitorRequestReader& r, const Bytes& bytes) {
  std::vector<MonResult> results;
  for (auto b : bytes) {
    auto result = r.Feed(b);
    if (result != MonResult::More) results.push_back(result);
  }
  return results;
}

TEST(RomFrameReader, ProbeAndFrames) {
  struct Row {
    const char* what;
    Bytes bytes;
    std::vector<RomResult> expected;
  };
  const Row rows[] = {
      {"probe", {0x05, 0x0A, 0x14, 0x28, 0x00, 0x00}, {RomResult::Probe}},
      {"two probes",
       {0x05, 0x0A, 0x14, 0x28, 0x00, 0x00, 0x05, 0x0A, 0x14, 0x28, 0x00, 0x00},
       {RomResult::Probe, RomResult::Probe}},
      {"probe cut short, then a probe",
       {0x05, 0x0A, 0x05, 0x0A, 0x14, 0x28, 0x00, 0x00},
       {RomResult::Probe}},
      {"probe without its last byte", {0x05, 0x0A, 0x14, 0x28, 0x00}, {}},
      // go 0x80A: sum = 00 + 82 + 04 + 00 00 08 0A = 0x98
      {"go, bulk trailer",
       {0x02, 0x00, 0x82, 0x04, 0x00, 0x00, 0x08, 0x0A, 0x98, 0x03, 0x00, 0x00},
       {RomResult::Frame}},
      {"go, wrong checksum",
       {0x02, 0x00, 0x82, 0x04, 0x00, 0x00, 0x08, 0x0A, 0x99, 0x03, 0x00, 0x00},
       {RomResult::BadFrame}},
      {"go, no ETX",
       {0x02, 0x00, 0x82, 0x04, 0x00, 0x00, 0x08, 0x0A, 0x98, 0x04},
       {RomResult::BadFrame}},
      {"go with a 5-byte payload", {0x02, 0x00, 0x82, 0x05}, {RomResult::BadFrame}},
      {"read with a 4-byte payload", {0x02, 0x00, 0x80, 0x04}, {RomResult::BadFrame}},
      {"unknown type", {0x02, 0x00, 0x90, 0x00}, {RomResult::BadFrame}},
      // typed write of one byte 0x00 to 0xFFF01B: sum = 81 + 05 + 00 FF F0 1B 00 = 0x0290 -> 0x90
      {"typed byte write",
       {0x02, 0x00, 0x81, 0x05, 0x00, 0xFF, 0xF0, 0x1B, 0x00, 0x90, 0x03},
       {RomResult::Frame}},
      {"STX not followed by 00 is not a frame", {0x02, 0x01, 0x82}, {}},
  };
  for (const auto& row : rows) {
    RomFrameReader reader;
    EXPECT_EQ(FeedRom(reader, row.bytes), row.expected) << row.what;
  }
}

TEST(RomFrameReader, IdentificationFrameIs90Bytes) {
  Bytes frame = testing::Identification(testing::kUpgradeId);
  ASSERT_EQ(frame.size(), 90u);
  EXPECT_EQ((Bytes{frame[0], frame[1], frame[2], frame[3]}), (Bytes{0x02, 0x00, 0x6E, 0x54}));
  std::uint8_t sum = 0xC2;
  for (char c : testing::kUpgradeId)
    sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
  EXPECT_EQ(frame[88], sum);
  EXPECT_EQ(frame[89], 0x03);

  RomFrameReader reader;
  EXPECT_EQ(FeedRom(reader, frame), std::vector<RomResult>{RomResult::Frame});
  EXPECT_EQ(reader.Type(), 0x6E);
  EXPECT_EQ(reader.Length(), 84);

  // One character short: the length byte no longer fits the type.
  Bytes shortText = testing::Identification(testing::kUpgradeId.substr(0, 83));
  EXPECT_EQ(FeedRom(reader, shortText), std::vector<RomResult>{RomResult::BadFrame});
}

TEST(MonitorRequestReader, RequestsFromTheWireLayout) {
  struct Row {
    const char* what;
    Bytes bytes;
    std::vector<MonResult> expected;
  };
  const Row rows[] = {
      {"empty request for 06",
       {0x02, 0x06, 0x00, 0x00, 0x00, 0x06, 0x03, 0x00},
       {MonResult::Request}},
      {"program AA BB CC DD at 0x12345",
       {0x02, 0x03, 0x00, 0x08, 0x00, 0x01, 0x23, 0x45, 0xAA, 0xBB, 0xCC, 0xDD, 0x03, 0x82, 0x03,
        0x00},
       {MonResult::Request}},
      {"one wrong checksum byte",
       {0x02, 0x03, 0x00, 0x08, 0x00, 0x01, 0x23, 0x45, 0xAA, 0xBB, 0xCC, 0xDD, 0x03, 0x83, 0x03,
        0x00},
       {MonResult::BadFrame}},
      {"no trailing 00", {0x02, 0x06, 0x00, 0x00, 0x00, 0x06, 0x03, 0x02}, {MonResult::BadFrame}},
      {"ETX missing", {0x02, 0x06, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00}, {MonResult::BadFrame}},
      {"1025 data bytes announced", {0x02, 0x05, 0x04, 0x01}, {MonResult::BadFrame}},
      {"garbage before",
       {0xFF, 0x00, 0x13, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00},
       {MonResult::Request}},
      {"bad frame, its last byte starts the next",
       {0x02, 0x06, 0x00, 0x00, 0x00, 0x06, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00},
       {MonResult::BadFrame, MonResult::Request}},
  };
  for (const auto& row : rows) {
    MonitorRequestReader reader;
    EXPECT_EQ(FeedMon(reader, row.bytes), row.expected) << row.what;
  }
}

TEST(MonitorRequestReader, KeepsCodeAndData) {
  MonitorRequestReader reader;
  FeedMon(reader, {0x02, 0x03, 0x00, 0x08, 0x00, 0x01, 0x23, 0x45, 0xAA, 0xBB, 0xCC, 0xDD, 0x03,
                   0x82, 0x03, 0x00});
  EXPECT_EQ(reader.Code(), 0x03);
  auto d = reader.Data();
  EXPECT_EQ(Bytes(d.begin(), d.end()), (Bytes{0x00, 0x01, 0x23, 0x45, 0xAA, 0xBB, 0xCC, 0xDD}));
}

TEST(MonitorReply, Layout) {
  Bytes out;
  AppendReply(out, 0x03, Bytes{0x01});
  EXPECT_EQ(out, (Bytes{0x02, 0x03, 0x00, 0x01, 0x01, 0x00, 0x05, 0x03}));
  out.clear();
  AppendReply(out, 0x00, {});
  EXPECT_EQ(out, (Bytes{0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}));
  out.clear();
  Bytes big(1024, 0xFF);  // 0x05 + 0x04 + 0x00 + 1024 x 0xFF wraps to 0x0009 + 0xFC00
  AppendReply(out, 0x05, big);
  ASSERT_EQ(out.size(), 1031u);
  EXPECT_EQ(out[1028], 0xFC);
  EXPECT_EQ(out[1029], 0x09);
}

}  // namespace
}  // namespace kv70sim
