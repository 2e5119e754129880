#include "host/core/firmware_registration.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "framework/plugin_abi.h"
#include "host/core/list_choice.h"
#include "host/core/output_guard.h"
#include "host/core/session.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/window.h"

namespace velmora {

namespace {

// Set only while RegisterThroughList presses Insert; the page opens its dialog on the
// same thread, inside that key press.
const FirmwareFile* gPending = nullptr;

std::string StringValue(HKEY key, const char* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (platform::RegQueryValueEx(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ || size == 0)
    return {};
  std::vector<char> value(size + 1, '\0');
  if (platform::RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                                &size) != ERROR_SUCCESS)
    return {};
  return value.data();
}

bool SameContents(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary);
  std::ifstream second(b, std::ios::binary);
  if (!first || !second) return false;
  return std::equal(std::istreambuf_iterator<char>(first), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(second), std::istreambuf_iterator<char>());
}

}  // namespace

std::string DescriptionOfFile(const std::string& path) {
  return std::filesystem::path(path).stem().string();
}

int FindFirmwareChoice(const std::vector<std::string>& items, const std::string& wanted) {
  const int index = FindListChoice(items, wanted);
  if (index >= 0) return index;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(wanted, ec)) return -1;
  const std::string description = DescriptionOfFile(wanted);
  const auto item = std::find(items.begin(), items.end(), description);
  if (item == items.end()) return -1;
  std::string error;
  for (const CatalogueEntry& entry : ReadCatalogue(error)) {
    if (entry.description == description && entry.fileExists &&
        SameContents(platform::ToNativePath(entry.path), wanted))
      return static_cast<int>(item - items.begin());
  }
  return -1;
}

std::optional<FirmwareFile> FileToRegister(const std::vector<std::string>& items,
                                           const std::string& wanted) {
  if (FindFirmwareChoice(items, wanted) >= 0) return std::nullopt;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(wanted, ec)) return std::nullopt;
  return FirmwareFile{wanted, DescriptionOfFile(wanted)};
}

int RegisterThroughList(CWnd& page, int listId, const FirmwareFile& file) {
  gPending = &file;
  uimodel::KeyDown(page, listId, VK_INSERT);
  gPending = nullptr;
  PumpPending();
  // The item alone does not tell: an entry of that description may have been there
  // before, and stays when the user declines to replace its file.
  std::string error;
  bool registered = false;
  for (const CatalogueEntry& entry : ReadCatalogue(error)) {
    if (entry.description == file.description && entry.fileExists &&
        SameContents(platform::ToNativePath(entry.path), file.path))
      registered = true;
  }
  if (!registered) return -1;
  for (const uimodel::ControlInfo& control : uimodel::Snapshot(page)) {
    if (control.id != listId) continue;
    for (size_t i = 0; i < control.items.size(); ++i) {
      if (control.items[i].str() == file.description) return static_cast<int>(i);
    }
  }
  return -1;
}

const FirmwareFile* PendingRegistration() {
  return gPending;
}

int FindControlOfKind(const std::vector<uimodel::ControlInfo>& controls, uimodel::Kind kind,
                      int nth) {
  for (size_t i = 1; i < controls.size(); ++i) {
    if (controls[i].kind == kind && controls[i].visible && nth-- == 0) return static_cast<int>(i);
  }
  return -1;
}

bool FillRegisterDialog(CWnd& dialog, const FirmwareFile& file) {
  const std::vector<uimodel::ControlInfo> controls = uimodel::Snapshot(dialog);
  const int description = FindControlOfKind(controls, uimodel::Kind::Edit, 0);
  const int path = FindControlOfKind(controls, uimodel::Kind::Edit, 1);
  if (description < 0 || path < 0) return false;
  uimodel::TypeText(dialog, controls[static_cast<size_t>(description)].id,
                    file.description.c_str());
  uimodel::TypeText(dialog, controls[static_cast<size_t>(path)].id, file.path.c_str());
  return true;
}

std::string RegisteringText(const FirmwareFile& file) {
  return "Registering " + file.path + " as \"" + file.description +
         "\" (Insert on the list, then the register dialog)";
}

std::string NotRegisteredText(const FirmwareFile& file) {
  return file.path + " was not registered as \"" + file.description + "\"";
}

std::vector<CatalogueEntry> ReadCatalogue(std::string& error) {
  std::vector<CatalogueEntry> entries;
  platform::RegKey catalogue;
  const LONG opened =
      platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kFirmwareKeyPath, 0, KEY_READ, catalogue.put());
  if (opened == ERROR_FILE_NOT_FOUND) return entries;
  if (opened != ERROR_SUCCESS) {
    error = "cannot read HKEY_LOCAL_MACHINE\\" + std::string(kFirmwareKeyPath) +
            ": registry error " + ErrorText(opened);
    return entries;
  }
  for (DWORD index = 0;; ++index) {
    char name[256] = {};
    DWORD length = sizeof name;
    const LONG result = platform::RegEnumKeyEx(catalogue.get(), index, name, &length, nullptr,
                                               nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) continue;
    platform::RegKey entryKey;
    if (platform::RegOpenKeyEx(catalogue.get(), name, 0, KEY_READ, entryKey.put()) != ERROR_SUCCESS)
      continue;
    CatalogueEntry entry;
    entry.key = name;
    entry.description = StringValue(entryKey.get(), "Description");
    entry.deviceType = StringValue(entryKey.get(), "DeviceType");
    entry.path = StringValue(entryKey.get(), "FirmwarePath");
    std::error_code ec;
    entry.fileExists = !entry.path.empty() &&
                       std::filesystem::is_regular_file(platform::ToNativePath(entry.path), ec);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string SelectedListItem(const CWnd& page) {
  for (const uimodel::ControlInfo& control : uimodel::Snapshot(page)) {
    if (control.kind != uimodel::Kind::ListBox) continue;
    if (control.selection < 0 ||
        static_cast<std::size_t>(control.selection) >= control.items.size())
      return {};
    return control.items[static_cast<std::size_t>(control.selection)].str();
  }
  return {};
}

}  // namespace velmora
