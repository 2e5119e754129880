// The host's UI backend on the terminal. Message boxes, dialogs, file dialogs and the
// wizard are shown as text (see dialog_view.h) and either asked of the user or, when
// nobody can be asked, answered the way a script wants: pages are filled from the
// command line's page inputs and Next is pressed, OK boxes are taken, questions are
// answered No unless --yes.
//
// Threads: the wizard and its boxes run on the main thread; during a run, message boxes
// and dialogs come from the run's worker thread. Everything they print and read holds
// the console, so they never interleave with the progress display.
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "framework/afxwin.h"
#include "framework/uimodel.h"
#include "host/core/session.h"
#include "host/core/unattended_pages.h"  // FieldLimit
#include "host/terminal/console.h"
#include "host/terminal/dialog_view.h"

namespace velmora {

struct UiSettings {
  bool interactive = false;               // ask the user
  bool yes = false;                       // questions are answered Yes without asking
  std::optional<std::string> listChoice;  // the list item to select (--firmware)
  std::optional<std::string> editText;    // the text for the edit control (--log-file)
  // Told of every message box and the answer taken (velmora run --json).
  std::function<void(const std::string& text, const std::string& answer)> boxSeen;
};

class HostUi final : public uimodel::Backend {
 public:
  enum class WizardEnd { Finished, Cancelled, Refused, BadInput };

  HostUi(Console& console, UiSettings settings);

  int MessageBox(const platform::MessageBoxRequest& request) override;
  void RunModalDialog(CDialog& dialog) override;
  bool RunFileDialog(CFileDialog& dialog, CString& path) override;
  void RunWizard(CPropertySheet& sheet) override;

  // From here on Ctrl-C belongs to the run: the first asks it to cancel; a second one
  // while a message box waits for an answer ends the program.
  void BeginRun();
  void EndRun();

  WizardEnd LastWizardEnd() const { return wizardEnd_; }
  // Why an unattended wizard stopped (Refused, BadInput).
  const std::string& WizardProblem() const { return wizardProblem_; }
  // What the page's field held when the wizard went on from it (the log file a dump
  // writes); empty when no page had one.
  const std::string& FieldText() const { return fieldText_; }
  // The list item selected when the wizard went on from a page with a list (the
  // firmware entry an upgrade programs); empty when no page had one.
  const std::string& ListText() const { return listText_; }

 private:
  void Print(const std::vector<std::string>& lines);
  int ShowBox(const platform::MessageBoxRequest& request);
  int AskBox(const platform::MessageBoxRequest& request);
  void RunDialogInteractive(CDialog& dialog);
  void RunDialogUnattended(CDialog& dialog);
  void RunWizardInteractive(CPropertySheet& sheet);
  void RunWizardUnattended(CPropertySheet& sheet);
  // Carries out a typed command on a dialog or a page (sheet given for pages).
  void Execute(const UserCommand& command, CWnd& target, const DialogView& view,
               CPropertySheet* sheet);
  // Asks for an edit control's new text; false when the user gave up.
  bool AskText(const ViewElement& edit, std::string& text);
  // Ctrl-C while reading during a run: a second one since the run began ends the
  // program. Returns the count it acted on, for the next read to start from.
  int InterruptedDuringRun();

  Console& console_;
  UiSettings settings_;
  std::atomic<bool> runInProgress_{false};
  std::atomic<int> runInterruptBase_{0};
  WizardEnd wizardEnd_ = WizardEnd::Cancelled;
  std::string wizardProblem_;
  std::string fieldText_;
  std::string listText_;
  std::mutex lastBoxMutex_;
  std::string lastBoxText_;
};

}  // namespace velmora
