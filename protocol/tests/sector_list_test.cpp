#include "protocol/sector_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<DWORD> Drain(CSectorList& list) {
  std::vector<DWORD> out;
  list.Rewind();
  DWORD a = 0;
  while (list.GetNext(a)) out.push_back(a);
  return out;
}

TEST(SectorList, KeepsInsertionOrderAndRewinds) {
  CSectorList list;
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_TRUE(Drain(list).empty());
  for (DWORD a : {0x02400000u, 0x02404000u, 0x02406000u}) EXPECT_TRUE(list.Append(a));
  EXPECT_EQ(list.GetCount(), 3);
  EXPECT_EQ(Drain(list), (std::vector<DWORD>{0x02400000, 0x02404000, 0x02406000}));
  // A second pass sees the same addresses.
  EXPECT_EQ(Drain(list), (std::vector<DWORD>{0x02400000, 0x02404000, 0x02406000}));
}

TEST(SectorList, RemoveAllEmptiesAndAllowsReuse) {
  CSectorList list;
  list.Append(1);
  list.Append(2);
  list.RemoveAll();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_TRUE(Drain(list).empty());
  list.Append(3);
  EXPECT_EQ(Drain(list), (std::vector<DWORD>{3}));
}

TEST(SectorList, RefusesTheAddressThatWouldWrapTheOneByteCount) {
  CSectorList list;
  for (DWORD i = 0; i < 255; ++i) ASSERT_TRUE(list.Append(i * 0x10000));
  EXPECT_FALSE(list.Append(0xFFFF0000));
  EXPECT_EQ(list.GetCount(), 255);
  EXPECT_EQ(Drain(list).size(), 255u);
}

}  // namespace
