// The option descriptors on their own: reading and writing their bytes in an option area.
#include "models/option_desc.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

TEST(ToggleOption, InstalledWhenByteDiffersFromOffValue) {
  const struct {
    BYTE offValue;
    BYTE areaByte;
    bool installed;
  } rows[] = {
      {0x00, 0x00, false}, {0x00, 0x01, true}, {0x00, 0xFF, true},
      {0xFF, 0xFF, false}, {0xFF, 0x00, true}, {0xFF, 0xFE, true},
  };
  for (const auto& r : rows) {
    std::array<BYTE, 8> area{};
    area[5] = r.areaByte;
    CToggleOption option("Opt", 5, r.offValue, FALSE, FALSE);
    ASSERT_TRUE(option.Decode(area.data(), 8));
    EXPECT_EQ(option.IsInstalled() != 0, r.installed) << int(r.offValue) << " " << int(r.areaByte);
  }
}

TEST(ToggleOption, NumberOutsideAreaIsRefusedAndKeepsState) {
  const std::array<BYTE, 4> area = {1, 1, 1, 1};
  for (BYTE number : {BYTE{4}, BYTE{5}, BYTE{255}}) {
    CToggleOption option("Opt", number, 0, FALSE, FALSE);
    EXPECT_FALSE(option.Decode(area.data(), 4)) << int(number);
    EXPECT_FALSE(option.IsInstalled());
  }
  CToggleOption last("Opt", 3, 0, FALSE, FALSE);
  EXPECT_TRUE(last.Decode(area.data(), 4));
  EXPECT_TRUE(last.IsInstalled());
}

TEST(ToggleOption, EncodeWritesComplementOrOffValue) {
  const struct {
    BYTE offValue;
    bool installed;
    BYTE written;
  } rows[] = {{0x00, true, 0xFF},
              {0x00, false, 0x00},
              {0xFF, true, 0x00},
              {0xFF, false, 0xFF},
              {0x02, true, 0xFD}};
  for (const auto& r : rows) {
    std::array<BYTE, 4> area = {0x55, 0x55, 0x55, 0x55};
    CToggleOption option("Opt", 2, r.offValue, FALSE, FALSE);
    option.SetInstalled(r.installed);
    option.Encode(area.data(), 4);
    EXPECT_EQ(area, (std::array<BYTE, 4>{0x55, 0x55, r.written, 0x55}));
    ASSERT_TRUE(option.Decode(area.data(), 4));
    EXPECT_EQ(option.IsInstalled() != 0, r.installed);
  }
}

TEST(ToggleOption, EncodeOutsideAreaWritesNothing) {
  std::array<BYTE, 6> area = {9, 9, 9, 9, 9, 9};
  CToggleOption option("Opt", 4, 0, FALSE, FALSE);
  option.SetInstalled(TRUE);
  option.Encode(area.data(), 4);
  EXPECT_EQ(area, (std::array<BYTE, 6>{9, 9, 9, 9, 9, 9}));
}

TEST(DatedOption, ConstructionStateIsNotInstalled) {
  CDatedOption option("Opt", 3, 2, FALSE, FALSE);
  EXPECT_FALSE(option.IsInstalled());
  EXPECT_EQ(option.GetMonthIndex(), 0xFFFF);
  EXPECT_EQ(option.GetWord(), 0xFFFFFFFFu);
  EXPECT_EQ(option.GetValue(), 0xFF);
  EXPECT_EQ(option.GetKind(), COptionDesc::dated);
}

TEST(DatedOption, ReadsSevenBigEndianBytes) {
  const struct {
    std::array<BYTE, 7> bytes;
    WORD monthIndex;
    DWORD word;
    BYTE value;
    bool installed;
  } rows[] = {
      {{0x00, 0x19, 0x12, 0x34, 0x56, 0x78, 0x07}, 25, 0x12345678, 7, true},
      {{0x00, 0x18, 0x00, 0x00, 0x00, 0x01, 0x00}, 24, 1, 0, true},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0xFFFFFFFF, 0xFF, false},
      {{0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x80}, 0, 0x80000000, 0x80, true},
  };
  for (const auto& r : rows) {
    std::vector<BYTE> area(62, 0xEE);
    std::copy(r.bytes.begin(), r.bytes.end(), area.begin() + 33);
    CDatedOption option("Opt", 33, 2, FALSE, FALSE);
    ASSERT_TRUE(option.Decode(area.data(), 62));
    EXPECT_EQ(option.GetMonthIndex(), r.monthIndex);
    EXPECT_EQ(option.GetWord(), r.word);
    EXPECT_EQ(option.GetValue(), r.value);
    EXPECT_EQ(option.IsInstalled() != 0, r.installed);

    std::vector<BYTE> back(62, 0xEE);
    option.Encode(back.data(), 62);
    EXPECT_EQ(back, area);
  }
}

// The entry must end before the area does: number + 7 below the size.
TEST(DatedOption, FitRule) {
  const std::vector<BYTE> area(62, 0);
  const struct {
    BYTE number;
    bool decodes;
  } rows[] = {{0, true}, {40, true}, {54, true}, {55, false}, {56, false}, {255, false}};
  for (const auto& r : rows) {
    CDatedOption option("Opt", r.number, 2, FALSE, FALSE);
    EXPECT_EQ(option.Decode(area.data(), 62) != 0, r.decodes) << int(r.number);
    EXPECT_EQ(option.IsInstalled() != 0, r.decodes) << int(r.number);
  }
}

TEST(DatedOption, SetInstalled) {
  CDatedOption option("Opt", 0, 2, FALSE, FALSE);
  option.SetInstalled(TRUE);
  EXPECT_EQ(option.GetMonthIndex(), 0);
  EXPECT_TRUE(option.IsInstalled());
  option.SetInstalled(FALSE);
  EXPECT_EQ(option.GetMonthIndex(), 0xFFFF);
  EXPECT_FALSE(option.IsInstalled());
}

TEST(OptionNames, ScrambledNamesTurnReadable) {
  const char* names[] = {"Route Planner", "A", "Zz 09-_", ""};
  for (const char* name : names) {
    const CString stored = ScrambleOptionName(name);
    EXPECT_EQ(stored.GetLength(), CString(name).GetLength());
    if (*name) {
      EXPECT_NE(stored, name);
    }
    for (int i = 0; i < stored.GetLength(); ++i) EXPECT_NE(stored[i], '\0');
    CToggleOption option(stored, 0, 0, TRUE, FALSE);
    EXPECT_STREQ(option.GetDisplayName(), name);
    EXPECT_STREQ(option.GetStoredName(), stored);
  }
  CToggleOption plain("Barcode Scanner", 0, 0, FALSE, FALSE);
  EXPECT_STREQ(plain.GetDisplayName(), "Barcode Scanner");
}

}  // namespace
