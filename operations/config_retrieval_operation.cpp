#include "operations/config_retrieval_operation.h"

#include "resources/resource.h"

CConfigRetrievalOperation::CConfigRetrievalOperation() : COperation(0) {
  m_name.LoadString(IDS_CONFIG_NAME);
  m_description.LoadString(IDS_CONFIG_DESCRIPTION);
}

CConfigRetrievalOperation::~CConfigRetrievalOperation() = default;

bool CConfigRetrievalOperation::GetText(int index, char* buffer, UINT length) {
  switch (index) {
    case TEXT_SUMMARY: {
      CString summary;
      summary.Format(IDS_CONFIG_SUMMARY, m_name.GetString());
      return CopyText(summary, buffer, length);
    }
    case TEXT_LOWER_NAME:
      return CopyString(IDS_CONFIG_LOWER, buffer, length);
    case TEXT_COMPLETION:
      return CopyString(IDS_CONFIG_DONE, buffer, length);
    default:
      return COperation::GetText(index, buffer, length);
  }
}
