// The desktop's UI backend: message boxes, file dialogs, the plug-in's modal dialogs and
// the wizard as Qt windows on the GUI thread.
//
// Pages and the dialogs they open live on the GUI thread, so what the user does runs
// against the model at once. A run's dialogs (the configuration dialog) and message
// boxes come from the run's worker thread: the worker keeps its dialog's model and runs
// the user's actions, while the GUI thread shows it and goes on serving the host window.
//
// With `unattended` nothing is asked: pages are filled from the page inputs and Next is
// pressed, OK boxes are taken, questions are answered No unless `yes`, dialogs are
// closed with Enter. A page with a list needs the firmware input: what the list happens
// to preselect is no choice. A firmware input that names an existing file no list item
// shows is registered first, through the page's Insert key and the dialog it opens.
#pragma once
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "framework/afxwin.h"
#include "framework/uimodel.h"

namespace velmora::desktop {

class Screenshots;
class WizardWindow;

struct GuiSettings {
  bool unattended = false;
  bool yes = false;
  std::optional<std::string> listChoice;  // --firmware
  std::optional<std::string> editText;    // --log-file
};

class GuiBackend : public uimodel::Backend {
 public:
  GuiBackend(GuiSettings settings, Screenshots* screenshots);

  int MessageBox(const platform::MessageBoxRequest& request) override;
  void RunModalDialog(CDialog& dialog) override;
  bool RunFileDialog(CFileDialog& dialog, CString& path) override;
  void RunWizard(CPropertySheet& sheet) override;
  void SetWaitCursor(bool on) override;

  // Why an unattended wizard stopped short (empty when it did not).
  const std::string& WizardProblem() const { return wizardProblem_; }
  // What the page's field held when the wizard went on from it (the log file a dump
  // writes); empty when no page had one.
  const std::string& FieldText() const { return fieldText_; }
  // The list item selected when the wizard went on from a page with a list (the
  // firmware entry an upgrade programs); empty when no page had one.
  const std::string& ListText() const { return listText_; }
  // Told of every message box's text before it is shown (the service record keeps a
  // failure box's number); called on the thread that asked for the box.
  std::function<void(const std::string&)> onBox;
  // The window that owns the boxes and dialogs (the start or run window). While the
  // wizard or a dialog of a page is open, that window owns what it opens in turn.
  void SetOwnerWindow(QWidget* owner) { owner_ = owner; }
  QWidget* ownerWindow() const { return owner_; }
  // Called with each top-level window the backend shows (the tests drive them).
  std::function<void(QWidget*)> onWindowShown;

 private:
  int ShowBox(const platform::MessageBoxRequest& request);
  void RunDialogHere(CDialog& dialog);
  void RunDialogForWorker(CDialog& dialog);

  GuiSettings settings_;
  Screenshots* screenshots_;
  QWidget* owner_ = nullptr;
  std::string wizardProblem_;
  std::string fieldText_;
  WizardWindow* wizard_ = nullptr;  // the wizard while it is open
  std::string listText_;
};

// True on the thread that runs the Qt event loop.
bool OnGuiThread();

}  // namespace velmora::desktop
