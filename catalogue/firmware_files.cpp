#include "catalogue/firmware_files.h"

#include "catalogue/firmware_list.h"
#include "catalogue/registry_values.h"
#include "platform/files.h"

bool SameFirmwarePlace(const CString& a, const CString& b) {
  return CString(platform::ToNativePath(a.str()))
             .CompareNoCase(platform::ToNativePath(b.str()).c_str()) == 0;
}

bool IsInFirmwareDirectory(const CString& path, const CString& directory) {
  std::string dir;
  platform::SplitPath(path.str(), &dir, nullptr, nullptr);
  // SplitPath keeps the trailing separator.
  while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  std::string own = directory.str();
  while (!own.empty() && (own.back() == '\\' || own.back() == '/')) own.pop_back();
  return !dir.empty() && SameFirmwarePlace(dir.c_str(), own.c_str());
}

bool IsNamedByAnEntry(const CString& path, const CString& exceptKey) {
  CFirmwareList all;
  all.Enumerate(nullptr);
  for (int i = 0; i < all.GetCount(); ++i) {
    const CFirmwareEntry* entry = all.GetAt(i);
    if (!exceptKey.IsEmpty() && entry->m_strKeyName.CompareNoCase(exceptKey) == 0) continue;
    if (SameFirmwarePlace(entry->m_strFirmwarePath, path)) return true;
  }
  return false;
}

CString FirmwareCopyPath(const CString& directory, const std::string& name, const std::string& ext,
                         const CString& exceptKey, bool mayReplace) {
  const CString first = directory + platform::PathSeparator() + name.c_str() + ext.c_str();
  if ((mayReplace || !FileExists(first)) && !IsNamedByAnEntry(first, exceptKey)) return first;
  for (int n = 2;; ++n) {
    CString candidate;
    candidate.Format("%s%s%s (%d)%s", directory.GetString(), platform::PathSeparator(),
                     name.c_str(), n, ext.c_str());
    if (!FileExists(candidate) && !IsNamedByAnEntry(candidate)) return candidate;
  }
}

bool IsFirmwareFileInUse(const CString& path) {
  if (path.IsEmpty()) return false;
  CFile probe;
  CFileException error;
  if (probe.Open(path, CFile::modeRead | CFile::shareExclusive, &error)) return false;
  return error.m_cause == CFileException::sharingViolation;
}

CString FirmwarePathOfEntry(const CString& key) {
  CFirmwareList all;
  all.Enumerate(nullptr);
  for (int i = 0; i < all.GetCount(); ++i) {
    const CFirmwareEntry* entry = all.GetAt(i);
    if (entry->m_strKeyName.CompareNoCase(key) == 0) return entry->m_strFirmwarePath;
  }
  return CString();
}
