#include "ui/register_firmware_dialog.h"

#include "device/kv70_flash_layout.h"
#include "models/srecord_file.h"
#include "resources/resource.h"

bool FirmwareFileIsValid(const CString& path, SRecordFault& fault) {
  try {
    CSRecordFile file(path);
    file.OpenAndCheck();
    DWORD start = 0, end = 0;
    KV70AnyProgramFlashRange(start, end);
    fault = file.CheckAllRecords(start, end);
    return fault.code == 0;
  } catch (CFileException* e) {
    e->Delete();
    return false;
  }
}

CRegisterFirmwareDialog::CRegisterFirmwareDialog(LPCTSTR fileFilter, CWnd* parent)
    : CDialog(IDD_REGISTER_FIRMWARE, parent), m_strFileFilter(fileFilter) {
  m_strInvalidFile.LoadString(IDS_FIRMWARE_FILE_INVALID);
  m_strEmptyField.LoadString(IDS_FIELDS_EMPTY);
  m_strBackslash.LoadString(IDS_DESCRIPTION_BACKSLASH);
}

CRegisterFirmwareDialog::~CRegisterFirmwareDialog() = default;

void CRegisterFirmwareDialog::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Text(dx, IDC_FIRMWARE_DESCRIPTION, m_strDescription);
  DDX_Text(dx, IDC_FIRMWARE_PATH, m_strPath);
}

BOOL CRegisterFirmwareDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  return TRUE;  // the first control gets the focus
}

BOOL CRegisterFirmwareDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_FIRMWARE_BROWSE) {
    OnBrowse();
    return TRUE;
  }
  return CDialog::OnCommand(wParam, lParam);
}

void CRegisterFirmwareDialog::OnBrowse() {
  // A description typed so far survives the round trip through the file dialog.
  if (!UpdateData(TRUE)) return;
  CFileDialog dialog(TRUE, nullptr, m_strPath, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                     m_strFileFilter, this);
  if (dialog.DoModal() != IDOK) return;
  m_strPath = dialog.GetPathName();
  UpdateData(FALSE);
}

void CRegisterFirmwareDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  if (m_strDescription.IsEmpty() || m_strPath.IsEmpty()) {
    AfxMessageBox(m_strEmptyField, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  // The description becomes a registry key name, where a backslash would make a nested
  // key that the next listing of the catalogue deletes as invalid.
  if (m_strDescription.Find('\\') >= 0) {
    AfxMessageBox(m_strBackslash, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  // Every record, as Next checks it: a file spoilt on its two hundredth line is refused
  // here, with the line, not registered to be refused later.
  SRecordFault fault;
  if (!FirmwareFileIsValid(m_strPath, fault)) {
    CString text;
    text.Format(m_strInvalidFile, m_strPath.GetString());
    if (!fault.detail.IsEmpty()) text += "\n\n" + fault.detail;
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  EndDialog(IDOK);
}
