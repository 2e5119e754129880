#include "device/kv70_tables.h"

#include <gtest/gtest.h>

#include "device/tests/device_fixture.h"
#include "protocol/flashmon_commands.h"

namespace kv70test {
namespace {

TEST_F(DeviceTest, CommandCodesByIndex) {
  const struct {
    int index;
    DWORD code;
  } cases[] = {
      {0, 0x00},          {1, 0x01},        {2, 0x02},  {3, 0x03},        {4, 0x04},
      {5, 0x05},          {6, 0x06},        {7, 0x07},  {8, 0x08},        {9, 0x09},
      {10, 0x0A},         {11, 0xFFFFFFFF}, {12, 0x0B}, {13, 0x0C},       {14, 0x0E},
      {15, 0x0F},         {16, 0x10},       {17, 0x0D}, {18, 0xFFFFFFFF}, {-1, 0xFFFFFFFF},
      {1000, 0xFFFFFFFF},
  };
  for (const auto& c : cases) EXPECT_EQ(device.GetCommandCode(c.index), c.code) << c.index;
}

// Each named index reaches the monitor command, or the address, its callers mean.
TEST_F(DeviceTest, NamedIndexesReachTheirCommandsAndAddresses) {
  const struct {
    int index;
    BYTE command;
  } commands[] = {
      {kPingIndex, MON_PING},
      {kEraseIndex, MON_ERASE},
      {kEraseStatusIndex, MON_ERASE_STATUS},
      {kProgramIndex, MON_PROGRAM},
      {kRebootIndex, MON_REBOOT},
      {kReadConfigIndex, MON_READ_CONFIG},
      {kCollectGarbageIndex, MON_COLLECT_GARBAGE},
      {kEraseFileSystemIndex, MON_ERASE_FFS},
  };
  for (const auto& c : commands) EXPECT_EQ(device.GetCommandCode(c.index), c.command) << c.index;
  EXPECT_EQ(device.GetAddress(kMonitorAddressIndex), 0x00200000u);
  EXPECT_EQ(device.GetAddress(kImageWordAddressIndex), 0x02400420u);
}

TEST_F(DeviceTest, AddressesByIndex) {
  EXPECT_EQ(device.GetAddress(0), 0x00200000u);
  EXPECT_EQ(device.GetAddress(1), 0x02400420u);
  EXPECT_EQ(device.GetAddress(2), 0x025FC000u);
  // Outside the table: no address rather than whatever lies behind it.
  EXPECT_EQ(device.GetAddress(3), 0xFFFFFFFFu);
  EXPECT_EQ(device.GetAddress(-1), 0xFFFFFFFFu);
}

TEST_F(DeviceTest, CapabilitiesFromInfo0AndInfo1) {
  const struct {
    DWORD flags;
    WORD info0;
    WORD info1;
    BOOL result;
  } cases[] = {
      {3, 5, 0xFFFF, TRUE}, {3, 0xFFFF, 0xFFFF, FALSE}, {1, 0, 246, TRUE},
      {1, 0, 245, FALSE},   {1, 9, 0, FALSE},           {2, 5, 0, TRUE},
      {2, 4, 999, FALSE},   {2, 0xFFFF, 0, FALSE},      {0, 9, 999, FALSE},
      {3, 4, 246, TRUE},    {4, 9, 999, FALSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.flags << " " << c.info0 << " " << c.info1);
    Bytes record(184, 0);
    record[172] = static_cast<BYTE>(c.info0 >> 8);
    record[173] = static_cast<BYTE>(c.info0);
    record[174] = static_cast<BYTE>(c.info1 >> 8);
    record[175] = static_cast<BYTE>(c.info1);
    ASSERT_TRUE(device.GetConfig().Decode(record.data(), 184));
    EXPECT_EQ(device.HasCapability(c.flags), c.result);
  }
}

TEST_F(DeviceTest, FixedAnswersAndConstruction) {
  EXPECT_TRUE(device.SupportsFileSystemErase());
  EXPECT_FALSE(device.IsConnected());
  EXPECT_EQ(device.GetReadOnly(), 0);
  EXPECT_EQ(device.GetConfigRecord(), &device.GetConfig());
  device.Reset();
  EXPECT_EQ(line.BreaksSent(), (std::vector<DWORD>{1000}));
}

}  // namespace
}  // namespace kv70test
