// CSerialCom over a scripted port: the order of the open steps, the settings tables,
// the time-outs, and what each failure leaves behind.
#include "serial/serial_com.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/sync.h"
#include "reporting/failures.h"
#include "serial/tests/fake_comm.h"

namespace {

using serial_test::FakeLine;
using serial_test::InstallFakeLine;
using serial_test::ReadStep;

constexpr int kPort = 7;

// Runs `body`, expects a CSerialComException and returns its code and platform error;
// `comPort` is the port number it carried.
template <typename Body>
std::pair<int, DWORD> ExpectSerialFailure(Body body, int comPort = kPort) {
  try {
    body();
  } catch (CSerialComException* e) {
    std::pair<int, DWORD> result{e->m_code, e->m_platformError};
    EXPECT_EQ(e->m_comPort, comPort);
    e->Delete();
    return result;
  }
  ADD_FAILURE() << "no CSerialComException";
  return {0, 0};
}

class SerialComTest : public ::testing::Test {
 protected:
  void SetUp() override { line = InstallFakeLine(kPort); }
  // Opens at 9600 8N1 as the operations do and forgets the calls that made it.
  void OpenDefault() {
    com.Open(kPort, 1, 0, 0, 6);
    line->calls.clear();
  }

  std::shared_ptr<FakeLine> line;
  CSerialCom com;
};

TEST_F(SerialComTest, ConstructorStartsClosedAt9600EightNoneOne) {
  EXPECT_EQ(com.GetHandle(), nullptr);
  EXPECT_EQ(com.GetPortNumber(), 0u);
  EXPECT_FALSE(com.IsOpen());
  EXPECT_EQ(com.GetSpeed(), 9600u);
  EXPECT_EQ(com.GetByteSize(), 8);
  EXPECT_EQ(com.GetParity(), NOPARITY);
  EXPECT_EQ(com.GetStopBits(), ONESTOPBIT);
  EXPECT_EQ(com.GetHandshake(), 0);
  EXPECT_EQ(com.GetReadRecord().hEvent, nullptr);
  EXPECT_EQ(com.GetWriteRecord().hEvent, nullptr);
  EXPECT_EQ(com.GetReadRecord().Offset, 0u);
  EXPECT_EQ(com.GetWriteRecord().OffsetHigh, 0u);
}

TEST_F(SerialComTest, OpenRunsItsStepsInOrder) {
  com.Open(kPort, 1, 0, 0, 6);
  const std::vector<std::string> expected = {"Open",     "SetState", "GetState",
                                             "SetState", "Purge:F",  "SetTimeouts"};
  EXPECT_EQ(line->calls, expected);

  ASSERT_EQ(line->applied.size(), 2u);
  const DCB& first = line->applied[0];
  EXPECT_EQ(first.BaudRate, 9600u);
  EXPECT_EQ(first.ByteSize, 8);
  EXPECT_EQ(first.Parity, NOPARITY);
  EXPECT_EQ(first.StopBits, ONESTOPBIT);
  // The handshake step: no flow control, DTR and RTS held off.
  const DCB& handshake = line->applied[1];
  EXPECT_FALSE(handshake.fOutxDsrFlow);
  EXPECT_FALSE(handshake.fOutxCtsFlow);
  EXPECT_FALSE(handshake.fOutX);
  EXPECT_FALSE(handshake.fInX);
  EXPECT_EQ(handshake.fDtrControl, DTR_CONTROL_DISABLE);
  EXPECT_EQ(handshake.fRtsControl, RTS_CONTROL_DISABLE);

  ASSERT_EQ(line->timeouts.size(), 1u);
  const COMMTIMEOUTS& t = line->timeouts[0];
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 2u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 500u);

  EXPECT_NE(com.GetHandle(), nullptr);
  EXPECT_TRUE(com.IsOpen());
  EXPECT_EQ(com.GetPortNumber(), static_cast<DWORD>(kPort));
  EXPECT_STREQ(com.GetDeviceName().GetString(), "\\\\.\\COM7");
  EXPECT_NE(com.GetReadRecord().hEvent, nullptr);
  EXPECT_NE(com.GetWriteRecord().hEvent, nullptr);
  EXPECT_NE(com.GetReadRecord().hEvent, com.GetWriteRecord().hEvent);
}

TEST_F(SerialComTest, OpenTakesEachSettingFromItsTable) {
  struct Row {
    int byteSize, stopBits, parity, speed;
    BYTE bits, stop, parityCode;
    DWORD bps;
  };
  const Row rows[] = {
      {1, 0, 0, 6, 8, ONESTOPBIT, NOPARITY, 9600},
      {0, 2, 1, 0, 7, TWOSTOPBITS, ODDPARITY, 110},
      {1, 1, 2, 7, 8, ONE5STOPBITS, EVENPARITY, 14400},
      {0, 0, 3, 10, 7, ONESTOPBIT, MARKPARITY, 56000},
      {1, 0, 4, 14, 8, ONESTOPBIT, SPACEPARITY, 256000},
      {1, 0, 0, 12, 8, ONESTOPBIT, NOPARITY, 115200},
  };
  for (const Row& row : rows) {
    line = InstallFakeLine(kPort);
    CSerialCom port;
    port.Open(kPort, row.byteSize, row.stopBits, row.parity, row.speed);
    ASSERT_FALSE(line->applied.empty());
    EXPECT_EQ(line->applied[0].BaudRate, row.bps);
    EXPECT_EQ(line->applied[0].ByteSize, row.bits);
    EXPECT_EQ(line->applied[0].StopBits, row.stop);
    EXPECT_EQ(line->applied[0].Parity, row.parityCode);
    EXPECT_EQ(port.GetSpeed(), row.bps);
    EXPECT_EQ(port.GetByteSize(), row.bits);
    EXPECT_EQ(port.GetStopBits(), row.stop);
    EXPECT_EQ(port.GetParity(), row.parityCode);
  }
}

TEST_F(SerialComTest, WriteMultiplierIs19200DividedBySpeedInWholeMs) {
  struct Row {
    int speedIndex;
    DWORD multiplier;
  };
  const Row rows[] = {{0, 174}, {1, 64}, {4, 8}, {6, 2}, {7, 1}, {8, 1}, {9, 0}, {14, 0}};
  for (const Row& row : rows) {
    line = InstallFakeLine(kPort);
    CSerialCom port;
    port.Open(kPort, 1, 0, 0, row.speedIndex);
    ASSERT_EQ(line->timeouts.size(), 1u);
    EXPECT_EQ(line->timeouts[0].WriteTotalTimeoutMultiplier, row.multiplier) << row.speedIndex;
  }
}

TEST_F(SerialComTest, SpeedChangeKeepsTheTimeoutsOfOpen) {
  OpenDefault();
  com.SetSpeed(9);
  EXPECT_EQ(com.GetSpeed(), 38400u);
  EXPECT_EQ(line->state.BaudRate, 38400u);
  EXPECT_EQ(line->timeouts.size(), 1u);
  EXPECT_EQ(line->timeouts[0].WriteTotalTimeoutMultiplier, 2u);
  const std::vector<std::string> expected = {"GetState", "SetState"};
  EXPECT_EQ(line->calls, expected);
}

TEST_F(SerialComTest, SettersChangeOneValueAndRecordIt) {
  OpenDefault();
  line->state.XonChar = 0x42;  // something the setters must carry over
  com.SetParity(2);
  EXPECT_EQ(line->state.Parity, EVENPARITY);
  EXPECT_EQ(com.GetParity(), EVENPARITY);
  com.SetByteSize(0);
  EXPECT_EQ(line->state.ByteSize, 7);
  EXPECT_EQ(com.GetByteSize(), 7);
  com.SetStopBits(2);
  EXPECT_EQ(line->state.StopBits, TWOSTOPBITS);
  EXPECT_EQ(com.GetStopBits(), TWOSTOPBITS);
  com.SetSpeed(12);
  EXPECT_EQ(line->state.BaudRate, 115200u);
  // The rest of the record went through untouched.
  EXPECT_EQ(line->state.Parity, EVENPARITY);
  EXPECT_EQ(line->state.ByteSize, 7);
  EXPECT_EQ(line->state.XonChar, 0x42);
}

TEST_F(SerialComTest, HandshakeFlagsSelectFlowControl) {
  struct Row {
    BYTE flags;
    bool dsr, cts, xon;
    BYTE dtr, rts;
  };
  const Row rows[] = {
      {0, false, false, false, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
      {1, true, false, false, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE},
      {2, false, true, false, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
      {4, false, false, true, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
      {7, true, true, true, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE},
  };
  OpenDefault();
  for (const Row& row : rows) {
    line->state.XonChar = 0;
    line->state.XonLim = 7;
    com.SetHandshake(row.flags);
    const DCB& s = line->state;
    EXPECT_EQ(s.fOutxDsrFlow, row.dsr) << int(row.flags);
    EXPECT_EQ(s.fOutxCtsFlow, row.cts) << int(row.flags);
    EXPECT_EQ(s.fOutX, row.xon) << int(row.flags);
    EXPECT_EQ(s.fInX, row.xon) << int(row.flags);
    EXPECT_EQ(s.fDtrControl, row.dtr) << int(row.flags);
    EXPECT_EQ(s.fRtsControl, row.rts) << int(row.flags);
    EXPECT_EQ(s.XonChar, 0x11);
    EXPECT_EQ(s.XoffChar, 0x13);
    EXPECT_EQ(s.XonLim, 0);
    EXPECT_EQ(s.XoffLim, 0);
    EXPECT_EQ(com.GetHandshake(), row.flags);
  }
}

TEST_F(SerialComTest, SettingsFailureClosesAndThrows302) {
  struct Row {
    const char* what;
    DWORD getError;
    DWORD setError;
    int index;
    DWORD expectedError;
  };
  const Row rows[] = {
      {"read fails", ERROR_GEN_FAILURE, ERROR_SUCCESS, 9, ERROR_GEN_FAILURE},
      {"apply fails", ERROR_SUCCESS, ERROR_INVALID_PARAMETER, 9, ERROR_INVALID_PARAMETER},
      {"index beyond the table", ERROR_SUCCESS, ERROR_SUCCESS, 15, ERROR_INVALID_PARAMETER},
      {"negative index", ERROR_SUCCESS, ERROR_SUCCESS, -1, ERROR_INVALID_PARAMETER},
  };
  for (const Row& row : rows) {
    line = InstallFakeLine(kPort);
    CSerialCom port;
    port.Open(kPort, 1, 0, 0, 6);
    line->getStateError = row.getError;
    line->setStateErrors.push_back(row.setError);
    auto [code, error] = ExpectSerialFailure([&] { port.SetSpeed(row.index); });
    EXPECT_EQ(code, 302) << row.what;
    EXPECT_EQ(error, row.expectedError) << row.what;
    EXPECT_EQ(port.GetHandle(), nullptr) << row.what;
    EXPECT_FALSE(port.IsOpen()) << row.what;
    EXPECT_EQ(port.GetPortNumber(), 0u) << row.what;
    EXPECT_EQ(port.GetSpeed(), 9600u) << row.what;
    EXPECT_EQ(line->portsAlive, 0) << row.what;
  }
}

TEST_F(SerialComTest, EverySetterFailsThe302Way) {
  using Setter = void (*)(CSerialCom&);
  const Setter setters[] = {
      [](CSerialCom& c) { c.SetParity(1); },   [](CSerialCom& c) { c.SetByteSize(0); },
      [](CSerialCom& c) { c.SetStopBits(2); }, [](CSerialCom& c) { c.SetHandshake(4); },
      [](CSerialCom& c) { c.SetParity(5); },   [](CSerialCom& c) { c.SetByteSize(2); },
      [](CSerialCom& c) { c.SetStopBits(3); },
  };
  for (Setter setter : setters) {
    line = InstallFakeLine(kPort);
    CSerialCom port;
    port.Open(kPort, 1, 0, 0, 6);
    line->setStateErrors.push_back(ERROR_GEN_FAILURE);
    auto [code, error] = ExpectSerialFailure([&] { setter(port); });
    EXPECT_EQ(code, 302);
    EXPECT_EQ(port.GetHandle(), nullptr);
    EXPECT_EQ(line->portsAlive, 0);
  }
}

TEST_F(SerialComTest, OpenFailuresThrow301WithTheHandleNull) {
  struct Row {
    const char* what;
    DWORD openError;
    DWORD setStateError;
    int speedIndex;
    DWORD expectedError;
  };
  const Row rows[] = {
      {"no such port", ERROR_FILE_NOT_FOUND, ERROR_SUCCESS, 6, ERROR_FILE_NOT_FOUND},
      {"port in use", ERROR_ACCESS_DENIED, ERROR_SUCCESS, 6, ERROR_ACCESS_DENIED},
      {"settings refused", ERROR_SUCCESS, ERROR_INVALID_PARAMETER, 6, ERROR_INVALID_PARAMETER},
      {"speed index beyond the table", ERROR_SUCCESS, ERROR_SUCCESS, 15, ERROR_INVALID_PARAMETER},
  };
  for (const Row& row : rows) {
    line = InstallFakeLine(kPort);
    line->openError = row.openError;
    line->setStateErrors.push_back(row.setStateError);
    CSerialCom port;
    auto [code, error] = ExpectSerialFailure([&] { port.Open(kPort, 1, 0, 0, row.speedIndex); });
    EXPECT_EQ(code, 301) << row.what;
    EXPECT_EQ(error, row.expectedError) << row.what;
    EXPECT_EQ(port.GetHandle(), nullptr) << row.what;
    EXPECT_FALSE(port.IsOpen()) << row.what;
    EXPECT_EQ(port.GetPortNumber(), 0u) << row.what;
    EXPECT_EQ(port.GetReadRecord().hEvent, nullptr) << row.what;
    EXPECT_EQ(line->portsAlive, 0) << row.what;
  }
}

TEST_F(SerialComTest, HandshakeFailureDuringOpenThrows302Closed) {
  line->setStateErrors = {ERROR_SUCCESS, ERROR_INVALID_PARAMETER};
  auto [code, error] = ExpectSerialFailure([&] { com.Open(kPort, 1, 0, 0, 6); });
  EXPECT_EQ(code, 302);
  EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(com.GetHandle(), nullptr);
  EXPECT_EQ(com.GetReadRecord().hEvent, nullptr);
  EXPECT_EQ(line->portsAlive, 0);
}

TEST_F(SerialComTest, PurgeFlagsFollowTheTwoSides) {
  struct Row {
    BOOL tx, rx;
    DWORD flags;
  };
  const Row rows[] = {
      {FALSE, FALSE, 0},
      {TRUE, FALSE, PURGE_TXABORT | PURGE_TXCLEAR},
      {FALSE, TRUE, PURGE_RXABORT | PURGE_RXCLEAR},
      {TRUE, TRUE, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR},
  };
  OpenDefault();
  for (const Row& row : rows) {
    line->purges.clear();
    EXPECT_TRUE(com.Purge(row.tx, row.rx));
    // Neither side still reaches the platform, as a purge with no action.
    ASSERT_EQ(line->purges.size(), 1u);
    EXPECT_EQ(line->purges[0], row.flags);
  }
}

TEST_F(SerialComTest, ReadReturnsWhatArrivedAndClearsErrorsOnAShortCount) {
  struct Row {
    const char* what;
    std::vector<BYTE> arriving;
    DWORD asked;
    DWORD expected;
    bool clearsErrors;
  };
  const Row rows[] = {
      {"exactly as asked", {1, 2, 3}, 3, 3, false},
      {"fewer waiting than asked", {1, 2}, 8, 2, true},
      {"silent line", {}, 4, 0, true},
      {"more waiting than asked", {1, 2, 3, 4}, 2, 2, false},
  };
  for (const Row& row : rows) {
    line = InstallFakeLine(kPort);
    CSerialCom port;
    port.Open(kPort, 1, 0, 0, 6);
    line->calls.clear();
    if (!row.arriving.empty()) line->reads.push_back(ReadStep{row.arriving, ERROR_SUCCESS});
    BYTE buffer[8] = {};
    EXPECT_EQ(port.Read(buffer, row.asked), row.expected) << row.what;
    for (DWORD i = 0; i < row.expected; ++i) EXPECT_EQ(buffer[i], row.arriving[i]) << row.what;
    const bool cleared = line->calls.back() == "ClearError";
    EXPECT_EQ(cleared, row.clearsErrors) << row.what;
  }
}

TEST_F(SerialComTest, ReadByteOnASilentLineIsFalseWithoutThrowing) {
  OpenDefault();
  BYTE byte = 0x55;
  EXPECT_FALSE(com.ReadByte(&byte));
  line->reads.push_back(ReadStep{{0xA5}, ERROR_SUCCESS});
  EXPECT_TRUE(com.ReadByte(&byte));
  EXPECT_EQ(byte, 0xA5);
}

TEST_F(SerialComTest, ReadFailureThrows303AndLeavesThePortOpen) {
  OpenDefault();
  line->reads.push_back(ReadStep{{}, ERROR_DEVICE_NOT_CONNECTED});
  BYTE byte = 0;
  auto [code, error] = ExpectSerialFailure([&] { com.ReadByte(&byte); });
  EXPECT_EQ(code, 303);
  EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_NE(com.GetHandle(), nullptr);
  EXPECT_TRUE(com.IsOpen());
  EXPECT_EQ(line->calls.back(), "ClearError");
}

TEST_F(SerialComTest, WriteSucceedsOnlyWhenEveryByteWent) {
  OpenDefault();
  const BYTE frame[] = {0x02, 0x00, 0x80, 0x05};
  EXPECT_TRUE(com.Write(frame, sizeof frame));
  EXPECT_EQ(line->written, std::vector<BYTE>(std::begin(frame), std::end(frame)));

  line->writeAccept = 2;
  line->writeLastError = ERROR_TIMEOUT;
  auto [code, error] = ExpectSerialFailure([&] { com.Write(frame, sizeof frame); });
  EXPECT_EQ(code, 304);
  EXPECT_EQ(error, ERROR_TIMEOUT);
  EXPECT_TRUE(com.IsOpen());

  line->writeAccept = UINT32_MAX;
  line->writeError = ERROR_GEN_FAILURE;
  std::tie(code, error) = ExpectSerialFailure([&] { com.WriteByte(0x06); });
  EXPECT_EQ(code, 304);
  EXPECT_EQ(error, ERROR_GEN_FAILURE);
  EXPECT_NE(com.GetHandle(), nullptr);
}

// WriteByte goes through the buffer write's virtual slot.
class CountingSerialCom : public CSerialCom {
 public:
  BOOL Write(const BYTE* buffer, DWORD count) override {
    calls.emplace_back(buffer, buffer + count);
    return CSerialCom::Write(buffer, count);
  }
  std::vector<std::vector<BYTE>> calls;
};

TEST_F(SerialComTest, WriteByteCallsTheBufferWrite) {
  CountingSerialCom port;
  port.Open(kPort, 1, 0, 0, 6);
  EXPECT_TRUE(port.WriteByte(0x06));
  ASSERT_EQ(port.calls.size(), 1u);
  EXPECT_EQ(port.calls[0], std::vector<BYTE>{0x06});
  EXPECT_EQ(line->written, std::vector<BYTE>{0x06});
}

TEST_F(SerialComTest, TransfersOnAClosedPortFailInsteadOfCrashing) {
  BYTE byte = 0;
  auto [code, error] = ExpectSerialFailure([&] { com.ReadByte(&byte); }, 0);
  EXPECT_EQ(code, 303);
  EXPECT_EQ(error, ERROR_INVALID_HANDLE);
  std::tie(code, error) = ExpectSerialFailure([&] { com.WriteByte(1); }, 0);
  EXPECT_EQ(code, 304);
  std::tie(code, error) = ExpectSerialFailure([&] { com.SetSpeed(9); }, 0);
  EXPECT_EQ(code, 302);
  EXPECT_FALSE(com.Purge(TRUE, TRUE));
  EXPECT_FALSE(com.BreakDetected());
  com.SendBreak(10);
  com.ClearErrors();
}

TEST_F(SerialComTest, SendBreakHoldsTheBreakForTheGivenTime) {
  platform::VirtualClock clock;
  platform::ScopedClock scoped(clock);
  OpenDefault();
  const std::uint64_t start = clock.NowMs();
  com.SendBreak(1000);
  EXPECT_EQ(clock.NowMs() - start, 1000u);
  const std::vector<std::string> expected = {"SetBreak", "ClearBreak"};
  EXPECT_EQ(line->calls, expected);
}

TEST_F(SerialComTest, BreakDetectedLooksAtTheBreakFlagOnly) {
  struct Row {
    DWORD errors;
    DWORD queryResult;
    BOOL expected;
  };
  const Row rows[] = {
      {CE_BREAK, ERROR_SUCCESS, TRUE},
      {CE_BREAK | CE_FRAME, ERROR_SUCCESS, TRUE},
      {CE_FRAME | CE_OVERRUN, ERROR_SUCCESS, FALSE},
      {0, ERROR_SUCCESS, FALSE},
      {CE_BREAK, ERROR_GEN_FAILURE, FALSE},
  };
  OpenDefault();
  for (const Row& row : rows) {
    line->lineErrors = {row.errors};
    line->clearErrorResult = row.queryResult;
    EXPECT_EQ(com.BreakDetected(), row.expected) << row.errors;
  }
}

TEST_F(SerialComTest, CloseOnANeverOpenedPortOnlyResetsTheFields) {
  com.Close();
  EXPECT_TRUE(line->calls.empty());
  EXPECT_EQ(com.GetHandle(), nullptr);
  EXPECT_EQ(com.GetPortNumber(), 0u);
  EXPECT_FALSE(com.IsOpen());
}

TEST_F(SerialComTest, ClosePurgesBothSidesThenReleasesThePortAndEvents) {
  OpenDefault();
  HANDLE readEvent = com.GetReadRecord().hEvent;
  com.Close();
  const std::vector<std::string> expected = {"Purge:F", "Destroy"};
  EXPECT_EQ(line->calls, expected);
  EXPECT_EQ(com.GetHandle(), nullptr);
  EXPECT_EQ(com.GetPortNumber(), 0u);
  EXPECT_FALSE(com.IsOpen());
  EXPECT_EQ(com.GetReadRecord().hEvent, nullptr);
  EXPECT_EQ(platform::WaitForSingleObject(readEvent, 0), WAIT_FAILED);
  com.Close();  // twice is harmless
  EXPECT_EQ(line->calls.size(), expected.size());
}

TEST_F(SerialComTest, DestructorClosesAnOpenPort) {
  {
    CSerialCom port;
    port.Open(kPort, 1, 0, 0, 6);
    line->calls.clear();
  }
  const std::vector<std::string> expected = {"Purge:F", "Destroy"};
  EXPECT_EQ(line->calls, expected);
  EXPECT_EQ(line->portsAlive, 0);
}

TEST_F(SerialComTest, OpeningAgainReleasesTheFirstPort) {
  OpenDefault();
  com.Open(kPort, 1, 0, 0, 9);
  EXPECT_EQ(line->portsAlive, 1);
  EXPECT_EQ(com.GetSpeed(), 38400u);
}

}  // namespace
