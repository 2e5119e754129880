// The host's catalogue of firmware files in the registry, and the list of its entries
// that the software selection page shows. The list is a snapshot: additions and
// removals go to the registry and show at the next Enumerate.
#pragma once
#include "catalogue/firmware_entry.h"
#include "framework/afx.h"
#include "framework/plugin_abi.h"

class CFirmwareList {
 public:
  CFirmwareList() = default;
  ~CFirmwareList();
  CFirmwareList(const CFirmwareList&) = delete;
  CFirmwareList& operator=(const CFirmwareList&) = delete;

  // Rebuilds the list from the registry, in the registry's order, with the entries whose
  // device type equals the filter exactly (all entries without one). Invalid entry
  // subkeys of any device type are deleted on the way.
  void Enumerate(LPCTSTR deviceTypeFilter = nullptr);
  int GetCount() const { return m_nCount; }
  // Null outside 0 to count - 1.
  CFirmwareEntry* GetAt(int position) const;
  void Clear();

  // Stores one entry; fails with error 0 when its file does not exist, else with the
  // registry's error code. The list is not changed.
  static bool AddToRegistry(CFirmwareEntry& entry, LONG& error);
  // Deletes one entry's subkey; the list is not changed.
  static bool RemoveFromRegistry(LPCTSTR keyName, LONG& error);

 private:
  int m_nCount = 0;
  CPtrArray m_entries;  // owned CFirmwareEntry objects
};
