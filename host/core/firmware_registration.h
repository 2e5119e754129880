// Registering a firmware file from the command line, in every host the same way: through
// the plug-in's own Insert key on its software list and its register dialog, so that the
// checks of the file, the copy into the firmware directory and the questions stay the
// plug-in's. The catalogue's keys are read here only to list them.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "framework/uimodel.h"

namespace velmora {

struct FirmwareFile {
  std::string path;         // as the user gave it
  std::string description;  // the list item it becomes
};

// The description a file gets when none is given: its name without the extension.
std::string DescriptionOfFile(const std::string& path);

// The list item --firmware names: the item with that text (FindListChoice), else, for a
// file, the item registered under its DescriptionOfFile when that entry's file holds the
// same bytes (so that a script that names the same file twice registers it once); -1.
int FindFirmwareChoice(const std::vector<std::string>& items, const std::string& wanted);

// What --firmware names when FindFirmwareChoice finds no item: an existing regular file,
// to be registered under its DescriptionOfFile first. nullopt otherwise.
std::optional<FirmwareFile> FileToRegister(const std::vector<std::string>& items,
                                           const std::string& wanted);

// Presses Insert on the list `listId` of `page` with `file` pending, so that the register
// dialog the page opens is filled from it by the host's dialog backend (which asks
// PendingRegistration). Returns the index of the item with the file's description
// afterwards, -1 when the page did not register it (its message box said why).
int RegisterThroughList(CWnd& page, int listId, const FirmwareFile& file);

// The registration RegisterThroughList is carrying out, or null. The dialog backends
// call FillRegisterDialog with it when a modal dialog opens meanwhile.
const FirmwareFile* PendingRegistration();

// Types the description and the path into the dialog's first two fields; false when the
// dialog has no two fields (it is not the register dialog: left to the backend).
bool FillRegisterDialog(CWnd& dialog, const FirmwareFile& file);

// What the hosts print when --firmware registers a file.
std::string RegisteringText(const FirmwareFile& file);
// Why --firmware could not use a file it tried to register.
std::string NotRegisteredText(const FirmwareFile& file);

// One entry of the catalogue as the registry holds it.
struct CatalogueEntry {
  std::string key;  // the subkey's name
  std::string description;
  std::string deviceType;
  std::string path;
  bool fileExists = false;
};

// Every entry under the firmware catalogue's key, in the registry's order; empty when
// the key is missing. `error` is set when the registry cannot be read.
std::vector<CatalogueEntry> ReadCatalogue(std::string& error);

// The index in `controls` of the first visible control of `kind` (the n-th), -1 when none.
int FindControlOfKind(const std::vector<uimodel::ControlInfo>& controls, uimodel::Kind kind,
                      int nth = 0);

// The item selected in the first list box of `page` (the firmware entry a wizard page
// chose); empty when the page has no list or nothing is selected. Read before the page
// is left: the sheet destroys a page it leaves.
std::string SelectedListItem(const CWnd& page);

}  // namespace velmora
