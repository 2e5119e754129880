// CFileDialog: asks the UI backend for a file and applies what the flags promise (the
// checks and questions of the system's file dialog) and the default extension.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "framework/uimodel.h"

IMPLEMENT_DYNAMIC(CFileDialog, CDialog)

const char* const kAfxFileNotFoundFormat = "%s\nFile not found.\nCheck the file name and try again.";
const char* const kAfxOverwriteFormat = "%s already exists.\nDo you want to replace it?";
const char* const kAfxCreateFormat = "%s\nThis file does not exist.\nDo you want to create the file?";

namespace {

constexpr DWORD kMaxPath = 260;

bool Exists(const CString& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::path(path.str()), error);
}

// The name as the user typed it, made a full path, with the default extension when the
// name has none.
CString Complete(const CString& typed, const CString& defExt) {
  std::filesystem::path path(typed.str());
  std::error_code error;
  if (path.is_relative()) {
    auto absolute = std::filesystem::absolute(path, error);
    if (!error) path = absolute;
  }
  if (!defExt.IsEmpty() && !path.has_extension() && path.has_filename()) {
    path += "." + defExt.str();
  }
  return CString(path.string());
}

}  // namespace

std::vector<uimodel::FileFilter> uimodel::ParseFileFilter(LPCTSTR filter) {
  std::vector<uimodel::FileFilter> result;
  if (!filter) return result;
  std::vector<std::string> parts;
  std::string current;
  for (const char* p = filter; *p; ++p) {
    if (*p == '|') {
      parts.push_back(current);
      current.clear();
    } else {
      current += *p;
    }
  }
  if (!current.empty()) parts.push_back(current);
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty()) break;  // "||" ends the list
    result.push_back({CString(parts[i]), CString(parts[i + 1])});
  }
  return result;
}

CFileDialog::CFileDialog(BOOL openFileDialog, LPCTSTR defExt, LPCTSTR fileName, DWORD flags,
                         LPCTSTR filter, CWnd* parent)
    : CDialog(0, parent),
      m_bOpenFileDialog(openFileDialog),
      defExt_(defExt ? defExt : ""),
      initialName_(fileName ? fileName : ""),
      filter_(filter ? filter : "") {
  const std::vector<uimodel::FileFilter> filters = uimodel::ParseFileFilter(filter);
  // The system's form of the filter: zero-separated texts ended by an empty one.
  for (const auto& entry : filters) {
    filterBuffer_ += entry.description.str();
    filterBuffer_ += '\0';
    filterBuffer_ += entry.pattern.str();
    filterBuffer_ += '\0';
  }
  filterBuffer_ += '\0';
  fileBuffer_.assign(kMaxPath, '\0');
  const size_t n = std::min(static_cast<size_t>(initialName_.GetLength()), fileBuffer_.size() - 1);
  std::copy_n(initialName_.GetString(), n, fileBuffer_.begin());

  m_ofn.lStructSize = sizeof(OPENFILENAME);
  m_ofn.hwndOwner = parent ? parent->m_hWnd : nullptr;
  m_ofn.lpstrFilter = filters.empty() ? nullptr : filterBuffer_.c_str();
  m_ofn.nFilterIndex = 1;
  m_ofn.lpstrFile = fileBuffer_.data();
  m_ofn.nMaxFile = kMaxPath;
  m_ofn.Flags = flags;
  m_ofn.lpstrDefExt = defExt_.IsEmpty() ? nullptr : defExt_.GetString();
}

CFileDialog::~CFileDialog() = default;

CString CFileDialog::GetTitle() const {
  if (m_ofn.lpstrTitle) return m_ofn.lpstrTitle;
  return m_bOpenFileDialog ? "Open" : "Save As";
}

INT_PTR CFileDialog::DoModal() {
  std::shared_ptr<uimodel::Backend> backend = uimodel::GetBackend();
  if (!backend) return IDCANCEL;
  const HWND owner = m_ofn.hwndOwner;
  const CString title = GetTitle();
  const CString defExt = m_ofn.lpstrDefExt ? m_ofn.lpstrDefExt : "";
  for (;;) {
    CString typed;
    if (!backend->RunFileDialog(*this, typed)) return IDCANCEL;
    if (typed.IsEmpty()) continue;  // nothing chosen yet: the dialog stays
    const CString path = Complete(typed, defExt);
    const bool exists = Exists(path);
    CString prompt;
    if ((m_ofn.Flags & OFN_FILEMUSTEXIST) && !exists) {
      prompt.Format(kAfxFileNotFoundFormat, path.GetString());
      platform::MessageBox(owner, prompt, title, MB_OK | MB_ICONEXCLAMATION);
      continue;
    }
    if (!m_bOpenFileDialog && (m_ofn.Flags & OFN_OVERWRITEPROMPT) && exists) {
      prompt.Format(kAfxOverwriteFormat, path.GetString());
      if (platform::MessageBox(owner, prompt, title, MB_YESNO | MB_ICONEXCLAMATION) != IDYES) continue;
    }
    if ((m_ofn.Flags & OFN_CREATEPROMPT) && !exists) {
      prompt.Format(kAfxCreateFormat, path.GetString());
      if (platform::MessageBox(owner, prompt, title, MB_YESNO | MB_ICONQUESTION) != IDYES) continue;
    }
    path_ = path;
    std::fill(fileBuffer_.begin(), fileBuffer_.end(), '\0');
    const size_t n = std::min(static_cast<size_t>(path_.GetLength()), fileBuffer_.size() - 1);
    std::copy_n(path_.GetString(), n, fileBuffer_.begin());
    return IDOK;
  }
}

CString CFileDialog::GetPathName() const { return path_; }

CString CFileDialog::GetFileName() const {
  return CString(std::filesystem::path(path_.str()).filename().string());
}

CString CFileDialog::GetFileExt() const {
  const std::string ext = std::filesystem::path(path_.str()).extension().string();
  return CString(ext.empty() ? ext : ext.substr(1));
}

CString CFileDialog::GetFileTitle() const {
  return CString(std::filesystem::path(path_.str()).stem().string());
}
