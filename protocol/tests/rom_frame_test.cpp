#include "protocol/rom_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

TEST(RomFrame, IdentificationIs90BytesWithSummedText) {
  const struct {
    const char* name;
    const char* text;
    BYTE checksum;
  } cases[] = {
      {"upgrade", ROM_IDENT_UPGRADE, 0xCF},
      {"read-only", ROM_IDENT_READ_ONLY, 0xD3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes f = BuildRomIdentification(c.text);
    ASSERT_EQ(f.size(), 90u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 4), (Bytes{0x02, 0x00, 0x6E, 0x54}));
    EXPECT_EQ(std::memcmp(f.data() + 4, c.text, 84), 0);
    EXPECT_EQ(f[88], c.checksum);
    EXPECT_EQ(f[89], 0x03);
  }
  EXPECT_STREQ(
      ROM_IDENT_UPGRADE,
      "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,1.03,1/17/97,1.0,1/17/97;COMM,NMEA");
  EXPECT_STREQ(
      ROM_IDENT_READ_ONLY,
      "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,5.03,1/17/97,1.0,1/17/97;COMM,NMEA");
}

TEST(RomFrame, RequestsCarryHeaderChecksumAndTheirTrailer) {
  const BYTE speedSwitch[] = {0x11, 0xFC, 0xCC, 0xCC, 0x0C, 0x03, 0x11,
                              0xFC, 0xCC, 0xCC, 0x0C, 0x13, 0x4E, 0x75};
  const BYTE one[] = {0x5A};
  const struct {
    const char* name;
    Bytes frame;
    Bytes expected;
  } cases[] = {
      {"read 251 at the monitor address",
       BuildRomRead(0x200000, 251),
       {0x02, 0x00, 0x80, 0x05, 0x00, 0x20, 0x00, 0x00, 0xFB, 0xA0, 0x03, 0x00, 0x00}},
      {"go",
       BuildRomGo(0x812),
       {0x02, 0x00, 0x82, 0x04, 0x00, 0x00, 0x08, 0x12, 0xA0, 0x03, 0x00, 0x00}},
      {"bulk write of the speed switch",
       BuildRomWrite(0x80A, speedSwitch, 14, true),
       {0x02, 0x00, 0x81, 0x12, 0x00, 0x00, 0x08, 0x0A, 0x11, 0xFC, 0xCC, 0xCC, 0x0C,
        0x03, 0x11, 0xFC, 0xCC, 0xCC, 0x0C, 0x13, 0x4E, 0x75, 0xE0, 0x03, 0x00, 0x00}},
      {"typed write ends with 03 alone",
       BuildRomWrite(0xFFF01B, one, 1, false),
       {0x02, 0x00, 0x81, 0x05, 0x00, 0xFF, 0xF0, 0x1B, 0x5A,
        static_cast<BYTE>(0x81 + 0x05 + 0xFF + 0xF0 + 0x1B + 0x5A), 0x03}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.frame, c.expected);
  }
}

TEST(RomFrame, TypedPayloadIsBigEndianPerElement) {
  const DWORD longValue = 0x02400011;
  const WORD words[] = {0x0A05, 0x207C, 0x0000, 0x1E38, 0x227C, 0x0000, 0x0810, 0x3091, 0x4E75};
  const BYTE byteValue = 0xE7;
  const struct {
    const char* name;
    Bytes payload;
    Bytes expected;
  } cases[] = {
      {"one 32-bit value", RomTypedPayload(&longValue, 4, 32), {0x02, 0x40, 0x00, 0x11}},
      {"register-write routine",
       RomTypedPayload(words, 18, 16),
       {0x0A, 0x05, 0x20, 0x7C, 0x00, 0x00, 0x1E, 0x38, 0x22, 0x7C, 0x00, 0x00, 0x08, 0x10, 0x30,
        0x91, 0x4E, 0x75}},
      {"one byte", RomTypedPayload(&byteValue, 1, 8), {0xE7}},
      {"width 24 refused", RomTypedPayload(&longValue, 3, 24), {}},
      {"partial element refused", RomTypedPayload(words, 3, 16), {}},
      {"count 0", RomTypedPayload(words, 0, 16), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.payload, c.expected);
  }
}

TEST(RomFrame, ProbeBytes) {
  EXPECT_EQ(Bytes(std::begin(ROM_PROBE), std::end(ROM_PROBE)),
            (Bytes{0x05, 0x0A, 0x14, 0x28, 0x00, 0x00}));
}

}  // namespace
