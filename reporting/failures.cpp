#include "reporting/failures.h"

#include "reporting/failure_codes.h"
#include "resources/resource.h"

IMPLEMENT_DYNAMIC(DeviceException, CException)
IMPLEMENT_DYNAMIC(BDException, CException)
IMPLEMENT_DYNAMIC(CFlashMonException, CException)
IMPLEMENT_DYNAMIC(CSerialComException, CException)
IMPLEMENT_DYNAMIC(CMonitorProgramException, CException)

namespace {

// The help context is left as the caller had it.
BOOL CopyMessage(const CString& text, LPTSTR error, UINT maxError) {
  if (error && maxError > 0) AfxCopyTruncated(error, text, maxError);
  return TRUE;
}

CString LoadText(UINT id) {
  CString text;
  text.LoadString(id);
  return text;
}

}  // namespace

DeviceException::DeviceException(int code, int comPort) : m_code(code), m_comPort(comPort) {}

BOOL DeviceException::GetErrorMessage(LPTSTR error, UINT maxError, PUINT) {
  CString text;
  if (m_code == DEVICE_OPERATION_FAILURE) {
    text = LoadText(IDS_DEVICE_FAILURE_BASE);
  } else {
    text.Format(static_cast<UINT>(m_code - 100), m_code, m_comPort);
  }
  return CopyMessage(text, error, maxError);
}

BDException::BDException(int code, int comPort) : m_code(code), m_comPort(comPort) {}

BOOL BDException::GetErrorMessage(LPTSTR error, UINT maxError, PUINT) {
  CString text;
  if (m_code == BD_OPERATION_FAILURE) {
    text = LoadText(IDS_BD_FAILURE_BASE);
  } else {
    CString device = LoadText(IDS_DEVICE_NAME);
    text.Format(static_cast<UINT>(m_code + 300), m_code, device.GetString(), m_comPort,
                device.GetString());
  }
  return CopyMessage(text, error, maxError);
}

CFlashMonException::CFlashMonException(int code, const CString& detail)
    : m_code(code), m_strDetail(detail) {}

BOOL CFlashMonException::GetErrorMessage(LPTSTR error, UINT maxError, PUINT) {
  CString text;
  if (m_code == FLASHMON_OPERATION_FAILURE) {
    text = LoadText(IDS_FLASHMON_FAILURE_BASE);
  } else {
    text.Format(static_cast<UINT>(m_code + 100), m_code);
  }
  if (!m_strDetail.IsEmpty()) text += "\n\n" + m_strDetail;
  return CopyMessage(text, error, maxError);
}

CSerialComException::CSerialComException(int comPort, DWORD platformError, int code)
    : m_comPort(comPort), m_code(code), m_platformError(platformError) {}

BOOL CSerialComException::GetErrorMessage(LPTSTR error, UINT maxError, PUINT) {
  CString text;
  if (m_code == SERIAL_PORT_FAILURE) {
    text = LoadText(IDS_SERIAL_FAILURE_BASE);
  } else {
    // "%ld" takes a long; the error is a 32-bit value read as signed, as a 32-bit long
    // would show it.
    text.Format(static_cast<UINT>(m_code + 1), m_code,
                static_cast<long>(static_cast<LONG>(m_platformError)), m_comPort);
  }
  return CopyMessage(text, error, maxError);
}

CMonitorProgramException::CMonitorProgramException(Problem problem, const CString& path,
                                                   unsigned long long detail)
    : m_problem(problem), m_path(path), m_detail(detail) {}

BOOL CMonitorProgramException::GetErrorMessage(LPTSTR error, UINT maxError, PUINT) {
  // One string per problem, each taking the path and then the detail.
  static constexpr UINT kTexts[] = {IDS_MONITOR_FILE_MISSING,     IDS_MONITOR_FILE_DIRECTORY,
                                    IDS_MONITOR_FILE_UNREADABLE,  IDS_MONITOR_FILE_WRONG_SIZE,
                                    IDS_MONITOR_FILE_NOT_REGULAR, IDS_MONITOR_FILE_LINK_LOOP};
  CString text;
  text.Format(kTexts[m_problem], m_path.GetString(), m_detail);
  return CopyMessage(text, error, maxError);
}
