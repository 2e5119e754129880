// The COM port of one run: opened for exclusive use, configured by index into fixed
// settings tables, with reads and writes bounded by the port's time-outs.
#pragma once
#include <memory>

#include "framework/afx.h"
#include "platform/comm_port.h"
#include "platform/winbase.h"
#include "reporting/failure_codes.h"

class CSerialCom {
 public:
  // A transfer record as the platform's asynchronous I/O keeps one. The platform's port
  // interface completes every transfer within the call, so only the event is used: it is
  // reset when a transfer starts and set when it ends. The offsets stay zero, as they
  // are meaningless on a serial line.
  struct TransferRecord {
    DWORD Offset = 0;
    DWORD OffsetHigh = 0;
    HANDLE hEvent = nullptr;
  };

  // Settings tables; callers pass indexes into them.
  static constexpr DWORD SPEEDS[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                     19200, 38400, 56000, 57600, 115200, 128000, 256000};
  static constexpr BYTE BYTE_SIZES[] = {7, 8};
  static constexpr BYTE PARITIES[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
  static constexpr BYTE STOP_BITS[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
  // The indexes the plug-in uses: the ROM monitor talks at 9600 bit/s, the flash
  // monitor at 38400, both with 8 data bits, no parity and one stop bit.
  static constexpr int SPEED_9600 = 6;
  static constexpr int SPEED_38400 = 9;
  static constexpr int BYTE_SIZE_8 = 1;
  static constexpr int PARITY_NONE = 0;
  static constexpr int STOP_BITS_1 = 0;

  // Handshake flags of SetHandshake.
  static constexpr BYTE HANDSHAKE_DTR_DSR = 0x01;
  static constexpr BYTE HANDSHAKE_RTS_CTS = 0x02;
  static constexpr BYTE HANDSHAKE_XON_XOFF = 0x04;

  // CSerialComException codes.
  static constexpr int FAILURE_OPEN = SERIAL_OPEN_FAILED;
  static constexpr int FAILURE_SETTINGS = SERIAL_SETTINGS_FAILED;
  static constexpr int FAILURE_READ = SERIAL_READ_FAILED;
  static constexpr int FAILURE_WRITE = SERIAL_WRITE_FAILED;

  // Read time-out constant: how long a read waits for the first byte.
  static constexpr DWORD READ_TIMEOUT_MS = 1000;
  static constexpr DWORD WRITE_TIMEOUT_CONSTANT_MS = 500;

  CSerialCom();
  virtual ~CSerialCom();
  CSerialCom(const CSerialCom&) = delete;
  CSerialCom& operator=(const CSerialCom&) = delete;

  // Opens "\\.\COM<portNumber>" and configures it; throws CSerialComException 301 (or
  // 302 from the handshake step) with the port closed.
  void Open(DWORD portNumber, int byteSizeIndex, int stopBitsIndex, int parityIndex,
            int speedIndex);
  void Close();

  // Each throws 302 and closes the port when the settings cannot be read or applied.
  void SetSpeed(int index);
  void SetParity(int index);
  void SetByteSize(int index);
  void SetStopBits(int index);
  void SetHandshake(BYTE flags);

  // Returns the bytes read: what was waiting, else the first bytes to arrive within the
  // read time-out, else 0. Throws 303 on a failure, with the port left open.
  DWORD Read(BYTE* buffer, DWORD count);
  // TRUE when one byte was read; FALSE on a time-out.
  BOOL ReadByte(BYTE* byte);
  // Tells the port how many more bytes the reader needs (see CommPort::ExpectInput).
  void ExpectBytes(DWORD count);
  // Virtual slots, in this order. Both return TRUE or throw 304.
  virtual BOOL WriteByte(BYTE value);
  virtual BOOL Write(const BYTE* buffer, DWORD count);

  // Aborts and clears the output side (tx) and/or the input side (rx). Returns whether
  // the platform did it.
  BOOL Purge(BOOL tx, BOOL rx);
  void SendBreak(DWORD milliseconds);
  // TRUE when a break arrived since the last look; the look clears the line errors.
  BOOL BreakDetected();
  void ClearErrors();

  // State, for the layers above and for tests.
  platform::CommPort* GetHandle() const { return m_hCom.get(); }
  DWORD GetPortNumber() const { return m_portNumber; }
  bool IsOpen() const { return m_isOpen; }
  const CString& GetDeviceName() const { return m_deviceName; }
  DWORD GetSpeed() const { return m_speed; }
  BYTE GetByteSize() const { return m_byteSize; }
  BYTE GetParity() const { return m_parity; }
  BYTE GetStopBits() const { return m_stopBits; }
  BYTE GetHandshake() const { return m_handshake; }
  const TransferRecord& GetReadRecord() const { return m_readRecord; }
  const TransferRecord& GetWriteRecord() const { return m_writeRecord; }

 private:
  // Reads the line settings, lets `change` alter them, applies them; on failure closes
  // the port and throws 302.
  template <typename Change>
  void ChangeSettings(Change change);
  [[noreturn]] void FailSettings(DWORD error);
  void CloseEvents();

  std::unique_ptr<platform::CommPort> m_hCom;
  DWORD m_portNumber;
  bool m_isOpen;
  CString m_deviceName;
  DWORD m_speed;
  BYTE m_byteSize;
  BYTE m_parity;
  BYTE m_stopBits;
  BYTE m_handshake;
  TransferRecord m_readRecord;
  TransferRecord m_writeRecord;
};

static_assert(CSerialCom::SPEEDS[CSerialCom::SPEED_9600] == 9600);
static_assert(CSerialCom::SPEEDS[CSerialCom::SPEED_38400] == 38400);
static_assert(CSerialCom::BYTE_SIZES[CSerialCom::BYTE_SIZE_8] == 8);
static_assert(CSerialCom::PARITIES[CSerialCom::PARITY_NONE] == NOPARITY);
static_assert(CSerialCom::STOP_BITS[CSerialCom::STOP_BITS_1] == ONESTOPBIT);
