// The wizard on the terminal: the active page shown as text with Back, Next, Finish and
// Cancel, either asked of the user or filled from the page inputs.
#include <algorithm>
#include <optional>

#include "framework/uimodel.h"
#include "host/core/firmware_registration.h"
#include "host/core/list_choice.h"
#include "host/core/text.h"
#include "host/core/unattended_pages.h"
#include "host/terminal/host_ui.h"
#include "host/terminal/interrupts.h"
#include "platform/window.h"

namespace velmora {

namespace {

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

// A page as it is shown: rendered with the page heading on its first line.
std::vector<std::string> PageLines(const CPropertySheet& sheet, const DialogView& view) {
  std::vector<std::string> lines = RenderDialog(view);
  if (!lines.empty()) lines.front() += " " + PageHeading(sheet);
  return lines;
}

// The sheet's active page as it is shown: described, and rendered.
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
  shown.lines = PageLines(sheet, shown.view);
  return shown;
}

}  // namespace

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

void HostUi::RunWizardUnattended(CPropertySheet& sheet) {
  // What the unattended wizard does, printed as it goes, with the page before it.
  class Printed final : public UnattendedView {
   public:
    explicit Printed(HostUi& ui) : ui_(ui) {}
    void PageShown(CPropertySheet& sheet, CPropertyPage& page) override {
      ui_.Print(PageLines(sheet, DescribeDialog(page)));
    }
    void Registering(const FirmwareFile& file) override {
      ui_.console_.PrintLine("-> " + RegisteringText(file));
    }
    void Selected(const std::string& item) override {
      ui_.console_.PrintLine("-> selects \"" + item + "\"");
    }
    void Typed(const std::string& label, const std::string& text) override {
      ui_.console_.PrintLine("-> " + (label.empty() ? std::string("field") : label) + ": \"" +
                             text + "\"");
    }
    void Pressing(int button) override {
      // A box shown from here on is the page's answer to the button; none from filling it.
      {
        std::lock_guard lock(ui_.lastBoxMutex_);
        ui_.lastBoxText_.clear();
      }
      ui_.console_.PrintLine(button == PSBTN_FINISH ? "-> Finish" : "-> Next");
    }
    std::string Stayed(const std::string& caption, int button) override {
      std::lock_guard lock(ui_.lastBoxMutex_);
      return NextRefusedText(caption, button, ui_.lastBoxText_);
    }

   private:
    HostUi& ui_;
  } printed(*this);
  const UnattendedEnd end =
      DriveUnattended(sheet, PageInputs{settings_.listChoice, settings_.editText}, printed);
  switch (end.kind) {
    case UnattendedEnd::Kind::Finished:
    case UnattendedEnd::Kind::Cancelled:
      break;
    case UnattendedEnd::Kind::Refused:
      wizardEnd_ = WizardEnd::Refused;
      break;
    case UnattendedEnd::Kind::BadInput:
      wizardEnd_ = WizardEnd::BadInput;
      break;
  }
  wizardProblem_ = end.problem;
  fieldText_ = end.fieldText;
  listText_ = end.listText;
}

}  // namespace velmora
