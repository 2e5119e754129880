// The wizard on the terminal: the active page shown as text with Back, Next, Finish and
// Cancel, either asked of the user or filled from the page inputs.
#include <algorithm>
#include <optional>

#include "framework/uimodel.h"
#include "host/core/firmware_registration.h"
#include "host/core/list_choice.h"
#include "host/core/text.h"
#include "host/terminal/host_ui.h"
#include "host/terminal/interrupts.h"
#include "platform/window.h"

namespace velmora {

namespace {

// What a page asked for with PSM_SETWIZBUTTONS; a page that never said gets Back and
// Next, as a wizard starts out.
DWORD WizardButtons(const CPropertySheet& sheet) {
  const DWORD flags = sheet.GetWizardButtons();
  return flags != 0 ? flags : (PSWIZB_BACK | PSWIZB_NEXT);
}

bool OffersFinish(DWORD flags) {
  return (flags & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH)) == PSWIZB_FINISH;
}

std::string NavigationLine(const CPropertySheet& sheet) {
  const DWORD flags = WizardButtons(sheet);
  std::string line = "  ";
  if ((flags & PSWIZB_BACK) && sheet.GetActiveIndex() > 0) line += "[b] Back  ";
  const bool finish = OffersFinish(flags);
  if (finish) {
    line += "[f] Finish  ";
  } else if (flags & PSWIZB_NEXT) {
    line += "[n] Next  ";
  }
  line += "[c] Cancel";
  line += finish ? "   (Enter: Finish)" : "   (Enter: Next)";
  return line;
}

std::string PageHeading(const CPropertySheet& sheet) {
  return "(page " + std::to_string(sheet.GetActiveIndex() + 1) + " of " +
         std::to_string(sheet.GetPageCount()) + ")";
}

// The sheet's active page as it is shown: described, and rendered with the page heading
// on its first line.
struct ShownPage {
  CPropertyPage* page;
  DialogView view;
  std::vector<std::string> lines;
};

// The active page shown, or, with no active page, nullopt after cancelling the sheet.
std::optional<ShownPage> ShowActivePage(CPropertySheet& sheet) {
  CPropertyPage* page = sheet.GetActivePage();
  if (!page) {
    sheet.PressButton(PSBTN_CANCEL);
    return std::nullopt;
  }
  ShownPage shown{page, DescribeDialog(*page), {}};
  shown.lines = RenderDialog(shown.view);
  if (!shown.lines.empty()) shown.lines.front() += " " + PageHeading(sheet);
  return shown;
}

}  // namespace

UINT FieldLimit(CWnd& dialog, int id) {
  CWnd* control = dialog.GetDlgItem(id);
  return control ? static_cast<CEdit*>(control)->GetLimitText() : 0;
}

void HostUi::RunWizard(CPropertySheet& sheet) {
  wizardEnd_ = WizardEnd::Cancelled;
  wizardProblem_.clear();
  fieldText_.clear();
  listText_.clear();
  // What the start page posted (its wizard buttons) arrives before anything is shown.
  PumpPending();
  if (settings_.interactive) {
    RunWizardInteractive(sheet);
  } else {
    RunWizardUnattended(sheet);
  }
  if (sheet.IsFinished()) wizardEnd_ = WizardEnd::Finished;
}

void HostUi::RunWizardInteractive(CPropertySheet& sheet) {
  const int interruptsBefore = InterruptCount();
  CPropertyPage* hinted = nullptr;
  while (!sheet.IsEnded()) {
    std::optional<ShownPage> shown = ShowActivePage(sheet);
    if (!shown) break;
    CPropertyPage* const page = shown->page;
    const DialogView& view = shown->view;
    std::vector<std::string>& lines = shown->lines;
    lines.push_back(NavigationLine(sheet));
    if (hinted != page) {
      const std::string hint = RenderDialogHint(view);
      if (!hint.empty()) lines.push_back("  (" + hint + ")");
      hinted = page;
    }
    Print(lines);

    std::string line;
    // A Ctrl-C at any moment of the wizard, even while a page was being drawn, cancels.
    const Console::Read read = console_.ReadLine("> ", line, interruptsBefore);
    if (read != Console::Read::Line) {
      sheet.PressButton(PSBTN_CANCEL);
      break;
    }
    const UserCommand command = ParseUserCommand(line, view, true);
    const DWORD flags = WizardButtons(sheet);
    switch (command.kind) {
      case UserCommand::Kind::Default:
      case UserCommand::Kind::Next:
      case UserCommand::Kind::Finish:
        // Where Finish is offered it takes the place of Next, as on a wizard's last page.
        if (OffersFinish(flags)) {
          sheet.PressButton(PSBTN_FINISH);
        } else if (command.kind == UserCommand::Kind::Finish || !(flags & PSWIZB_NEXT)) {
          console_.PrintLine("That button is not offered on this page.");
        } else {
          if (const ViewElement* edit = view.FirstEdit()) fieldText_ = edit->text;
          if (view.FirstList()) listText_ = SelectedListItem(*page);
          sheet.PressButton(PSBTN_NEXT);
        }
        break;
      case UserCommand::Kind::Back:
        if ((flags & PSWIZB_BACK) && sheet.GetActiveIndex() > 0) {
          sheet.PressButton(PSBTN_BACK);
        } else {
          console_.PrintLine("There is no way back from this page.");
        }
        break;
      default:
        Execute(command, *page, view, &sheet);
        break;
    }
    PumpPending();
    if (InterruptCount() != interruptsBefore && !sheet.IsEnded()) {
      sheet.PressButton(PSBTN_CANCEL);
      break;
    }
  }
}

bool HostUi::FillPage(CPropertyPage& page, const DialogView& view) {
  // A list is a choice the script must make: what the page preselects may be anything.
  if (!settings_.listChoice && view.FirstList()) {
    const ViewElement* list = view.FirstList();
    wizardEnd_ = WizardEnd::BadInput;
    wizardProblem_ = ListChoiceNeeded(view.caption, list->label);
    return false;
  }
  if (settings_.listChoice) {
    if (const ViewElement* list = view.FirstList()) {
      const std::string& wanted = *settings_.listChoice;
      int index = FindFirmwareChoice(list->items, wanted);
      std::string chosen = index >= 0 ? list->items[static_cast<size_t>(index)] : std::string();
      if (const std::optional<FirmwareFile> file = FileToRegister(list->items, wanted)) {
        console_.PrintLine("-> " + RegisteringText(*file));
        index = RegisterThroughList(page, list->id, *file);
        chosen = file->description;
        if (index < 0) {
          wizardEnd_ = WizardEnd::BadInput;
          wizardProblem_ = "--firmware: " + NotRegisteredText(*file);
          return false;
        }
      }
      if (index < 0) {
        wizardEnd_ = WizardEnd::BadInput;
        wizardProblem_ = NotInList(wanted, list->label, list->items.empty());
        return false;
      }
      console_.PrintLine("-> selects \"" + chosen + "\"");
      uimodel::SelectItem(page, list->id, index);
      listUsed_ = true;
    }
  }
  if (settings_.editText) {
    if (const ViewElement* edit = view.FirstEdit()) {
      console_.PrintLine("-> " + (edit->label.empty() ? std::string("field") : edit->label) +
                         ": \"" + *settings_.editText + "\"");
      // A field that would cut the text refuses it here, before Next acts on the cut name.
      if (const UINT limit = FieldLimit(page, edit->id);
          limit > 0 && settings_.editText->size() > limit) {
        wizardEnd_ = WizardEnd::BadInput;
        wizardProblem_ = FieldTooShort("--log-file", edit->label, limit, *settings_.editText);
        return false;
      }
      uimodel::TypeText(page, edit->id, settings_.editText->c_str());
      editUsed_ = true;
      fieldText_ = *settings_.editText;
    }
  }
  PumpPending();
  return true;
}

void HostUi::RunWizardUnattended(CPropertySheet& sheet) {
  listUsed_ = false;
  editUsed_ = false;
  while (!sheet.IsEnded()) {
    std::optional<ShownPage> shown = ShowActivePage(sheet);
    if (!shown) break;
    CPropertyPage* const page = shown->page;
    const DialogView& view = shown->view;
    std::vector<std::string>& lines = shown->lines;
    Print(lines);
    const DWORD flags = WizardButtons(sheet);
    if (OffersFinish(flags)) {
      std::string unused;
      if (settings_.listChoice && !listUsed_)
        unused = "--firmware: no page of this operation has a list to choose from";
      if (settings_.editText && !editUsed_)
        unused = "--log-file: no page of this operation has a field for it";
      if (!unused.empty()) {
        wizardEnd_ = WizardEnd::BadInput;
        wizardProblem_ = unused;
        sheet.PressButton(PSBTN_CANCEL);
        break;
      }
      console_.PrintLine("-> Finish");
      sheet.PressButton(PSBTN_FINISH);
      PumpPending();
      continue;
    }
    if (!FillPage(*page, view)) {
      sheet.PressButton(PSBTN_CANCEL);
      break;
    }
    {
      std::lock_guard lock(lastBoxMutex_);
      lastBoxText_.clear();
    }
    if (view.FirstList()) listText_ = SelectedListItem(*page);
    console_.PrintLine("-> Next");
    sheet.PressButton(PSBTN_NEXT);
    PumpPending();
    if (!sheet.IsEnded() && sheet.GetActivePage() == page) {
      wizardEnd_ = WizardEnd::Refused;
      std::lock_guard lock(lastBoxMutex_);
      wizardProblem_ = "the page \"" + view.caption + "\" did not accept Next" +
                       (lastBoxText_.empty() ? std::string() : ": " + lastBoxText_);
      break;
    }
  }
  if (wizardEnd_ == WizardEnd::Refused && !sheet.IsEnded()) sheet.PressButton(PSBTN_CANCEL);
}

}  // namespace velmora
