#include "ui/software_selection_page.h"

#include <string>

#include "catalogue/catalogue_lock.h"
#include "catalogue/firmware_files.h"
#include "catalogue/install_settings.h"
#include "catalogue/registry_values.h"
#include "platform/files.h"
#include "resources/resource.h"
#include "ui/register_firmware_dialog.h"

namespace {

// Creates a directory and the missing ones above it; a fresh installation may not have
// its firmware directory yet. Failures show later, when the copy fails.
void CreateDirectories(const CString& directory) {
  const std::string path = platform::ToNativePath(directory.str());
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    platform::CreateDirectory(path.substr(0, slash).c_str());
  }
  platform::CreateDirectory(path.c_str());
}

}  // namespace

CSoftwareSelectionPage::CSoftwareSelectionPage(UINT deviceTypeId, UINT fileFilterId)
    : CWizardPageFrame(IDD_SOFTWARE_SELECTION) {
  m_strDeleteQuestion.LoadString(IDS_DELETE_QUESTION);
  m_strRemoveFailed.LoadString(IDS_REMOVE_FAILED);
  m_strInvalidLocation.LoadString(IDS_INVALID_LOCATION);
  m_strAddFailed.LoadString(IDS_ADD_FAILED);
  m_strNoSelection.LoadString(IDS_NO_SELECTION);
  m_strDeviceType.LoadString(deviceTypeId);
  m_strFileFilter.LoadString(fileFilterId);
  m_strCopyFailed.LoadString(IDS_COPY_FAILED);
  m_strReplaceQuestion.LoadString(IDS_REPLACE_FIRMWARE_FILE);
  m_strUnregisterQuestion.LoadString(IDS_UNREGISTER_QUESTION);
  m_strInUse.LoadString(IDS_FIRMWARE_IN_USE);
}

CSoftwareSelectionPage::~CSoftwareSelectionPage() = default;

// --- Selection ----------------------------------------------------------------------------

int CSoftwareSelectionPage::EntryOfItem(int item) const {
  const DWORD_PTR data = m_listBox.GetItemData(item);
  return data == static_cast<DWORD_PTR>(LB_ERR) ? -1 : static_cast<int>(data);
}

int CSoftwareSelectionPage::ItemOfEntry(int position) const {
  for (int item = 0; item < m_listBox.GetCount(); ++item) {
    if (EntryOfItem(item) == position) return item;
  }
  return -1;
}

void CSoftwareSelectionPage::DoDataExchange(CDataExchange* dx) {
  CWizardPageFrame::DoDataExchange(dx);
  DDX_Control(dx, IDC_SOFTWARE_LIST, m_listBox);
  int item = -1;
  if (dx->m_bSaveAndValidate) {
    DDX_LBIndex(dx, IDC_SOFTWARE_LIST, item);
    m_nSelected = item < 0 ? -1 : EntryOfItem(item);
  } else {
    item = ItemOfEntry(m_nSelected);
    DDX_LBIndex(dx, IDC_SOFTWARE_LIST, item);
  }
}

const CFirmwareEntry* CSoftwareSelectionPage::SelectedEntry() const {
  return m_entries.GetAt(m_nSelected);
}

CString CSoftwareSelectionPage::GetSelectedDescription() const {
  const CFirmwareEntry* entry = SelectedEntry();
  return entry ? entry->m_strDescription : CString();
}

CString CSoftwareSelectionPage::GetSelectedPath() const {
  const CFirmwareEntry* entry = SelectedEntry();
  return entry ? entry->m_strFirmwarePath : CString();
}

// --- Activation and Next --------------------------------------------------------------------

BOOL CSoftwareSelectionPage::OnSetActive() {
  const BOOL result = CWizardPageFrame::OnSetActive();
  if (result == TRUE) RefreshList();
  UpdateData(FALSE);
  return result;
}

LRESULT CSoftwareSelectionPage::OnWizardNext() {
  if (!UpdateData(TRUE)) return STAY_ON_PAGE;
  const CFirmwareEntry* entry = SelectedEntry();
  if (m_nSelected == -1 || !entry) {
    ShowRefusal(m_strNoSelection);
    return STAY_ON_PAGE;
  }
  // Every record, not only the first lines: a file the upgrade would refuse is refused
  // here, with the line that is wrong, before the user connects the device.
  SRecordFault fault;
  if (!FirmwareFileIsValid(entry->m_strFirmwarePath, fault)) {
    CString text;
    text.Format(m_strInvalidLocation, entry->m_strFirmwarePath.GetString(),
                entry->m_strDescription.GetString());
    if (!fault.detail.IsEmpty()) text += "\n\n" + fault.detail;
    ShowRefusal(text);
    return STAY_ON_PAGE;
  }
  return CWizardPageFrame::OnWizardNext();
}

// --- The list ------------------------------------------------------------------------------

void CSoftwareSelectionPage::RefreshList() {
  m_listBox.ResetContent();
  m_entries.Enumerate(m_strDeviceType);
  bool seenFile = false;
  std::int64_t newest = 0;
  for (int i = 0; i < m_entries.GetCount(); ++i) {
    const CFirmwareEntry* entry = m_entries.GetAt(i);
    platform::FileStatus status;
    if (!platform::GetFileStatus(entry->m_strFirmwarePath.str(), status)) continue;
    // The newest file is preselected; of equal times the later one.
    if (!seenFile || status.modifiedUs >= newest) {
      seenFile = true;
      newest = status.modifiedUs;
      m_nSelected = i;
    }
    const int item = m_listBox.AddString(entry->m_strDescription);
    m_listBox.SetItemData(item, static_cast<DWORD_PTR>(i));
  }
  m_listBox.SetCurSel(ItemOfEntry(m_nSelected));
}

int CSoftwareSelectionPage::OnVKeyToItem(UINT key, CListBox* listBox, UINT index) {
  const int item = m_listBox.GetCurSel();
  if (key == VK_DELETE) {
    if (item != LB_ERR) {
      DeleteEntry(EntryOfItem(item));
      m_nSelected = 0;
      RefreshList();
    }
  } else if (key == VK_INSERT) {
    AddEntry();
    m_nSelected = 0;
    RefreshList();
  }
  return CWizardPageFrame::OnVKeyToItem(key, listBox, index);
}

BOOL CSoftwareSelectionPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == IDC_SOFTWARE_LIST && HIWORD(wParam) == LBN_DBLCLK) {
    // Exactly as if the user had pressed Next, checks included.
    if (CWnd* sheet = GetParent()) sheet->PostMessage(PSM_PRESSBUTTON, PSBTN_NEXT, 0);
    return TRUE;
  }
  return CWizardPageFrame::OnCommand(wParam, lParam);
}

void CSoftwareSelectionPage::RefuseInUse(const CString& description, const CString& path) const {
  CString text;
  text.Format(m_strInUse, description.GetString(), path.GetString());
  ShowRefusal(text);
}

void CSoftwareSelectionPage::DeleteEntry(int position) {
  const CFirmwareEntry* entry = m_entries.GetAt(position);
  if (!entry) return;
  // A running upgrade reads nothing more from the file, but the entry it loads stays
  // until it has ended: its user sees it listed, and its file is where the list says.
  if (IsFirmwareFileInUse(entry->m_strFirmwarePath)) {
    RefuseInUse(entry->m_strDescription, entry->m_strFirmwarePath);
    return;
  }
  // Only the entry's own copy in the firmware directory goes with it. A file elsewhere
  // (an entry imported from a .reg file, say) is the user's own, and a copy that another
  // entry names too is still that entry's.
  CString directory;
  const bool ownCopy = GetFirmwareDirectory(directory) &&
                       IsInFirmwareDirectory(entry->m_strFirmwarePath, directory) &&
                       !IsNamedByAnEntry(entry->m_strFirmwarePath, entry->m_strKeyName);
  CString question;
  question.Format(ownCopy ? m_strDeleteQuestion : m_strUnregisterQuestion,
                  entry->m_strDescription.GetString(), entry->m_strFirmwarePath.GetString());
  if (!AskYesNo(question)) return;
  if (ownCopy) {
    try {
      CFile::Remove(entry->m_strFirmwarePath);
    } catch (CFileException* e) {
      // An upgrade that started while the question stood holds it: the entry stays.
      if (e->m_cause == CFileException::sharingViolation) {
        e->Delete();
        RefuseInUse(entry->m_strDescription, entry->m_strFirmwarePath);
        return;
      }
      // The file is gone or cannot go: say so, and unregister it all the same.
      e->m_strFileName = entry->m_strFirmwarePath;
      e->ReportError(MB_OK);
      e->Delete();
    }
  }
  LONG error = ERROR_SUCCESS;
  if (!CFirmwareList::RemoveFromRegistry(entry->m_strKeyName, error))
    ShowRefusal(m_strRemoveFailed);
}

void CSoftwareSelectionPage::AddEntry() {
  CRegisterFirmwareDialog dialog(m_strFileFilter);
  if (dialog.DoModal() != IDOK) return;
  std::string name, ext;
  platform::SplitPath(dialog.m_strPath.str(), nullptr, &name, &ext);
  CString directory;
  if (!GetFirmwareDirectory(directory)) return;
  // Two entries never share one file: a name that another entry's file has takes the
  // first free "name (n)". Only a file of the name that no entry names may be replaced,
  // and only when the user says so. The entry this registration replaces (the same
  // description) gives up its file.
  const CString& key = dialog.m_strDescription;
  // Neither the entry this registration replaces nor a file it would copy over may be
  // one that a running upgrade is loading.
  const auto inUse = [&](const CString& destination) {
    const CString replaced = FirmwarePathOfEntry(key);
    const bool copies = !SameFirmwarePlace(destination, dialog.m_strPath);
    const CString& busy = IsFirmwareFileInUse(replaced)                ? replaced
                          : copies && IsFirmwareFileInUse(destination) ? destination
                                                                       : CString();
    if (busy.IsEmpty()) return false;
    RefuseInUse(key, busy);
    return true;
  };
  CString destination = FirmwareCopyPath(directory, name, ext, key);
  if (inUse(destination)) return;
  bool copy = !SameFirmwarePlace(destination, dialog.m_strPath);
  if (copy && FileExists(destination)) {
    CString question;
    question.Format(m_strReplaceQuestion, destination.GetString(), dialog.m_strPath.GetString());
    if (!AskToReplace(question)) return;
  }

  CWaitCursor wait;
  // From here to the registration no other plug-in registers; one that took the name
  // while the question was up leaves this copy a free name of its own.
  const CCatalogueLock lock;
  if (IsNamedByAnEntry(destination, key)) {
    destination = FirmwareCopyPath(directory, name, ext, key, false);
    copy = !SameFirmwarePlace(destination, dialog.m_strPath);
  }
  // An upgrade may have started while the question stood.
  if (inUse(destination)) return;
  if (copy) {
    CreateDirectories(directory);
    if (!platform::CopyFile(dialog.m_strPath, destination, FALSE)) {
      const long error = static_cast<long>(platform::GetLastError());
      CString text;
      text.Format(m_strCopyFailed, error, dialog.m_strPath.GetString(), destination.GetString());
      ShowRefusal(text);
      return;
    }
  }
  CFirmwareEntry entry(dialog.m_strDescription, m_strDeviceType, destination,
                       dialog.m_strDescription, 0);
  LONG error = ERROR_SUCCESS;
  if (!CFirmwareList::AddToRegistry(entry, error)) ShowRefusal(m_strAddFailed);
}
