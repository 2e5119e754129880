#include "protocol/flashmon_request.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/mem_block.h"
#include "protocol/sector_list.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes FrameOf(const CFlashMonRequest& r) {
  return Bytes(r.GetFrame(), r.GetFrame() + r.GetFrameLength());
}

struct RawCase {
  const char* name;
  BYTE command;
  Bytes data;
  Bytes frame;
  WORD checksum;
};

TEST(FlashMonRequest, FramesCarryHeaderDataChecksumEtxAndTrailer) {
  const RawCase cases[] = {
      {"empty read-config", 0x06, {}, {0x02, 0x06, 0x00, 0x00, 0x00, 0x06, 0x03, 0x00}, 0x0006},
      {"empty ping", 0x00, {}, {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00}, 0x0000},
      {"program example",
       0x03,
       {0x00, 0x01, 0x23, 0x45, 0xAA, 0xBB, 0xCC, 0xDD},
       {0x02, 0x03, 0x00, 0x08, 0x00, 0x01, 0x23, 0x45, 0xAA, 0xBB, 0xCC, 0xDD, 0x03, 0x82, 0x03,
        0x00},
       0x0382},
      {"checksum high byte",
       0xFF,
       {0xFF},
       {0x02, 0xFF, 0x00, 0x01, 0xFF, 0x01, 0xFF, 0x03, 0x00},
       0x01FF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CFlashMonRequest r(c.command, c.data.empty() ? nullptr : c.data.data(),
                       static_cast<WORD>(c.data.size()));
    EXPECT_EQ(FrameOf(r), c.frame);
    EXPECT_EQ(r.GetFrameLength(), c.data.size() + 8);
    EXPECT_EQ(r.GetDataLength(), c.data.size());
    EXPECT_EQ(r.GetChecksum(), c.checksum);
  }
}

TEST(FlashMonRequest, ChecksumWrapsAt16Bits) {
  // 300 bytes of 0xFF with code 0x01 and length 0x012C sum to 0x12B02: only 0x2B02 is sent.
  Bytes data(300, 0xFF);
  CFlashMonRequest r(0x01, data.data(), static_cast<WORD>(data.size()));
  EXPECT_EQ(r.GetChecksum(), 0x2B02);
  EXPECT_EQ(r.GetFrame()[304], 0x2B);
  EXPECT_EQ(r.GetFrame()[305], 0x02);
}

TEST(FlashMonRequest, PayloadKinds) {
  {
    SCOPED_TRACE("empty");
    EXPECT_EQ(FrameOf(CFlashMonRequest::Empty(0x0A)),
              (Bytes{0x02, 0x0A, 0x00, 0x00, 0x00, 0x0A, 0x03, 0x00}));
  }
  {
    SCOPED_TRACE("sector list: count, then addresses big-endian in insertion order");
    CSectorList list;
    list.Append(0x02400000);
    list.Append(0x024F8000);
    EXPECT_EQ(FrameOf(CFlashMonRequest::SectorList(0x01, list)),
              (Bytes{0x02, 0x01, 0x00, 0x09, 0x02, 0x02, 0x40, 0x00, 0x00, 0x02, 0x4F, 0x80, 0x00,
                     0x01, 0x1F, 0x03, 0x00}));
  }
  {
    SCOPED_TRACE("empty sector list");
    CSectorList list;
    EXPECT_EQ(FrameOf(CFlashMonRequest::SectorList(0x01, list)),
              (Bytes{0x02, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x03, 0x00}));
  }
  {
    SCOPED_TRACE("address and data");
    const BYTE data[] = {0xAA, 0xBB, 0xCC, 0xDD};
    CMemBlock block(0x12345, 4, data);
    EXPECT_EQ(FrameOf(CFlashMonRequest::AddressAndData(0x03, block)),
              (Bytes{0x02, 0x03, 0x00, 0x08, 0x00, 0x01, 0x23, 0x45, 0xAA, 0xBB, 0xCC, 0xDD, 0x03,
                     0x82, 0x03, 0x00}));
  }
  {
    SCOPED_TRACE("address and count");
    CMemBlock block(0x02800400, 1024);
    EXPECT_EQ(FrameOf(CFlashMonRequest::AddressAndCount(0x05, block)),
              (Bytes{0x02, 0x05, 0x00, 0x06, 0x02, 0x80, 0x04, 0x00, 0x04, 0x00, 0x00, 0x95, 0x03,
                     0x00}));
  }
}

TEST(MemBlock, BorrowedAndOwnedBuffers) {
  const BYTE data[] = {1, 2, 3};
  CMemBlock borrowed(0x10, 3, data);
  EXPECT_EQ(borrowed.GetData(), data);
  EXPECT_EQ(borrowed.GetBuffer(), nullptr);

  CMemBlock owned(0x20, 3);
  ASSERT_NE(owned.GetBuffer(), nullptr);
  EXPECT_EQ(owned.GetData(), owned.GetBuffer());
  EXPECT_EQ(owned.GetData()[0], 0);
  const BYTE reply[] = {7, 8, 9, 10};
  owned.Fill(reply);
  EXPECT_EQ(Bytes(owned.GetData(), owned.GetData() + 3), (Bytes{7, 8, 9}));
  owned.SetAddress(0x400);
  EXPECT_EQ(owned.GetAddress(), 0x400u);
}

}  // namespace
