// The decoder of the line discipline's PARMRK marking, fed whole and in every split.
#include <gtest/gtest.h>

#include <vector>

#include "platform/posix/comm_termios.h"

namespace {

using Bytes = std::vector<BYTE>;

struct Row {
  const char* what;
  Bytes marked;  // as read from the terminal
  Bytes data;    // what the reader must get
  std::uint64_t breaks;
  std::uint64_t errored;
};

const Row kRows[] = {
    {"plain data", {0x01, 0x02, 0x7E}, {0x01, 0x02, 0x7E}, 0, 0},
    {"a data FF", {0x41, 0xFF, 0xFF, 0x42}, {0x41, 0xFF, 0x42}, 0, 0},
    {"two data FF", {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF}, 0, 0},
    {"a break", {0xFF, 0x00, 0x00}, {}, 1, 0},
    {"a break between data", {0x06, 0xFF, 0x00, 0x00, 0x06}, {0x06, 0x06}, 1, 0},
    {"two breaks", {0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00}, {}, 2, 0},
    {"an errored byte is kept", {0xFF, 0x00, 0x55, 0x10}, {0x55, 0x10}, 0, 1},
    {"an errored FF", {0xFF, 0x00, 0xFF}, {0xFF}, 0, 1},
    {"a data zero", {0x00, 0x00}, {0x00, 0x00}, 0, 0},
    {"FF then data FF then break", {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00}, {0xFF, 0x00}, 1, 0},
    // Not produced by the line discipline; nothing may be lost.
    {"stray FF before data", {0xFF, 0x41}, {0xFF, 0x41}, 0, 0},
};

Bytes Decode(platform::ParmrkDecoder& decoder, const Bytes& in) {
  Bytes out(in.size() + 1);
  out.resize(decoder.Feed(in.data(), in.size(), out.data()));
  return out;
}

TEST(ParmrkDecoder, DecodesMarkedStreams) {
  for (const Row& row : kRows) {
    platform::ParmrkDecoder decoder;
    EXPECT_EQ(Decode(decoder, row.marked), row.data) << row.what;
    EXPECT_EQ(decoder.Breaks(), row.breaks) << row.what;
    EXPECT_EQ(decoder.ErroredBytes(), row.errored) << row.what;
  }
}

TEST(ParmrkDecoder, KeepsItsStateAcrossEverySplit) {
  for (const Row& row : kRows) {
    for (std::size_t cut = 0; cut <= row.marked.size(); ++cut) {
      platform::ParmrkDecoder decoder;
      Bytes data = Decode(decoder, Bytes(row.marked.begin(), row.marked.begin() + cut));
      Bytes rest = Decode(decoder, Bytes(row.marked.begin() + cut, row.marked.end()));
      data.insert(data.end(), rest.begin(), rest.end());
      EXPECT_EQ(data, row.data) << row.what << " cut at " << cut;
      EXPECT_EQ(decoder.Breaks(), row.breaks) << row.what << " cut at " << cut;
    }
  }
}

TEST(ParmrkDecoder, ByteAtATimeFeedsNeedOneSpareByte) {
  platform::ParmrkDecoder decoder;
  Bytes all;
  const Bytes marked = {0xFF, 0x41, 0xFF, 0xFF};
  for (BYTE b : marked) {
    Bytes out = Decode(decoder, Bytes{b});
    EXPECT_LE(out.size(), 2u);
    all.insert(all.end(), out.begin(), out.end());
  }
  EXPECT_EQ(all, (Bytes{0xFF, 0x41, 0xFF}));
}

TEST(ParmrkDecoder, ResetForgetsAHalfSeenMarker) {
  platform::ParmrkDecoder decoder;
  Decode(decoder, Bytes{0xFF, 0x00});
  decoder.ResetState();
  EXPECT_EQ(Decode(decoder, Bytes{0x00, 0x07}), (Bytes{0x00, 0x07}));
  EXPECT_EQ(decoder.Breaks(), 0u);
}

}  // namespace
