// The link to one device over one port: the frame-level commands of the device's ROM
// monitor and the flash-monitor link, for the device classes derived from it.
#pragma once
#include "framework/plugin_abi.h"
#include "platform/winbase.h"
#include "protocol/flashmon_link.h"

class CSerialCom;

class CDevice {
 public:
  // Neither the port nor the record is owned; both outlive the device.
  CDevice(CSerialCom& port, RunRecord& record);
  virtual ~CDevice() = default;
  CDevice(const CDevice&) = delete;
  CDevice& operator=(const CDevice&) = delete;

  // Slots 0 to 2.
  virtual void Reset() = 0;
  virtual void Connect() = 0;
  virtual DWORD GetAddress(int index) = 0;

  // ROM-monitor commands. Failures are DeviceException with the run's COM port.
  // Whether the ROM monitor answers the probe (at 9600 bit/s, up to five attempts).
  BOOL RomProbe();
  // Bulk write of up to 251 bytes; throws 516 when no attempt is acknowledged.
  void RomWriteMemory(DWORD address, const BYTE* data, UINT count, UINT attempts);
  // Writes `count` bytes of host-order elements of 8, 16 or 32 bits, in the device's
  // byte order; six attempts, then 518.
  void RomWriteTyped(DWORD address, const void* data, UINT count, UINT widthBits);
  // Starts the code at `address`; throws 517 without an acknowledgement.
  void RomGo(DWORD address);
  // Reads up to 251 bytes into `buffer`; throws 509 when no attempt got a good answer.
  void RomReadMemory(DWORD address, BYTE* buffer, UINT count, UINT attempts);
  // Writes one 16-bit word anywhere, through a small routine run by the ROM monitor.
  void RomWriteWord(DWORD address, WORD value);

  CSerialCom& GetPort() { return m_port; }
  CFlashMonLink& GetLink() { return m_link; }
  RunRecord& GetRunRecord() { return m_record; }
  BOOL IsConnected() const { return m_connected != 0; }

 protected:
  [[noreturn]] void ThrowDevice(int code) const;
  // The single byte 0x06 within the port's read time-out.
  BOOL ReadAcknowledgement();

  CSerialCom& m_port;
  CFlashMonLink m_link;
  RunRecord& m_record;
  BYTE m_connected;
};
