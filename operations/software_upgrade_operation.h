// Operation 0: loads new application software, an S-record file registered with the
// host, into the KV70's program flash.
#pragma once
#include "framework/afxwin.h"
#include "operations/operation.h"
#include "ui/software_selection_page.h"

class CSoftwareUpgradeOperation : public COperation {
 public:
  CSoftwareUpgradeOperation();
  ~CSoftwareUpgradeOperation() override;

  const char* GetName() override { return m_name; }
  const char* GetDescription() override { return m_description; }
  bool Execute(RunRecord* record) override;  // software_upgrade_execute.cpp
  bool GetText(int index, char* buffer, UINT length) override;

 private:
  // The description of the firmware entry chosen on the selection page.
  CString SelectedDescription() const;

  CString m_name;
  CString m_description;
  // The software selection page, where the user picks the firmware file.
  CSoftwareSelectionPage m_selectionPage;
};
