// Message boxes, modal dialogs and file dialogs on the terminal; the wizard is in
// host_wizard.cpp.
#include "host/terminal/host_ui.h"

#include <cstdio>
#include <cstdlib>

#include "framework/uimodel.h"
#include "host/core/exit_codes.h"
#include "host/core/firmware_registration.h"
#include "host/core/message_box_text.h"
#include "host/core/text.h"
#include "host/terminal/interrupts.h"
#include "platform/window.h"

namespace velmora {

HostUi::HostUi(Console& console, UiSettings settings)
    : console_(console), settings_(std::move(settings)) {}

void HostUi::Print(const std::vector<std::string>& lines) {
  std::lock_guard lock(console_.Mutex());
  for (const std::string& line : lines) console_.PrintLine(line);
}

void HostUi::BeginRun() {
  runInterruptBase_.store(InterruptCount());
  runInProgress_.store(true);
}

void HostUi::EndRun() {
  runInProgress_.store(false);
}

int HostUi::InterruptedDuringRun() {
  const int interrupts = InterruptCount();
  if (interrupts - runInterruptBase_.load() >= 2) {
    console_.PrintLine("velmora: stopped at your request; the device may need a restart.");
    std::fflush(nullptr);
    // The worker is waiting for this answer and cannot unwind; leave without it.
    std::_Exit(kExitCancelled);
  }
  console_.PrintLine(
      "Cancel requested: the run stops after this question. "
      "Press Ctrl-C again to quit at once.");
  return interrupts;
}

int HostUi::MessageBox(const platform::MessageBoxRequest& request) {
  const int answer = ShowBox(request);
  if (settings_.boxSeen) settings_.boxSeen(request.text, ResultWord(answer));
  return answer;
}

int HostUi::ShowBox(const platform::MessageBoxRequest& request) {
  {
    std::lock_guard lock(lastBoxMutex_);
    lastBoxText_ = request.text;
  }
  std::lock_guard lock(console_.Mutex());
  // The progress bar comes back with the run's next report, below the box.
  console_.ClearTransient();
  Print(FormatBox(request));
  const UINT type = request.style & MB_TYPEMASK;
  const bool question = type == MB_YESNO || type == MB_YESNOCANCEL;
  if (question && settings_.yes) {
    console_.PrintLine("-> Yes (--yes)");
    return IDYES;
  }
  if (settings_.interactive) return AskBox(request);
  const int answer = UnattendedBoxResult(request.style, settings_.yes);
  std::string line = "-> " + ResultWord(answer);
  if (question) line += " (nobody to ask; --yes answers Yes)";
  console_.PrintLine(line);
  return answer;
}

int HostUi::AskBox(const platform::MessageBoxRequest& request) {
  int interruptsSeen = InterruptCount();
  for (;;) {
    std::string line;
    const Console::Read read =
        console_.ReadLine(FormatChoices(request.style) + " > ", line, interruptsSeen);
    if (read == Console::Read::Interrupted) {
      if (runInProgress_.load()) {
        interruptsSeen = InterruptedDuringRun();
        continue;
      }
      return UnattendedBoxResult(request.style, false);
    }
    if (read == Console::Read::End) {
      const int answer = UnattendedBoxResult(request.style, settings_.yes);
      console_.PrintLine("-> " + ResultWord(answer) + " (end of input)");
      return answer;
    }
    const int answer = ParseBoxAnswer(request.style, line);
    if (answer != 0) return answer;
    if (Trim(line).empty()) {
      console_.PrintLine("Enter does not answer Yes here: type y or n.");
      continue;
    }
    console_.PrintLine("Please answer with one of: " + FormatChoices(request.style));
  }
}

void HostUi::RunModalDialog(CDialog& dialog) {
  console_.ClearTransient();
  // A file registered from the command line fills the plug-in's own register dialog.
  if (const FirmwareFile* file = PendingRegistration(); file && FillRegisterDialog(dialog, *file)) {
    RunDialogUnattended(dialog);
    return;
  }
  if (settings_.interactive) {
    RunDialogInteractive(dialog);
  } else {
    RunDialogUnattended(dialog);
  }
}

void HostUi::RunDialogUnattended(CDialog& dialog) {
  std::lock_guard lock(console_.Mutex());
  Print(RenderDialog(DescribeDialog(dialog)));
  // Enter: what the dialog's default button does.
  console_.PrintLine("-> Enter");
  uimodel::PressEnter(dialog);
  PumpPending();
  if (!dialog.IsEnded()) {
    console_.PrintLine("-> Escape");
    uimodel::PressEscape(dialog);
  }
}

void HostUi::RunDialogInteractive(CDialog& dialog) {
  std::lock_guard lock(console_.Mutex());
  bool hintShown = false;
  int interruptsSeen = InterruptCount();
  while (!dialog.IsEnded()) {
    const DialogView view = DescribeDialog(dialog);
    Print(RenderDialog(view));
    if (!hintShown) {
      console_.PrintLine("  (" + RenderDialogHint(view) + "; Enter presses the default button)");
      hintShown = true;
    }
    std::string line;
    const Console::Read read = console_.ReadLine("> ", line, interruptsSeen);
    if (read == Console::Read::Interrupted && runInProgress_.load()) {
      interruptsSeen = InterruptedDuringRun();
      continue;
    }
    if (read != Console::Read::Line) {
      uimodel::PressEscape(dialog);
      break;
    }
    const UserCommand command = ParseUserCommand(line, view, false);
    Execute(command, dialog, view, nullptr);
    PumpPending();
  }
}

bool HostUi::RunFileDialog(CFileDialog& dialog, CString& path) {
  std::lock_guard lock(console_.Mutex());
  std::string types;
  for (const uimodel::FileFilter& filter : uimodel::FiltersOf(dialog)) {
    types += (types.empty() ? "" : ", ") + std::string(filter.description.GetString());
  }
  console_.PrintLine("--- " + std::string(dialog.GetTitle().GetString()) +
                     (types.empty() ? std::string() : " (" + types + ")") + " ---");
  if (!settings_.interactive) {
    console_.PrintLine("-> Cancel (nobody to ask)");
    return false;
  }
  const std::string initial = dialog.GetInitialFileName().GetString();
  std::string line;
  const std::string prompt = "File name" +
                             (initial.empty() ? std::string() : " [" + initial + "]") +
                             " (empty line cancels) > ";
  const Console::Read read = console_.ReadLine(prompt, line);
  if (read != Console::Read::Line || line.empty()) return false;
  path = line.c_str();
  return true;
}

bool HostUi::AskText(const ViewElement& edit, std::string& text) {
  const std::string label = edit.label.empty() ? std::string("Text") : edit.label;
  const Console::Read read =
      console_.ReadLine(label + " (now \"" + edit.text + "\"; empty line keeps it) > ", text);
  return read == Console::Read::Line && !text.empty();
}

void HostUi::Execute(const UserCommand& command, CWnd& target, const DialogView& view,
                     CPropertySheet* sheet) {
  using Kind = UserCommand::Kind;
  BOOL done = TRUE;
  switch (command.kind) {
    case Kind::Unknown:
      console_.PrintLine(command.error);
      return;
    case Kind::Help:
      console_.PrintLine("  " + RenderDialogHint(view));
      return;
    case Kind::Default:
      if (!sheet) uimodel::PressEnter(target);
      return;  // a wizard handles Enter itself
    case Kind::Cancel:
      if (sheet) {
        sheet->PressButton(PSBTN_CANCEL);
      } else {
        uimodel::PressEscape(target);
      }
      return;
    case Kind::Next:
    case Kind::Back:
    case Kind::Finish:
      return;  // wizard navigation, handled by the wizard
    case Kind::Select:
      done = uimodel::SelectItem(target, command.id, command.index);
      break;
    case Kind::Open:
      done = uimodel::DoubleClickItem(target, command.id, command.index);
      break;
    case Kind::Insert:
      done = uimodel::KeyDown(target, command.id, VK_INSERT);
      break;
    case Kind::Delete:
      done = uimodel::KeyDown(target, command.id, VK_DELETE);
      break;
    case Kind::Edit: {
      std::string text = command.text;
      if (!command.hasText) {
        const ViewElement* edit = nullptr;
        for (const ViewElement& e : view.elements) {
          if (e.kind == ViewElement::Kind::Edit && e.id == command.id) edit = &e;
        }
        if (!edit || !AskText(*edit, text)) return;
      }
      // As an edit control stops taking keys at its limit; but the whole text was given
      // at once, and a cut one would name another file.
      if (const UINT limit = FieldLimit(target, command.id); limit > 0 && text.size() > limit) {
        console_.PrintLine("The field takes at most " + std::to_string(limit) +
                           " characters; that text has " + std::to_string(text.size()) +
                           ". The field is unchanged.");
        return;
      }
      done = uimodel::TypeText(target, command.id, text.c_str());
      break;
    }
    case Kind::Press:
      done = uimodel::ClickButton(target, command.id);
      break;
  }
  if (!done) console_.PrintLine("That cannot be done here now.");
}

}  // namespace velmora
