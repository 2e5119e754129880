// velmora firmware add|list|remove: the firmware catalogue from the command line. Adding
// and removing go through the plug-in's own software list (Insert and its register
// dialog, Delete and its question), so that the checks, the copy rules and the questions
// are the ones a user meets in the wizard.
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "framework/uimodel.h"
#include "host/core/exit_codes.h"
#include "host/core/firmware_registration.h"
#include "host/core/host_module.h"
#include "host/core/install_settings.h"
#include "host/core/list_choice.h"
#include "host/core/plugin_library.h"
#include "host/core/session.h"
#include "host/terminal/commands.h"
#include "host/terminal/host_ui.h"
#include "platform/files.h"
#include "platform/window.h"

namespace velmora {

namespace {

// What an action on the software list found: the page and its list control.
struct SoftwareList {
  CPropertyPage& page;
  int listId;
  std::vector<std::string> items;
};
using ListAction = std::function<int(SoftwareList&)>;

// The terminal's boxes and dialogs, with a wizard that only finds the software list,
// hands it to the action and cancels. Remembers whether a question was answered No.
class CatalogueUi final : public uimodel::Backend {
 public:
  CatalogueUi(Console& console, UiSettings settings, ListAction action)
      : ui_(console, std::move(settings)), action_(std::move(action)) {}

  int MessageBox(const platform::MessageBoxRequest& request) override {
    const int answer = ui_.MessageBox(request);
    if (answer == IDNO || answer == IDCANCEL) declined_ = true;
    return answer;
  }
  void RunModalDialog(CDialog& dialog) override { ui_.RunModalDialog(dialog); }
  bool RunFileDialog(CFileDialog& dialog, CString& path) override {
    return ui_.RunFileDialog(dialog, path);
  }
  void RunWizard(CPropertySheet& sheet) override {
    PumpPending();
    if (CPropertyPage* page = sheet.GetActivePage()) {
      const std::vector<uimodel::ControlInfo> controls = uimodel::Snapshot(*page);
      const int list = FindControlOfKind(controls, uimodel::Kind::ListBox);
      if (list >= 0) {
        const uimodel::ControlInfo& control = controls[static_cast<size_t>(list)];
        SoftwareList found{*page, control.id, {}};
        for (const CString& item : control.items) found.items.push_back(item.str());
        foundList_ = true;
        status_ = action_(found);
      }
    }
    if (!sheet.IsEnded()) sheet.PressButton(PSBTN_CANCEL);
  }

  bool FoundList() const { return foundList_; }
  bool Declined() const { return declined_; }
  int Status() const { return status_; }

 private:
  HostUi ui_;
  ListAction action_;
  bool foundList_ = false;
  bool declined_ = false;
  int status_ = kExitFailed;
};

// Runs `action` on the plug-in's software list: the first page, among the operations',
// that has a list. Returns the action's status, or why there was none.
int OnSoftwareList(const FirmwareOptions& options, Console& console, ListAction action) {
  if (!RegistryUsable()) return kExitUsage;
  int status = kExitFailed;
  std::string error;
  std::unique_ptr<PluginLibrary> plugin = LoadPlugin(options.plugin, error, status);
  if (!plugin) {
    Complain(error);
    return status;
  }
  RegisterHostModule();
  const InstallReport report = EnsureInstallSettings(DefaultDataDirectory());
  if (!report.problem.empty()) Complain("warning: " + report.problem);
  if (report.wroteInstallDirectory)
    console.PrintLine("First run: Velmora keeps its files in " + report.installDirectory);

  UiSettings settings;
  settings.interactive = console.InputIsTerminal() && !options.yes;
  settings.yes = options.yes;
  auto ui = std::make_shared<CatalogueUi>(console, settings, std::move(action));
  uimodel::BackendScope backendScope(ui);
  for (int op = 0; op < plugin->OperationCount() && !ui->FoundList(); ++op) {
    const int pages = plugin->PageCount(op);
    if (pages == 0) continue;
    CPropertySheet sheet("Velmora");
    for (int p = 0; p < pages; ++p) {
      if (CPropertyPage* page = plugin->Page(op, p)) sheet.AddPage(page);
    }
    sheet.SetWizardMode();
    sheet.DoModal();
  }
  if (!ui->FoundList()) {
    Complain("the plug-in " + options.plugin + " has no page with a software list");
    return kExitFailed;
  }
  if (ui->Status() != kExitSucceeded && ui->Declined()) return kExitCancelled;
  return ui->Status();
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace

int FirmwareAddCommand(const FirmwareOptions& options, Console& console) {
  FirmwareFile file{options.file, options.description.value_or(DescriptionOfFile(options.file))};
  return OnSoftwareList(options, console, [&](SoftwareList& list) {
    console.PrintLine(RegisteringText(file));
    if (RegisterThroughList(list.page, list.listId, file) < 0) {
      Complain(NotRegisteredText(file));
      return kExitFailed;
    }
    std::string error;
    std::string copy;
    for (const CatalogueEntry& entry : ReadCatalogue(error)) {
      if (entry.description == file.description) copy = platform::ToNativePath(entry.path);
    }
    console.PrintLine("Registered " + Quoted(file.description) +
                      (copy.empty() ? std::string() : ": " + copy));
    return kExitSucceeded;
  });
}

int FirmwareRemoveCommand(const FirmwareOptions& options, Console& console) {
  const std::string wanted = options.description.value_or(std::string());
  // The plug-in's list drops an entry whose file is gone as soon as it is shown.
  std::string error;
  std::optional<CatalogueEntry> fileless;
  for (const CatalogueEntry& entry : ReadCatalogue(error)) {
    if (!entry.fileExists && FindListChoice({entry.description}, wanted) == 0) fileless = entry;
  }
  return OnSoftwareList(options, console, [&](SoftwareList& list) {
    const int index = FindListChoice(list.items, wanted);
    if (index < 0 && fileless) {
      std::string left;
      for (const CatalogueEntry& entry : ReadCatalogue(error)) {
        if (entry.key == fileless->key) left = entry.key;
      }
      if (left.empty()) {
        console.PrintLine("Removed " + Quoted(fileless->description) + ": its file " +
                          platform::ToNativePath(fileless->path) +
                          " was missing, and the software list drops such an entry.");
        return kExitSucceeded;
      }
    }
    if (index < 0) {
      Complain(NotInList(wanted, "", list.items.empty()));
      return kExitUsage;
    }
    const std::string description = list.items[static_cast<size_t>(index)];
    uimodel::SelectItem(list.page, list.listId, index);
    uimodel::KeyDown(list.page, list.listId, VK_DELETE);
    PumpPending();
    for (const uimodel::ControlInfo& control : uimodel::Snapshot(list.page)) {
      if (control.id != list.listId) continue;
      for (const CString& item : control.items) {
        if (item.str() == description) {
          console.PrintLine(Quoted(description) + " was not removed.");
          return kExitFailed;
        }
      }
    }
    console.PrintLine("Removed " + Quoted(description) + ".");
    return kExitSucceeded;
  });
}

int FirmwareListCommand(Console& console) {
  if (!RegistryUsable()) return kExitUsage;
  std::string error;
  const std::vector<CatalogueEntry> entries = ReadCatalogue(error);
  if (!error.empty()) {
    Complain(error);
    return kExitFailed;
  }
  if (entries.empty()) {
    console.PrintLine("No firmware is registered (velmora firmware add FILE registers one).");
    return kExitSucceeded;
  }
  size_t width = 0;
  for (const CatalogueEntry& entry : entries) width = std::max(width, entry.description.size());
  for (const CatalogueEntry& entry : entries) {
    std::string line = entry.description;
    line.resize(width, ' ');
    line += "  " + platform::ToNativePath(entry.path);
    if (!entry.fileExists) line += "  (file missing: the upgrade's list drops the entry)";
    console.PrintLine(line);
  }
  return kExitSucceeded;
}

}  // namespace velmora
