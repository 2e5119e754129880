#include "ui/log_file_page.h"

#include "platform/files.h"
#include "platform/registry.h"
#include "resources/resource.h"

CLogFilePage::CLogFilePage() : CWizardPageFrame(IDD_LOG_FILE) {
  m_strDefaultExt.LoadString(IDS_LOG_DEFAULT_EXT);
  m_strFileFilter.LoadString(IDS_LOG_FILE_FILTER);
  m_strNoFile.LoadString(IDS_LOG_NO_FILE);
  m_strReplaceQuestion.LoadString(IDS_REPLACE_LOG_FILE);
  m_strRegistryRefusal.LoadString(IDS_LOG_FILE_IS_REGISTRY);
}

CLogFilePage::~CLogFilePage() = default;

void CLogFilePage::DoDataExchange(CDataExchange* dx) {
  CWizardPageFrame::DoDataExchange(dx);
  DDX_Text(dx, IDC_LOG_FILE_NAME, m_strLogFileName);
  // As long as a path the platform opens: a shorter limit would cut the name, and the dump
  // would land in a file the user never named.
  DDV_MaxChars(dx, m_strLogFileName, static_cast<int>(platform::MaxPathLength()));
}

BOOL CLogFilePage::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_LOG_BROWSE) {
    OnBrowse();
    return TRUE;
  }
  return CWizardPageFrame::OnCommand(wParam, lParam);
}

void CLogFilePage::OnBrowse() {
  CFileDialog dialog(FALSE, m_strDefaultExt, nullptr,
                     OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_CREATEPROMPT, m_strFileFilter,
                     this);
  if (dialog.DoModal() != IDOK) return;
  m_strLogFileName = dialog.GetPathName();
  m_strConfirmedName = m_strLogFileName;
  SetDlgItemText(IDC_LOG_FILE_NAME, m_strLogFileName);
}

bool CLogFilePage::CheckWritable(bool exists) {
  try {
    CFile file(m_strLogFileName, CFile::modeWrite | CFile::modeCreate | CFile::modeNoTruncate |
                                     CFile::shareExclusive | CFile::typeBinary);
    file.Close();
    if (!exists) CFile::Remove(m_strLogFileName);
  } catch (CFileException* e) {
    e->ReportError(MB_OK);
    e->Delete();
    return false;
  }
  return true;
}

LRESULT CLogFilePage::OnWizardNext() {
  if (!UpdateData(TRUE)) return STAY_ON_PAGE;
  if (m_strLogFileName.IsEmpty()) {
    ShowRefusal(m_strNoFile);
    return STAY_ON_PAGE;
  }
  // The dump would replace the registry database, and with it the firmware catalogue.
  if (platform::IsRegistryStoreFile(platform::ToNativePath(m_strLogFileName.str()))) {
    CString refusal;
    refusal.Format(m_strRegistryRefusal, m_strLogFileName.GetString());
    ShowRefusal(refusal);
    return STAY_ON_PAGE;
  }
  platform::FileStatus status;
  const bool exists = platform::GetFileStatus(m_strLogFileName.str(), status);
  if (!CheckWritable(exists)) return STAY_ON_PAGE;
  // The dump replaces the file: ask, unless the file dialog already did for this name.
  if (exists && m_strLogFileName != m_strConfirmedName) {
    CString question;
    question.Format(m_strReplaceQuestion, m_strLogFileName.GetString());
    if (!AskToReplace(question)) return STAY_ON_PAGE;
  }
  m_bExisted = exists;
  return 0;
}
