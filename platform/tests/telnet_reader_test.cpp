#include "platform/telnet_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

using Bytes = std::vector<BYTE>;
using Kind = TelnetEvent::Kind;

struct Decoded {
  Bytes data;
  std::vector<TelnetEvent> events;
};

Decoded FeedWhole(const Bytes& in) {
  TelnetReader reader;
  Decoded out;
  reader.Feed(in.data(), in.size(), out.data, out.events);
  return out;
}

// Feeds one byte at a time: every command must survive any split.
Decoded FeedBytewise(const Bytes& in) {
  TelnetReader reader;
  Decoded out;
  for (BYTE b : in) {
    const std::size_t before = out.data.size();
    std::vector<TelnetEvent> events;
    reader.Feed(&b, 1, out.data, events);
    for (auto& e : events) {
      e.dataBefore += before;  // make the offsets absolute, as in one feed
      out.events.push_back(std::move(e));
    }
  }
  return out;
}

std::string Describe(const std::vector<TelnetEvent>& events) {
  std::string s;
  for (const auto& e : events) {
    s += e.kind == Kind::kOption ? "opt" : e.kind == Kind::kSubnegotiation ? "sub" : "refused";
    s += "(" + std::to_string(e.verb) + "," + std::to_string(e.option) + ",";
    for (BYTE b : e.payload) s += std::to_string(b) + " ";
    s += "@" + std::to_string(e.dataBefore) + ")";
  }
  return s;
}

TEST(TelnetReader, SeparatesDataFromCommands) {
  struct Row {
    const char* what;
    Bytes in;
    Bytes data;
    std::string events;
  };
  const Row rows[] = {
      {"plain data", {0x01, 0x02, 0x03}, {0x01, 0x02, 0x03}, ""},
      {"doubled FF is one data FF", {0x41, 0xFF, 0xFF, 0x42}, {0x41, 0xFF, 0x42}, ""},
      {"DO COM-PORT-OPTION", {0x01, 0xFF, 0xFD, 0x2C, 0x02}, {0x01, 0x02}, "opt(253,44,@1)"},
      {"WILL BINARY, DONT SGA",
       {0xFF, 0xFB, 0x00, 0xFF, 0xFE, 0x03},
       {},
       "opt(251,0,@0)opt(254,3,@0)"},
      {"NOTIFY-LINESTATE break",
       {0x07, 0xFF, 0xFA, 0x2C, 0x6A, 0x10, 0xFF, 0xF0, 0x08},
       {0x07, 0x08},
       "sub(0,44,106 16 @1)"},
      {"SET-BAUDRATE answer 38400",
       {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x96, 0x00, 0xFF, 0xF0},
       {},
       "sub(0,44,101 0 0 150 0 @0)"},
      {"FF doubled inside a sub-negotiation",
       {0xFF, 0xFA, 0x2C, 0x65, 0xFF, 0xFF, 0x00, 0xFF, 0xF0},
       {},
       "sub(0,44,101 255 0 @0)"},
      {"NOP and GA are dropped", {0x01, 0xFF, 0xF1, 0x02, 0xFF, 0xF9}, {0x01, 0x02}, ""},
      {"stray SE is dropped", {0xFF, 0xF0, 0x05}, {0x05}, ""},
      {"sub-negotiation broken off by a command",
       {0xFF, 0xFA, 0x2C, 0x6A, 0xFF, 0xFD, 0x00, 0x09},
       {0x09},
       "refused(0,44,@0)opt(253,0,@0)"},
      {"sub-negotiation broken off by a data FF pair is payload",
       {0xFF, 0xFA, 0x2C, 0x01, 0xFF, 0xFF, 0xFF, 0xF0},
       {},
       "sub(0,44,1 255 @0)"},
  };
  for (const auto& row : rows) {
    for (auto feed : {FeedWhole, FeedBytewise}) {
      Decoded d = feed(row.in);
      EXPECT_EQ(d.data, row.data) << row.what;
      EXPECT_EQ(Describe(d.events), row.events) << row.what;
    }
  }
}

TEST(TelnetReader, RefusesOverlongSubnegotiationAndGoesOn) {
  Bytes in = {0xFF, 0xFA, 0x2C, 0x00};
  in.insert(in.end(), TelnetReader::kMaxSubnegotiation + 10, 0x41);
  in.insert(in.end(),
            {0xFF, 0xFF, 0x42, 0xFF, 0xF0, 0x33, 0xFF, 0xFA, 0x2C, 0x6A, 0x10, 0xFF, 0xF0});
  for (auto feed : {FeedWhole, FeedBytewise}) {
    Decoded d = feed(in);
    EXPECT_EQ(d.data, Bytes({0x33}));
    EXPECT_EQ(Describe(d.events), "refused(0,44,@0)sub(0,44,106 16 @1)");
  }
  // Exactly the limit is still taken.
  Bytes fits = {0xFF, 0xFA, 0x2C};
  fits.insert(fits.end(), TelnetReader::kMaxSubnegotiation, 0x41);
  fits.insert(fits.end(), {0xFF, 0xF0});
  Decoded d = FeedWhole(fits);
  ASSERT_EQ(d.events.size(), 1u);
  EXPECT_EQ(d.events[0].kind, Kind::kSubnegotiation);
  EXPECT_EQ(d.events[0].payload.size(), TelnetReader::kMaxSubnegotiation);
}

TEST(TelnetReader, DecodesAndEncodesComPortCommands) {
  ComPortMessage m;
  ASSERT_TRUE(DecodeComPort({0x65, 0x00, 0x00, 0x25, 0x80}, m));
  EXPECT_EQ(m.command, 0x65);
  EXPECT_EQ(m.value, 9600u);
  EXPECT_EQ(m.valueLength, 4u);
  EXPECT_FALSE(DecodeComPort({}, m));

  const BYTE baud[] = {0x00, 0x00, 0x96, 0x00};
  EXPECT_EQ(EncodeComPort(comport::kSetBaudRate, baud, 4),
            Bytes({0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x96, 0x00, 0xFF, 0xF0}));
  const BYTE ff[] = {0xFF};
  EXPECT_EQ(EncodeComPort(comport::kSetLineStateMask, ff, 1),
            Bytes({0xFF, 0xFA, 0x2C, 0x0A, 0xFF, 0xFF, 0xFF, 0xF0}));
  Bytes escaped;
  const BYTE data[] = {0x00, 0xFF, 0xFF, 0x10};
  EscapeTelnetData(data, 4, escaped);
  EXPECT_EQ(escaped, Bytes({0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x10}));
  // What the encoder writes the reader reads back.
  Decoded d = FeedWhole(EncodeComPort(comport::kSetLineStateMask, ff, 1));
  ASSERT_EQ(d.events.size(), 1u);
  EXPECT_EQ(d.events[0].payload, Bytes({0x0A, 0xFF}));
}

}  // namespace
}  // namespace platform
