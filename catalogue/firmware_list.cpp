#include "catalogue/firmware_list.h"

#include <vector>

#include "catalogue/catalogue_lock.h"
#include "catalogue/registry_values.h"

namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;
// Windows key names are at most 255 characters.
constexpr DWORD kKeyNameBuffer = 260;

LONG OpenFirmwareKey(platform::RegKey& key) {
  return platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kFirmwareKeyPath, 0, kReadWrite, key.put());
}

// The subkey names in registry order, up to the first index the registry cannot name.
std::vector<CString> ReadSubkeyNames(HKEY key) {
  std::vector<CString> names;
  for (DWORD index = 0;; ++index) {
    char name[kKeyNameBuffer];
    DWORD length = kKeyNameBuffer;
    if (platform::RegEnumKeyEx(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, static_cast<int>(length));
  }
  return names;
}

}  // namespace

CFirmwareList::~CFirmwareList() {
  Clear();
}

CFirmwareEntry* CFirmwareList::GetAt(int position) const {
  if (position < 0 || position >= m_nCount) return nullptr;
  return static_cast<CFirmwareEntry*>(m_entries.GetAt(position));
}

void CFirmwareList::Clear() {
  for (int i = 0; i < m_entries.GetSize(); ++i)
    delete static_cast<CFirmwareEntry*>(m_entries.GetAt(i));
  m_entries.RemoveAll();
  m_nCount = 0;
}

// Works through a snapshot of the subkey names rather than index by index: deleting an
// invalid entry then moves nothing under the walk, and one that cannot be deleted is
// simply passed, so the walk always ends.
void CFirmwareList::Enumerate(LPCTSTR deviceTypeFilter) {
  Clear();
  const CCatalogueLock lock;
  platform::RegKey firmware;
  if (OpenFirmwareKey(firmware) != ERROR_SUCCESS) return;

  for (const CString& name : ReadSubkeyNames(firmware.get())) {
    platform::RegKey subkey;
    if (platform::RegOpenKeyEx(firmware.get(), name, 0, KEY_READ, subkey.put()) != ERROR_SUCCESS)
      continue;
    if (!CFirmwareEntry::IsValidEntryKey(subkey.get())) {
      subkey.Close();
      LONG ignored = ERROR_SUCCESS;
      RemoveFromRegistry(name, ignored);
      continue;
    }
    auto* entry = new CFirmwareEntry;
    if (!entry->Load(name, subkey.get()) ||
        (deviceTypeFilter && entry->m_strDeviceType.Compare(deviceTypeFilter) != 0)) {
      delete entry;
      continue;
    }
    m_entries.Add(entry);
    ++m_nCount;
  }
}

bool CFirmwareList::AddToRegistry(CFirmwareEntry& entry, LONG& error) {
  if (!FileExists(entry.m_strFirmwarePath)) {
    error = 0;
    return false;
  }
  const CCatalogueLock lock;
  platform::RegKey firmware;
  error = OpenFirmwareKey(firmware);
  if (error != ERROR_SUCCESS) return false;
  return entry.Save(firmware.get(), error);
}

bool CFirmwareList::RemoveFromRegistry(LPCTSTR keyName, LONG& error) {
  const CCatalogueLock lock;
  platform::RegKey firmware;
  error = OpenFirmwareKey(firmware);
  if (error != ERROR_SUCCESS) return false;
  error = platform::RegDeleteKey(firmware.get(), keyName);
  return error == ERROR_SUCCESS;
}
