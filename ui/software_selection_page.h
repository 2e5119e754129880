// The software upgrade's wizard page: the user picks, from the firmware files registered
// for the device type, the software to load. Insert registers a new file, Delete
// unregisters one, a double click acts as Next. Next checks that the chosen file is still
// an S-record file.
#pragma once
#include "catalogue/firmware_list.h"
#include "ui/insert_key_list_box.h"
#include "ui/wizard_page_frame.h"

class CSoftwareSelectionPage : public CWizardPageFrame {
 public:
  // The device type (string id) filters the catalogue and types new entries; the file
  // filter (string id) is the register dialog's.
  CSoftwareSelectionPage(UINT deviceTypeId, UINT fileFilterId);
  ~CSoftwareSelectionPage() override;

  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;

  // Of the chosen entry; empty while no listed entry is chosen.
  CString GetSelectedDescription() const;
  CString GetSelectedPath() const;

  virtual void RefreshList();
  // `position` is an entry position of the list, not a list box index.
  virtual void DeleteEntry(int position);
  virtual void AddEntry();

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  int OnVKeyToItem(UINT key, CListBox* listBox, UINT index) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

 private:
  const CFirmwareEntry* SelectedEntry() const;
  // Between the selected entry position and the list box, whose items carry their entry
  // positions (an entry whose file vanished is not shown, so the two differ).
  int EntryOfItem(int item) const;      // -1 for no item
  int ItemOfEntry(int position) const;  // -1 when the entry is not shown
  // Says that a running upgrade holds the entry `description` with its file `path`.
  void RefuseInUse(const CString& description, const CString& path) const;

  CInsertKeyListBox m_listBox;
  int m_nSelected = 0;
  CFirmwareList m_entries;
  CString m_strDeleteQuestion;
  CString m_strRemoveFailed;
  CString m_strInvalidLocation;
  CString m_strAddFailed;
  CString m_strNoSelection;
  CString m_strDeviceType;
  CString m_strFileFilter;
  CString m_strCopyFailed;
  CString m_strReplaceQuestion;
  CString m_strUnregisterQuestion;
  CString m_strInUse;
};
