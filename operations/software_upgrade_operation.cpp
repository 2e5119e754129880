#include "operations/software_upgrade_operation.h"

#include "resources/resource.h"

CSoftwareUpgradeOperation::CSoftwareUpgradeOperation()
    : COperation(1), m_selectionPage(IDS_DEVICE_TYPE, IDS_SRECORD_FILE_FILTER) {
  m_name.LoadString(IDS_UPGRADE_NAME);
  m_description.LoadString(IDS_UPGRADE_DESCRIPTION);
  SetPage(0, &m_selectionPage);
}

CSoftwareUpgradeOperation::~CSoftwareUpgradeOperation() = default;

CString CSoftwareUpgradeOperation::SelectedDescription() const {
  // Empty while no listed entry is chosen.
  return m_selectionPage.GetSelectedDescription();
}

bool CSoftwareUpgradeOperation::GetText(int index, char* buffer, UINT length) {
  switch (index) {
    case TEXT_SUMMARY: {
      CString summary;
      summary.Format(IDS_UPGRADE_SUMMARY, m_name.GetString(), SelectedDescription().GetString());
      return CopyText(summary, buffer, length);
    }
    case TEXT_LOWER_NAME:
      return CopyString(IDS_UPGRADE_LOWER, buffer, length);
    case TEXT_COMPLETION:
      return CopyString(IDS_UPGRADE_DONE, buffer, length);
    default:
      return COperation::GetText(index, buffer, length);
  }
}
