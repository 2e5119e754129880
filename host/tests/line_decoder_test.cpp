// The host's decoder of the line, fed byte literals: what counts, and what is shown
// without counting (bad frames, frames cut short, unknown bytes, replies for another
// command).
#include "host/core/line_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/core/trace_reader.h"

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = DecodedFrame::Kind;

// A flash-monitor frame: 02 code nH nL data sH sL 03, and 00 after a request.
Bytes Frame(std::uint8_t code, const Bytes& data, bool request) {
  Bytes f{0x02, code, static_cast<std::uint8_t>(data.size() >> 8),
          static_cast<std::uint8_t>(data.size())};
  std::uint16_t sum = static_cast<std::uint16_t>(code + (data.size() >> 8) + (data.size() & 0xFF));
  for (std::uint8_t b : data) {
    f.push_back(b);
    sum = static_cast<std::uint16_t>(sum + b);
  }
  f.push_back(static_cast<std::uint8_t>(sum >> 8));
  f.push_back(static_cast<std::uint8_t>(sum));
  f.push_back(0x03);
  if (request) f.push_back(0x00);
  return f;
}
Bytes Request(std::uint8_t code, const Bytes& data = {}) {
  return Frame(code, data, true);
}
Bytes Reply(std::uint8_t code, const Bytes& data = {}) {
  return Frame(code, data, false);
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// A ROM-monitor frame: 02 00 type L payload sum 03, and 00 00 after a bulk one.
Bytes RomFrame(std::uint8_t type, const Bytes& payload, bool bulk) {
  Bytes f{0x02, 0x00, type, static_cast<std::uint8_t>(payload.size())};
  f.insert(f.end(), payload.begin(), payload.end());
  std::uint8_t sum = 0;
  for (std::size_t i = 1; i < f.size(); ++i) sum = static_cast<std::uint8_t>(sum + f[i]);
  f.push_back(sum);
  f.push_back(0x03);
  if (bulk) f.insert(f.end(), {0x00, 0x00});
  return f;
}

Bytes Be32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

// A record: serial "KV70-1", owner 1 unset, owner 2 "Depot"; toggles 0 and 7 on,
// application 33 from January 1999 with value 5; Info0 502, FlashType 8922, 1 MiB.
Bytes TestRecord() {
  Bytes r(184, 0x00);
  const std::string serial = "KV70-1", owner2 = "Depot";
  std::copy(serial.begin(), serial.end(), r.begin() + 2);
  std::fill_n(r.begin() + 38, 36, 0xFF);
  std::copy(owner2.begin(), owner2.end(), r.begin() + 74);
  const Bytes options = {0x01, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x00};
  std::fill_n(r.begin() + 110, 62, 0xFF);
  std::copy(options.begin(), options.end(), r.begin() + 110);
  const Bytes app33 = {0x00, 0x19, 0x00, 0x00, 0x00, 0x01, 0x05};
  std::copy(app33.begin(), app33.end(), r.begin() + 110 + 33);
  const Bytes numbers = {0x01, 0xF6, 0xFF, 0xFF, 0x22, 0xDA, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00};
  std::copy(numbers.begin(), numbers.end(), r.begin() + 172);
  return r;
}

struct Seen {
  std::vector<Kind> kinds;
  std::vector<std::string> meanings;
  std::vector<bool> matches;
};

struct Fixture {
  Seen seen;
  LineDecoder decoder{[this](const DecodedFrame& f) {
    seen.kinds.push_back(f.kind);
    seen.meanings.push_back(f.meaning);
    seen.matches.push_back(f.matches);
  }};
  std::uint64_t ms = 0;
  void Pc(const Bytes& b) { decoder.ToDevice(b, ms++); }
  void Device(const Bytes& b) { decoder.FromDevice(b, ms++); }
  const LineSummary& Done() {
    decoder.Finish();
    return decoder.Summary();
  }
};

TEST(LineDecoderTest, TheConfigurationRecordIsDecodedFieldByField) {
  Fixture f;
  f.Pc({0x02, 0x06, 0x00, 0x00, 0x00, 0x06, 0x03, 0x00});  // the empty request for 06
  f.Device(Reply(0x06, TestRecord()));
  const LineSummary& s = f.Done();
  ASSERT_TRUE(s.record);
  const DeviceRecord& r = *s.record;
  EXPECT_EQ(r.serial, "KV70-1");
  EXPECT_EQ(r.owner1, std::nullopt);
  EXPECT_EQ(r.owner2, "Depot");
  EXPECT_EQ(r.installedOptions, (std::vector<int>{0, 7, 33}));
  EXPECT_EQ(r.info0, 502);
  EXPECT_EQ(r.info1, 0xFFFF);
  EXPECT_EQ(r.flashType, 8922);
  EXPECT_EQ(r.fileSystemMb, 1);
  EXPECT_EQ(r.applicationId, 0);
  ASSERT_EQ(r.applications.size(), 2u);
  EXPECT_EQ(r.applications[0], (ApplicationEntry{33, 25, 1, 5}));
  EXPECT_FALSE(r.applications[1].Installed());
  EXPECT_EQ(f.seen.kinds, (std::vector<Kind>{Kind::Request, Kind::Reply}));
}

TEST(LineDecoderTest, ASerialNumberStartingWithNulIsEmptyNotAbsent) {
  Bytes record = TestRecord();
  std::fill_n(record.begin() + 2, 32, 0x00);
  Fixture f;
  f.Pc(Request(0x06));
  f.Device(Reply(0x06, record));
  ASSERT_TRUE(f.Done().record);
  EXPECT_EQ(f.Done().record->serial, "");
}

// What the device sends back for a read-configuration request, and whether the record
// counts: faults never give a field, noise and foreign frames do not hide a good one.
TEST(LineDecoderTest, AFaultyReplyNeverGivesARecordAndNoiseDoesNotHideAGoodOne) {
  const Bytes good = Reply(0x06, TestRecord());
  Bytes badSum = good;
  badSum[4 + 184 + 1] ^= 0x5A;
  Bytes badEnd = good;
  badEnd.back() = 0x04;
  Bytes flipped = good;
  flipped[4 + 10] ^= 0x01;
  const Bytes record = TestRecord();
  const Bytes shortRecord = Reply(0x06, Bytes(record.begin(), record.end() - 1));
  const Bytes half(good.begin(), good.begin() + 90);
  // 02 with a length of 1023: a false start whose length runs past the real frame.
  const Bytes falseStart = {0x02, 0x06, 0x03, 0xFF};
  struct Row {
    const char* what;
    Bytes reply;
    bool record;
    unsigned bad, cutShort;
    std::uint64_t unknown;
  };
  const Row rows[] = {
      {"good", good, true, 0, 0, 0},
      {"bad checksum", badSum, false, 1, 0, 0},
      {"bad end byte", badEnd, false, 1, 0, 0},
      {"a data byte flipped", flipped, false, 1, 0, 0},
      {"183 bytes", shortRecord, false, 0, 0, 0},
      {"noise first", Bytes{0x5A, 0x11, 0xC3} + good, true, 0, 0, 3},
      {"foreign frame first", Reply(0x46, {0x01, 0x00}) + good, true, 0, 0, 0},
      {"bad frame, then the good one", badSum + good, true, 1, 0, 0},
      {"false start first", falseStart + good, true, 0, 0, 4},
      {"cut short", half, false, 0, 1, 0},
      {"nothing but noise", Bytes{0x02, 0x02, 0x00}, false, 0, 1, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    for (bool byteByByte : {false, true}) {
      Fixture f;
      f.Pc(Request(0x06));
      if (byteByByte) {
        for (std::uint8_t b : row.reply) f.Device({b});
      } else {
        f.Device(row.reply);
      }
      f.Pc(Request(0x04));  // the PC moves on: what came back is all there is
      const LineSummary& s = f.Done();
      EXPECT_EQ(s.record.has_value(), row.record);
      if (s.record) {
        EXPECT_EQ(s.record->serial, "KV70-1");
      }
      EXPECT_EQ(s.badFrames, row.bad);
      EXPECT_EQ(s.cutShort, row.cutShort);
      EXPECT_EQ(s.unknownBytes, row.unknown);
    }
  }
}

TEST(LineDecoderTest, AReplyForAnotherCommandIsShownAndIgnored) {
  Fixture f;
  f.Pc(Request(0x05, Be32(0x02800000) + Bytes{0x00, 0x04}));
  f.Device(Reply(0x45, {0x01, 0x00}) + Reply(0x05, {1, 2, 3, 4}));
  const LineSummary& s = f.Done();
  EXPECT_EQ(f.seen.kinds, (std::vector<Kind>{Kind::Request, Kind::Reply, Kind::Reply}));
  EXPECT_EQ(f.seen.matches, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(s.read, (std::vector<AddressRange>{{0x02800000, 4}}));
}

TEST(LineDecoderTest, ReadRangesCountOnlyRepliesOfTheLengthAskedFor) {
  Fixture f;
  for (std::uint32_t block = 0; block < 3; ++block) {
    f.Pc(Request(0x05, Be32(0x02800000 + block * 1024) + Bytes{0x04, 0x00}));
    f.Device(Reply(0x05, Bytes(block == 1 ? 1000 : 1024, 0xA5)));
  }
  // Block 1 again, whole this time (the plug-in's retry).
  f.Pc(Request(0x05, Be32(0x02800400) + Bytes{0x04, 0x00}));
  f.Device(Reply(0x05, Bytes(1024, 0x5A)));
  const LineSummary& s = f.Done();
  EXPECT_EQ(s.read, (std::vector<AddressRange>{{0x02800000, 3072}}));
  EXPECT_EQ(s.ReadBytes(), 3072u);
  EXPECT_EQ(f.seen.meanings[3], "wrong length, not taken");
}

TEST(LineDecoderTest, EraseIsReachedWhenTheRequestGoesOutWhateverComesBack) {
  Fixture f;
  f.Pc(Request(0x06));
  f.Device(Reply(0x06, TestRecord()));  // FlashType 8922: 64 KiB sectors from 0x02400000
  f.Pc(Request(0x01, Bytes{0x02} + Be32(0x02400000) + Be32(0x02410000)));
  EXPECT_TRUE(f.decoder.Summary().eraseReached);  // no reply yet: the device may be erasing
  EXPECT_FALSE(f.decoder.Summary().eraseAccepted);
  f.Device(Reply(0x01, {0x01}));
  f.Pc(Request(0x02));
  f.Device(Reply(0x02, {0x00}));
  f.Pc(Request(0x02));
  f.Device(Reply(0x02, {0x01}));
  const LineSummary& s = f.Done();
  EXPECT_TRUE(s.eraseAccepted);
  EXPECT_TRUE(s.eraseFinished);
  EXPECT_EQ(s.eraseSectors, (std::vector<std::uint32_t>{0x02400000, 0x02410000}));
  EXPECT_EQ(s.eraseRanges, (std::vector<AddressRange>{{0x02400000, 0x20000}}));
}

TEST(LineDecoderTest, AMalformedEraseRequestReachesNothing) {
  Fixture f;
  f.Pc(Request(0x01, Bytes{0x02} + Be32(0x02400000)));  // says 2 sectors, carries 1
  EXPECT_FALSE(f.Done().eraseReached);
  EXPECT_EQ(f.seen.meanings[0], "malformed data for this command");
}

TEST(LineDecoderTest, ProgramRangesCountOnlyAcceptedBlocks) {
  Fixture f;
  // The request quoted from the protocol's examples: 4 bytes at 0x12345.
  f.Pc({0x02, 0x03, 0x00, 0x08, 0x00, 0x01, 0x23, 0x45, 0xAA, 0xBB, 0xCC, 0xDD, 0x03, 0x82, 0x03,
        0x00});
  f.Device(Reply(0x03, {0x01}));
  f.Pc(Request(0x03, Be32(0x00012349) + Bytes(4, 0x11)));
  f.Device(Reply(0x03, {0x00}));  // refused
  f.Pc(Request(0x03, Be32(0x00012349) + Bytes(4, 0x11)));
  // no reply: the PC sends it again
  f.Pc(Request(0x03, Be32(0x00012349) + Bytes(4, 0x11)));
  f.Device(Reply(0x03, {0x01}));
  f.Pc(Request(0x0A));
  f.Device(Reply(0x0A, {0x01}));
  const LineSummary& s = f.Done();
  EXPECT_EQ(s.programmed, (std::vector<AddressRange>{{0x00012345, 8}}));
  EXPECT_EQ(s.programRefusals, 1u);
  EXPECT_TRUE(s.programDone);
}

TEST(LineDecoderTest, TheRomMonitorsFramesAndAcknowledgements) {
  const std::string id =
      "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,5.03,1/17/97,1.0,1/17/97;COMM,NMEA";
  Bytes identify{0x02, 0x00, 0x6E, 0x54};
  std::uint8_t sum = 0xC2;
  for (char c : id) {
    identify.push_back(static_cast<std::uint8_t>(c));
    sum = static_cast<std::uint8_t>(sum + c);
  }
  identify.push_back(sum);
  identify.push_back(0x03);
  ASSERT_EQ(identify.size(), 90u);
  Fixture f;
  f.decoder.BreakReceived(0);
  f.Pc(identify);
  f.Device({0x06});  // nothing awaits an acknowledgement: unknown
  f.Pc({0x05, 0x0A, 0x14, 0x28, 0x00, 0x00});
  f.Device({0x06});
  // 32-bit typed write of 02 40 00 11 to 0xFFF04C, then a bulk write into monitor RAM.
  f.Pc(RomFrame(0x81, Be32(0xFFF04C) + Be32(0x02400011), false));
  f.Device({0x06});
  f.Pc(RomFrame(0x81, Be32(0x200000) + Bytes{0x60, 0xFE}, true));
  f.Device({0x06});
  f.Pc({0x02, 0x00, 0x82, 0x04, 0x00, 0x20, 0x00, 0x00, 0xA6, 0x03, 0x00, 0x00});
  f.Device({0x06});
  const LineSummary& s = f.Done();
  EXPECT_EQ(s.breaksReceived, 1u);
  EXPECT_EQ(s.identifications, 1u);
  EXPECT_EQ(s.readOnlyIdentification, true);
  EXPECT_TRUE(s.romMonitorAnswered);
  EXPECT_EQ(s.monitorBytesWritten, 2u);
  EXPECT_EQ(s.monitorStartedAt, 0x00200000u);
  EXPECT_EQ(s.unknownBytes, 1u);
  EXPECT_EQ(f.seen.kinds,
            (std::vector<Kind>{Kind::BreakReceived, Kind::RomIdentify, Kind::Unknown,
                               Kind::RomProbe, Kind::RomAck, Kind::RomWrite, Kind::RomAck,
                               Kind::RomWrite, Kind::RomAck, Kind::RomGo, Kind::RomAck}));
}

TEST(LineDecoderTest, RangesMergeWhenTheyTouchOrOverlap) {
  std::vector<AddressRange> r;
  AddRange(r, 0x100, 0x10);
  AddRange(r, 0x200, 0x10);
  AddRange(r, 0x080, 0x10);
  EXPECT_EQ(r, (std::vector<AddressRange>{{0x80, 0x10}, {0x100, 0x10}, {0x200, 0x10}}));
  AddRange(r, 0x090, 0x70);  // closes the gap to 0x100
  EXPECT_EQ(r, (std::vector<AddressRange>{{0x80, 0x90}, {0x200, 0x10}}));
  AddRange(r, 0x0F0, 0x200);  // swallows 0x200
  EXPECT_EQ(r, (std::vector<AddressRange>{{0x80, 0x270}}));
}

TEST(TraceReaderTest, TakesTheTracesLinesAndRefusesOthers) {
  Fixture f;
  const std::pair<const char*, bool> lines[] = {
      {"0 ! speed 9600", true},
      {"12 > 02 06 00 00 00 06 03 00", true},
      {"13 < 02 06 00 00 00 06 03", true},
      {"14 ! break-sent 1000", true},
      {"15 ! break-received", true},
      {"16 ! monitor-image embedded stand-in", true},
      {"17 > 02 6", false},
      {"18 > 0G", false},
      {"21 > 02!06", false},
      {"x > 02", false},
      {"19 ? 02", false},
      {"", false},
      {"20 >", false},
  };
  for (const auto& [line, ok] : lines) EXPECT_EQ(FeedTraceLine(line, f.decoder), ok) << line;
  f.Done();
  EXPECT_TRUE(f.decoder.Summary().monitorAnswered);
  EXPECT_EQ(f.seen.kinds, (std::vector<Kind>{Kind::Speed, Kind::Request, Kind::Reply,
                                             Kind::BreakSent, Kind::BreakReceived, Kind::Note}));
}

}  // namespace
}  // namespace velmora
