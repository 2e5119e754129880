// The exception base, the user-cancel and out-of-memory failures, and the framework's
// way of showing a failure to the user.
#include <new>

#include "framework/afx.h"

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CUserException, CException)
IMPLEMENT_DYNAMIC(CMemoryException, CException)

namespace {
constexpr const char kNoErrorMessage[] = "No error message is available.";
constexpr const char kOutOfMemory[] = "Out of memory.";
// Room for the longest failure text the plug-in builds, with margin.
constexpr UINT kReportBufferSize = 1024;
}  // namespace

void CException::Delete() {
  if (m_bAutoDelete) delete this;
}

BOOL CException::GetErrorMessage(LPTSTR error, UINT maxError, PUINT /*helpContext*/) {
  if (error && maxError > 0) error[0] = '\0';
  return FALSE;
}

int CException::ReportError(UINT type, UINT messageId) {
  char message[kReportBufferSize];
  if (GetErrorMessage(message, sizeof message) && message[0] != '\0') {
    return AfxMessageBox(message, type);
  }
  CString fallback;
  if (messageId == 0 || !fallback.LoadString(messageId) || fallback.IsEmpty()) {
    fallback = kNoErrorMessage;
  }
  return AfxMessageBox(fallback, type);
}

BOOL CMemoryException::GetErrorMessage(LPTSTR error, UINT maxError, PUINT /*helpContext*/) {
  AfxCopyTruncated(error, kOutOfMemory, maxError);
  return TRUE;
}

void AfxThrowUserException() {
  throw new CUserException();
}

void AfxThrowMemoryException() {
  // When memory has run out, allocating the failure object may itself fail; a static
  // object that Delete() leaves alone stands in for it then.
  static CMemoryException reserve;
  reserve.m_bAutoDelete = FALSE;
  CMemoryException* failure = new (std::nothrow) CMemoryException();
  throw failure ? failure : &reserve;
}
