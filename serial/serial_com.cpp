#include "serial/serial_com.h"

#include <iterator>

#include "platform/clock.h"
#include "platform/sync.h"
#include "reporting/failures.h"

namespace {

template <typename T, std::size_t N>
bool InTable(const T (&)[N], int index) {
  return index >= 0 && static_cast<std::size_t>(index) < N;
}

// 19200 / speed whole milliseconds a byte: twice a byte's wire time at 10 bits a byte.
constexpr DWORD kWriteMultiplierDividend = 19200;

}  // namespace

CSerialCom::CSerialCom()
    : m_portNumber(0),
      m_isOpen(false),
      m_speed(9600),
      m_byteSize(8),
      m_parity(NOPARITY),
      m_stopBits(ONESTOPBIT),
      m_handshake(0) {}

CSerialCom::~CSerialCom() {
  if (m_isOpen) Close();
  // A port left half-open by nothing in particular still owns its events.
  CloseEvents();
}

void CSerialCom::Open(DWORD portNumber, int byteSizeIndex, int stopBitsIndex, int parityIndex,
                      int speedIndex) {
  // Opening again must not leave the first port and its events behind.
  if (m_hCom || m_isOpen) Close();

  m_deviceName.Format("\\\\.\\COM%d", static_cast<int>(portNumber));

  if (!InTable(BYTE_SIZES, byteSizeIndex) || !InTable(STOP_BITS, stopBitsIndex) ||
      !InTable(PARITIES, parityIndex) || !InTable(SPEEDS, speedIndex)) {
    throw new CSerialComException(static_cast<int>(portNumber), ERROR_INVALID_PARAMETER,
                                  FAILURE_OPEN);
  }
  DCB dcb{};
  BuildCommDCB("", &dcb);  // fills the platform's defaults; nothing to check in ""
  dcb.BaudRate = SPEEDS[speedIndex];
  dcb.ByteSize = BYTE_SIZES[byteSizeIndex];
  dcb.Parity = PARITIES[parityIndex];
  dcb.StopBits = STOP_BITS[stopBitsIndex];

  DWORD error = platform::OpenCommPort(m_deviceName.GetString(), m_hCom);
  if (error != ERROR_SUCCESS) {
    m_hCom.reset();
    throw new CSerialComException(static_cast<int>(portNumber), error, FAILURE_OPEN);
  }
  error = m_hCom->SetState(dcb);
  if (error != ERROR_SUCCESS) {
    Close();
    throw new CSerialComException(static_cast<int>(portNumber), error, FAILURE_OPEN);
  }
  m_readRecord = TransferRecord{};
  m_writeRecord = TransferRecord{};
  m_readRecord.hEvent = platform::CreateEvent(true, false);
  m_writeRecord.hEvent = m_readRecord.hEvent ? platform::CreateEvent(true, false) : nullptr;
  if (!m_readRecord.hEvent || !m_writeRecord.hEvent) {
    error = platform::GetLastError();
    Close();
    throw new CSerialComException(static_cast<int>(portNumber), error, FAILURE_OPEN);
  }

  m_isOpen = true;
  m_portNumber = portNumber;
  m_speed = dcb.BaudRate;
  m_byteSize = dcb.ByteSize;
  m_parity = dcb.Parity;
  m_stopBits = dcb.StopBits;

  SetHandshake(0);
  Purge(TRUE, TRUE);

  // A read returns what is waiting, else waits up to the constant for the first byte,
  // else returns nothing. Set here only: later speed changes keep these.
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = READ_TIMEOUT_MS;
  timeouts.WriteTotalTimeoutMultiplier = kWriteMultiplierDividend / m_speed;
  timeouts.WriteTotalTimeoutConstant = WRITE_TIMEOUT_CONSTANT_MS;
  m_hCom->SetTimeouts(timeouts);
}

void CSerialCom::CloseEvents() {
  for (TransferRecord* record : {&m_readRecord, &m_writeRecord}) {
    if (record->hEvent) platform::CloseHandle(record->hEvent);
    record->hEvent = nullptr;
  }
}

void CSerialCom::Close() {
  if (m_hCom && m_isOpen) Purge(TRUE, TRUE);
  // Whatever state Open left, the port and the events go with it.
  m_hCom.reset();
  CloseEvents();
  m_portNumber = 0;
  m_isOpen = false;
}

void CSerialCom::FailSettings(DWORD error) {
  const int portNumber = static_cast<int>(m_portNumber);
  Close();
  throw new CSerialComException(portNumber, error, FAILURE_SETTINGS);
}

template <typename Change>
void CSerialCom::ChangeSettings(Change change) {
  if (!m_hCom) FailSettings(ERROR_INVALID_HANDLE);
  DCB dcb;
  DWORD error = m_hCom->GetState(dcb);
  if (error != ERROR_SUCCESS) FailSettings(error);
  change(dcb);
  error = m_hCom->SetState(dcb);
  if (error != ERROR_SUCCESS) FailSettings(error);
}

void CSerialCom::SetSpeed(int index) {
  if (!InTable(SPEEDS, index)) FailSettings(ERROR_INVALID_PARAMETER);
  ChangeSettings([&](DCB& dcb) { dcb.BaudRate = SPEEDS[index]; });
  m_speed = SPEEDS[index];
}

void CSerialCom::SetParity(int index) {
  if (!InTable(PARITIES, index)) FailSettings(ERROR_INVALID_PARAMETER);
  ChangeSettings([&](DCB& dcb) { dcb.Parity = PARITIES[index]; });
  m_parity = PARITIES[index];
}

void CSerialCom::SetByteSize(int index) {
  if (!InTable(BYTE_SIZES, index)) FailSettings(ERROR_INVALID_PARAMETER);
  ChangeSettings([&](DCB& dcb) { dcb.ByteSize = BYTE_SIZES[index]; });
  m_byteSize = BYTE_SIZES[index];
}

void CSerialCom::SetStopBits(int index) {
  if (!InTable(STOP_BITS, index)) FailSettings(ERROR_INVALID_PARAMETER);
  ChangeSettings([&](DCB& dcb) { dcb.StopBits = STOP_BITS[index]; });
  m_stopBits = STOP_BITS[index];
}

void CSerialCom::SetHandshake(BYTE flags) {
  ChangeSettings([&](DCB& dcb) {
    const bool dsr = (flags & HANDSHAKE_DTR_DSR) != 0;
    const bool cts = (flags & HANDSHAKE_RTS_CTS) != 0;
    const bool xonXoff = (flags & HANDSHAKE_XON_XOFF) != 0;
    dcb.fOutxDsrFlow = dsr;
    dcb.fDtrControl = dsr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
    dcb.fOutxCtsFlow = cts;
    dcb.fRtsControl = cts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
  });
  m_handshake = flags;
}

DWORD CSerialCom::Read(BYTE* buffer, DWORD count) {
  if (!m_hCom)
    throw new CSerialComException(static_cast<int>(m_portNumber), ERROR_INVALID_HANDLE,
                                  FAILURE_READ);
  platform::ResetEvent(m_readRecord.hEvent);
  DWORD read = 0;
  const DWORD error = m_hCom->Read(buffer, count, read);
  platform::SetEvent(m_readRecord.hEvent);
  if (error != ERROR_SUCCESS) {
    ClearErrors();
    throw new CSerialComException(static_cast<int>(m_portNumber), error, FAILURE_READ);
  }
  if (read < count) ClearErrors();  // a time-out
  return read;
}

BOOL CSerialCom::ReadByte(BYTE* byte) {
  return Read(byte, 1) == 1;
}

void CSerialCom::ExpectBytes(DWORD count) {
  if (m_hCom) m_hCom->ExpectInput(count);
}

BOOL CSerialCom::WriteByte(BYTE value) {
  return Write(&value, 1);
}

BOOL CSerialCom::Write(const BYTE* buffer, DWORD count) {
  if (!m_hCom)
    throw new CSerialComException(static_cast<int>(m_portNumber), ERROR_INVALID_HANDLE,
                                  FAILURE_WRITE);
  platform::ResetEvent(m_writeRecord.hEvent);
  DWORD written = 0;
  const DWORD error = m_hCom->Write(buffer, count, written);
  platform::SetEvent(m_writeRecord.hEvent);
  if (error != ERROR_SUCCESS) {
    throw new CSerialComException(static_cast<int>(m_portNumber), error, FAILURE_WRITE);
  }
  if (written < count) {
    throw new CSerialComException(static_cast<int>(m_portNumber), platform::GetLastError(),
                                  FAILURE_WRITE);
  }
  return TRUE;
}

BOOL CSerialCom::Purge(BOOL tx, BOOL rx) {
  if (!m_hCom) return FALSE;
  DWORD flags = 0;
  if (tx) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
  if (rx) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
  return m_hCom->Purge(flags) == ERROR_SUCCESS;
}

void CSerialCom::SendBreak(DWORD milliseconds) {
  if (!m_hCom) return;
  m_hCom->SetBreak();
  platform::GetClock().SleepMs(milliseconds);
  m_hCom->ClearBreak();
}

BOOL CSerialCom::BreakDetected() {
  if (!m_hCom) return FALSE;
  DWORD errors = 0;
  if (m_hCom->ClearError(errors) != ERROR_SUCCESS) return FALSE;
  return (errors & CE_BREAK) != 0;
}

void CSerialCom::ClearErrors() {
  if (!m_hCom) return;
  DWORD errors = 0;
  m_hCom->ClearError(errors);
}
