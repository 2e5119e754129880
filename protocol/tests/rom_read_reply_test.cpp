#include "protocol/rom_read_reply.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

struct Result {
  RomReadFeed last = RomReadFeed::NeedMore;
  size_t at = 0;  // index of the byte that ended the answer
};

Result FeedAll(CRomReadReplyReader& reader, const Bytes& stream) {
  Result r;
  for (size_t i = 0; i < stream.size(); ++i) {
    r.last = reader.Feed(stream[i]);
    r.at = i;
    if (r.last != RomReadFeed::NeedMore) break;
  }
  return r;
}

TEST(RomReadReply, ChecksHeaderAndChecksumAndWaitsForEtx) {
  const struct {
    const char* name;
    BYTE count;
    Bytes stream;
    RomReadFeed result;
    size_t at;
    Bytes data;
  } cases[] = {
      // 00 + 92 + 02 + 60 + FE = 0x1F2
      {"two bytes",
       2,
       {0x02, 0x00, 0x92, 0x02, 0x60, 0xFE, 0xF2, 0x03},
       RomReadFeed::Complete,
       7,
       {0x60, 0xFE}},
      {"bytes before the ETX ignored",
       2,
       {0x02, 0x00, 0x92, 0x02, 0x60, 0xFE, 0xF2, 0x00, 0x7F, 0x03},
       RomReadFeed::Complete,
       9,
       {0x60, 0xFE}},
      {"zero bytes", 0, {0x02, 0x00, 0x92, 0x00, 0x92, 0x03}, RomReadFeed::Complete, 5, {}},
      {"bad checksum",
       2,
       {0x02, 0x00, 0x92, 0x02, 0x60, 0xFE, 0xF3, 0x03},
       RomReadFeed::Failed,
       6,
       {}},
      {"wrong count in header", 2, {0x02, 0x00, 0x92, 0x03}, RomReadFeed::Failed, 3, {}},
      {"wrong type", 2, {0x02, 0x00, 0x93}, RomReadFeed::Failed, 2, {}},
      {"leading noise", 2, {0xFF, 0x02}, RomReadFeed::Failed, 0, {}},
      {"no ETX yet", 2, {0x02, 0x00, 0x92, 0x02, 0x60, 0xFE, 0xF2}, RomReadFeed::NeedMore, 6, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CRomReadReplyReader reader(c.count);
    Result r = FeedAll(reader, c.stream);
    EXPECT_EQ(r.last, c.result);
    EXPECT_EQ(r.at, c.at);
    if (c.result == RomReadFeed::Complete) {
      EXPECT_EQ(reader.GetData(), c.data);
    }
  }
}

}  // namespace
