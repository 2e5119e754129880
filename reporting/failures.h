// The plug-in's failure classes, one per layer. Each carries a code and builds its
// message from the string table by a fixed rule; they are thrown by pointer and ended
// with Delete() by whoever handles them.
#pragma once
#include "framework/afx.h"

// ROM-monitor bootstrap and device connection: codes 500..519.
class DeviceException : public CException {
  DECLARE_DYNAMIC(DeviceException)
 public:
  DeviceException(int code, int comPort);
  // 500: "Operation failure!"; other codes: string (code - 100) with code, COM port.
  BOOL GetErrorMessage(LPTSTR error, UINT maxError, PUINT helpContext = nullptr) override;

  int m_code;
  int m_comPort;
};

// Monitor upload and garbage collection: codes 800..806.
class BDException : public CException {
  DECLARE_DYNAMIC(BDException)
 public:
  BDException(int code, int comPort);
  // 800: "Operation Failure!"; other codes: string (code + 300) with code, device name,
  // COM port, device name.
  BOOL GetErrorMessage(LPTSTR error, UINT maxError, PUINT helpContext = nullptr) override;

  int m_code;
  int m_comPort;
};

// Flash-monitor protocol and S-record decoding: codes 400..416.
class CFlashMonException : public CException {
  DECLARE_DYNAMIC(CFlashMonException)
 public:
  explicit CFlashMonException(int code, const CString& detail = CString());
  // 400: "Operation failure!"; other codes: string (code + 100) with code. A detail
  // follows the text after an empty line.
  BOOL GetErrorMessage(LPTSTR error, UINT maxError, PUINT helpContext = nullptr) override;

  int m_code;
  // Our own words on what exactly was wrong (the line of a refused firmware file, say);
  // empty for the failures the table's text says all about.
  CString m_strDetail;
};

// Serial port: codes 300..304. `platformError` is the platform's last error at the
// failure.
class CSerialComException : public CException {
  DECLARE_DYNAMIC(CSerialComException)
 public:
  CSerialComException(int comPort, DWORD platformError, int code);
  // 300: "COM Port Failure!"; other codes: string (code + 1) with code, platform error,
  // COM port.
  BOOL GetErrorMessage(LPTSTR error, UINT maxError, PUINT helpContext = nullptr) override;

  int m_comPort;
  int m_code;
  DWORD m_platformError;
};

// The flash monitor program a run was told to take from a file (VELMORA_KV70_MONITOR)
// cannot be used. Raised before the port is opened; the text names the file and says
// what is wrong with it.
class CMonitorProgramException : public CException {
  DECLARE_DYNAMIC(CMonitorProgramException)
 public:
  enum Problem { kMissing, kDirectory, kUnreadable, kWrongSize, kNotRegular, kLinkLoop };
  // `detail` is the platform error for kUnreadable, the file's size for kWrongSize.
  CMonitorProgramException(Problem problem, const CString& path, unsigned long long detail);
  // The problem's own string with the path, then the detail.
  BOOL GetErrorMessage(LPTSTR error, UINT maxError, PUINT helpContext = nullptr) override;

  Problem m_problem;
  CString m_path;
  unsigned long long m_detail;
};
