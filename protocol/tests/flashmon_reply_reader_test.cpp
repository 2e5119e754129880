#include "protocol/flashmon_reply_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/testing/monitor_bytes.h"

namespace {

using Bytes = std::vector<BYTE>;
using kv70test::MonitorFrame;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Outcome {
  bool complete = false;
  size_t consumed = 0;  // bytes fed up to and including the completing one
  Bytes data;
};

Outcome FeedAll(BYTE expected, const Bytes& stream) {
  CFlashMonReplyReader reader(expected);
  Outcome out;
  for (size_t i = 0; i < stream.size(); ++i) {
    if (reader.Feed(stream[i]) == ReplyFeed::Complete) {
      out.complete = true;
      out.consumed = i + 1;
      if (reader.GetDataLength() > 0)
        out.data.assign(reader.GetData(), reader.GetData() + reader.GetDataLength());
      return out;
    }
  }
  return out;
}

const Bytes kGood = {0x02, 0x06, 0x00, 0x01, 0xAA, 0x00, 0xB1, 0x03};

struct Case {
  const char* name;
  Bytes stream;
  bool complete;
  Bytes data;
};

TEST(FlashMonReplyReader, FindsTheReplyBehindNoiseAndOtherFrames) {
  const Case cases[] = {
      {"plain reply", kGood, true, {0xAA}},
      {"garbage first", Cat({{0xFF, 0x00, 0x13, 0x03, 0x06}, kGood}), true, {0xAA}},
      {"frame for another command first",
       Cat({{0x02, 0x05, 0x00, 0x01, 0xAA, 0x00, 0xB0, 0x03}, kGood}),
       true,
       {0xAA}},
      {"bad checksum first",
       Cat({{0x02, 0x06, 0x00, 0x01, 0xBB, 0x00, 0xB1, 0x03}, kGood}),
       true,
       {0xAA}},
      {"missing ETX drops the frame",
       Cat({{0x02, 0x06, 0x00, 0x01, 0xCC, 0x00, 0xD3, 0xFF}, kGood}),
       true,
       {0xAA}},
      {"length 0 completes after checksum and ETX",
       {0x02, 0x06, 0x00, 0x00, 0x00, 0x06, 0x03},
       true,
       {}},
      {"two data bytes",
       {0x02, 0x06, 0x00, 0x02, 0x01, 0x02, 0x00, 0x0B, 0x03},
       true,
       {0x01, 0x02}},
      // A byte that fails a check is not taken as the start of the next frame.
      {"STX that fails the command check is not reused", Cat({{0x02}, kGood}), false, {}},
      {"truncated frame", {0x02, 0x06, 0x00, 0x01, 0xAA, 0x00}, false, {}},
      {"noise only", {0x00, 0x01, 0x03, 0xFF}, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome out = FeedAll(0x06, c.stream);
    EXPECT_EQ(out.complete, c.complete);
    if (c.complete) {
      EXPECT_EQ(out.consumed, c.stream.size());
      EXPECT_EQ(out.data, c.data);
    }
  }
}

TEST(FlashMonReplyReader, LengthLimitIs1024) {
  {
    SCOPED_TRACE("1024 accepted");
    Bytes data(1024, 0x5A);
    Outcome out = FeedAll(0x05, MonitorFrame(0x05, data));
    EXPECT_TRUE(out.complete);
    EXPECT_EQ(out.data, data);
  }
  {
    SCOPED_TRACE("1025 ignored, the next good frame taken");
    Outcome out =
        FeedAll(0x05, Cat({MonitorFrame(0x05, Bytes(1025, 0x00)), MonitorFrame(0x05, {0x42})}));
    EXPECT_TRUE(out.complete);
    EXPECT_EQ(out.data, (Bytes{0x42}));
  }
  {
    SCOPED_TRACE("1025 alone is never complete");
    EXPECT_FALSE(FeedAll(0x05, MonitorFrame(0x05, Bytes(1025, 0x00))).complete);
  }
  {
    SCOPED_TRACE("0xFFFF announced");
    EXPECT_FALSE(FeedAll(0x05, {0x02, 0x05, 0xFF, 0xFF, 0x00, 0x00, 0x03}).complete);
  }
}

TEST(FlashMonReplyReader, ReportsEachStepOfTheMachine) {
  struct Step {
    BYTE b;
    ReplyFeed result;
  };
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"hunting ignores non-STX", {{0x00, ReplyFeed::NeedMore}, {0x02, ReplyFeed::NeedMore}}},
      {"wrong command resyncs", {{0x02, ReplyFeed::NeedMore}, {0x07, ReplyFeed::Resync}}},
      {"over-long resyncs at the low length byte",
       {{0x02, ReplyFeed::NeedMore},
        {0x06, ReplyFeed::NeedMore},
        {0x04, ReplyFeed::NeedMore},
        {0x01, ReplyFeed::Resync}}},
      {"bad checksum resyncs at its low byte",
       {{0x02, ReplyFeed::NeedMore},
        {0x06, ReplyFeed::NeedMore},
        {0x00, ReplyFeed::NeedMore},
        {0x00, ReplyFeed::NeedMore},
        {0x00, ReplyFeed::NeedMore},
        {0x07, ReplyFeed::Resync}}},
      {"missing ETX resyncs",
       {{0x02, ReplyFeed::NeedMore},
        {0x06, ReplyFeed::NeedMore},
        {0x00, ReplyFeed::NeedMore},
        {0x00, ReplyFeed::NeedMore},
        {0x00, ReplyFeed::NeedMore},
        {0x06, ReplyFeed::NeedMore},
        {0x02, ReplyFeed::Resync}}},
      {"ETX completes",
       {{0x02, ReplyFeed::NeedMore},
        {0x06, ReplyFeed::NeedMore},
        {0x00, ReplyFeed::NeedMore},
        {0x00, ReplyFeed::NeedMore},
        {0x00, ReplyFeed::NeedMore},
        {0x06, ReplyFeed::NeedMore},
        {0x03, ReplyFeed::Complete}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CFlashMonReplyReader reader(0x06);
    for (size_t i = 0; i < c.steps.size(); ++i)
      EXPECT_EQ(reader.Feed(c.steps[i].b), c.steps[i].result) << "byte " << i;
  }
}

TEST(FlashMonReplyReader, ResetDropsEarlierData) {
  CFlashMonReplyReader reader(0x06);
  for (BYTE b : kGood) reader.Feed(b);
  ASSERT_EQ(reader.GetDataLength(), 1);
  reader.Reset();
  EXPECT_EQ(reader.GetDataLength(), 0);
  EXPECT_EQ(reader.GetData(), nullptr);
  // A second frame on the same reader.
  ReplyFeed last = ReplyFeed::NeedMore;
  for (BYTE b : MonitorFrame(0x06, {0x10, 0x20})) last = reader.Feed(b);
  EXPECT_EQ(last, ReplyFeed::Complete);
  ASSERT_EQ(reader.GetDataLength(), 2);
  EXPECT_EQ(reader.GetData()[1], 0x20);
}

}  // namespace
