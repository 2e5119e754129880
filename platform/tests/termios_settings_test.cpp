// The terminal settings that the termios backend derives from line settings.
#include <asm/termbits.h>
#include <gtest/gtest.h>

#include "platform/posix/comm_termios.h"

namespace {

DCB Line(DWORD speed, BYTE bits, BYTE parity, BYTE stop) {
  DCB dcb;
  dcb.BaudRate = speed;
  dcb.ByteSize = bits;
  dcb.Parity = parity;
  dcb.StopBits = stop;
  return dcb;
}

TEST(TermiosFromDcb, MapsLineSettings) {
  struct Row {
    const char* what;
    DCB dcb;
    unsigned cflagMask;
    unsigned cflag;
  };
  const Row rows[] = {
      {"9600 8N1", Line(9600, 8, NOPARITY, ONESTOPBIT), CBAUD | CIBAUD | CSIZE | PARENB | CSTOPB,
       B9600 | (B9600 << IBSHIFT) | CS8},
      {"38400", Line(38400, 8, NOPARITY, ONESTOPBIT), CBAUD, B38400},
      {"110", Line(110, 8, NOPARITY, ONESTOPBIT), CBAUD, B110},
      {"115200", Line(115200, 8, NOPARITY, ONESTOPBIT), CBAUD, B115200},
      {"14400 has no code", Line(14400, 8, NOPARITY, ONESTOPBIT), CBAUD | CIBAUD,
       BOTHER | (BOTHER << IBSHIFT)},
      {"56000 has no code", Line(56000, 8, NOPARITY, ONESTOPBIT), CBAUD, BOTHER},
      {"128000 has no code", Line(128000, 8, NOPARITY, ONESTOPBIT), CBAUD, BOTHER},
      {"256000 has no code", Line(256000, 8, NOPARITY, ONESTOPBIT), CBAUD, BOTHER},
      {"7 bits", Line(9600, 7, NOPARITY, ONESTOPBIT), CSIZE, CS7},
      {"5 bits", Line(9600, 5, NOPARITY, ONESTOPBIT), CSIZE, CS5},
      {"odd", Line(9600, 8, ODDPARITY, ONESTOPBIT), PARENB | PARODD | CMSPAR, PARENB | PARODD},
      {"even", Line(9600, 8, EVENPARITY, ONESTOPBIT), PARENB | PARODD | CMSPAR, PARENB},
      {"mark", Line(9600, 8, MARKPARITY, ONESTOPBIT), PARENB | PARODD | CMSPAR,
       PARENB | PARODD | CMSPAR},
      {"space", Line(9600, 8, SPACEPARITY, ONESTOPBIT), PARENB | PARODD | CMSPAR, PARENB | CMSPAR},
      {"two stop bits", Line(9600, 8, NOPARITY, TWOSTOPBITS), CSTOPB, CSTOPB},
      {"one and a half with five bits", Line(9600, 5, NOPARITY, ONE5STOPBITS), CSTOPB | CSIZE,
       CSTOPB | CS5},
  };
  for (const Row& row : rows) {
    platform::TermiosSettings s;
    ASSERT_EQ(platform::TermiosFromDcb(row.dcb, s), ERROR_SUCCESS) << row.what;
    EXPECT_EQ(s.cflag & row.cflagMask, row.cflag) << row.what;
    // Every line is raw, local, receiving, and drops DTR when closed.
    EXPECT_EQ(s.cflag & (CREAD | CLOCAL | HUPCL), static_cast<unsigned>(CREAD | CLOCAL | HUPCL))
        << row.what;
    EXPECT_EQ(s.cflag & CRTSCTS, 0u) << row.what;
    EXPECT_EQ(s.lflag, 0u) << row.what;
    EXPECT_EQ(s.oflag, 0u) << row.what;
    EXPECT_EQ(s.iflag, static_cast<unsigned>(PARMRK | INPCK)) << row.what;
    EXPECT_EQ(s.ospeed, row.dcb.BaudRate) << row.what;
    EXPECT_EQ(s.ispeed, row.dcb.BaudRate) << row.what;
  }
}

TEST(TermiosFromDcb, MapsFlowControl) {
  struct Row {
    const char* what;
    bool cts;
    BYTE rts;
    bool outX, inX;
    unsigned cflag;
    unsigned iflag;
  };
  const Row rows[] = {
      {"none", false, RTS_CONTROL_DISABLE, false, false, 0, 0},
      {"CTS output flow", true, RTS_CONTROL_HANDSHAKE, false, false, CRTSCTS, 0},
      {"RTS handshake alone", false, RTS_CONTROL_HANDSHAKE, false, false, CRTSCTS, 0},
      {"XON/XOFF out", false, RTS_CONTROL_DISABLE, true, false, 0, IXON},
      {"XON/XOFF both", false, RTS_CONTROL_DISABLE, true, true, 0, IXON | IXOFF},
  };
  for (const Row& row : rows) {
    DCB dcb = Line(9600, 8, NOPARITY, ONESTOPBIT);
    dcb.fOutxCtsFlow = row.cts;
    dcb.fRtsControl = row.rts;
    dcb.fOutX = row.outX;
    dcb.fInX = row.inX;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    platform::TermiosSettings s;
    ASSERT_EQ(platform::TermiosFromDcb(dcb, s), ERROR_SUCCESS) << row.what;
    EXPECT_EQ(s.cflag & CRTSCTS, row.cflag) << row.what;
    EXPECT_EQ(s.iflag & (IXON | IXOFF | IXANY), row.iflag) << row.what;
    EXPECT_EQ(s.xon, 0x11) << row.what;
    EXPECT_EQ(s.xoff, 0x13) << row.what;
  }
}

TEST(TermiosFromDcb, RefusesWhatLinuxCannotDo) {
  struct Row {
    const char* what;
    DCB dcb;
  };
  DCB dsrFlow = Line(9600, 8, NOPARITY, ONESTOPBIT);
  dsrFlow.fOutxDsrFlow = true;
  DCB dtrHandshake = Line(9600, 8, NOPARITY, ONESTOPBIT);
  dtrHandshake.fDtrControl = DTR_CONTROL_HANDSHAKE;
  const Row rows[] = {
      {"speed 0 (would hang up the line)", Line(0, 8, NOPARITY, ONESTOPBIT)},
      {"4 data bits", Line(9600, 4, NOPARITY, ONESTOPBIT)},
      {"9 data bits", Line(9600, 9, NOPARITY, ONESTOPBIT)},
      {"parity code 5", Line(9600, 8, 5, ONESTOPBIT)},
      {"stop-bit code 3", Line(9600, 8, NOPARITY, 3)},
      {"one and a half with eight bits", Line(9600, 8, NOPARITY, ONE5STOPBITS)},
      {"DSR output flow control", dsrFlow},
      {"DTR handshaking", dtrHandshake},
  };
  for (const Row& row : rows) {
    platform::TermiosSettings s;
    EXPECT_EQ(platform::TermiosFromDcb(row.dcb, s), ERROR_INVALID_PARAMETER) << row.what;
  }
}

}  // namespace
