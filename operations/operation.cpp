#include "operations/operation.h"

#include <cstring>

#include "resources/resource.h"

COperation::COperation(int pageCount) : m_nPageCount(pageCount) {
  m_pages.SetSize(pageCount);
}

COperation::~COperation() {
  m_pages.RemoveAll();
}

bool COperation::GetText(int index, char* buffer, UINT length) {
  switch (index) {
    case TEXT_CONNECT:
      return CopyString(IDS_CONNECT_INSTRUCTION, buffer, length);
    case TEXT_COMPLETION:
      return CopyString(IDS_OPERATION_DONE, buffer, length);
    default:
      // A buffer of no length has no room even for the terminator.
      if (buffer && length > 0) buffer[0] = '\0';
      return false;
  }
}

CPropertyPage* COperation::GetPageAt(int page) const {
  return static_cast<CPropertyPage*>(m_pages.GetAt(page));
}

void COperation::SetPage(int page, CPropertyPage* object) {
  m_pages.SetAt(page, object);
}

bool COperation::CopyText(const char* text, char* buffer, UINT length) {
  if (buffer && length > 0) std::strncpy(buffer, text ? text : "", length);
  return true;
}

bool COperation::CopyString(UINT id, char* buffer, UINT length) {
  CString text;
  text.LoadString(id);
  return CopyText(text, buffer, length);
}
