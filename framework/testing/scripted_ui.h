// A UI backend for tests: it records what the code under test shows (message boxes,
// dialogs with their visible controls, file dialogs, wizards, the wait cursor) and plays
// the user from scripts and answer queues. Safe to use from several threads: message
// boxes may come from a run's worker thread while the test thread inspects.
#pragma once
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "framework/afxwin.h"
#include "framework/uimodel.h"

class ScriptedUi : public uimodel::Backend {
 public:
  struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
    int answer;
    std::thread::id thread;
  };

  struct ShownDialog {
    UINT templateId;
    CString caption;
    std::vector<uimodel::ControlInfo> controls;  // as the dialog opened, after initialisation
    int result = IDCANCEL;                 // after the script
    std::thread::id thread;

    // The entry of the control with that id (the first one), or null.
    const uimodel::ControlInfo* Find(int id) const;
    // Ids of visible buttons (push buttons, not group boxes), in creation order.
    std::vector<int> VisibleButtons() const;
  };

  struct FileRequest {
    BOOL open;
    CString defExt;
    CString initialName;
    DWORD flags;
    std::vector<uimodel::FileFilter> filters;
    HWND owner;
    CString title;
  };

  using DialogScript = std::function<void(CDialog&)>;
  using WizardScript = std::function<void(CPropertySheet&)>;

  // Message boxes. Queued answers are used first, in order; then OK-type boxes answer
  // IDOK (IDOK for OK/Cancel too), questions the question answer (IDNO unless set),
  // anything else IDCANCEL.
  void QueueAnswer(int answer);
  void SetQuestionAnswer(int answer);
  std::vector<Box> Boxes() const;
  std::size_t BoxCount() const;
  // The last box; an empty one (answer 0) when there is none.
  Box LastBox() const;
  void ClearBoxes();

  // Modal dialogs. For each dialog shown the backend runs, in this order of preference: a
  // queued one-shot script for its template, the persistent script of its template, a
  // queued one-shot script for any template, else it presses Escape.
  void OnDialog(UINT templateId, DialogScript script);
  void QueueDialog(UINT templateId, DialogScript script);
  void QueueAnyDialog(DialogScript script);
  std::vector<ShownDialog> Dialogs() const;
  std::size_t DialogCount() const;

  // File dialogs answer from a queue: a path (as a user would type it), or Cancel. An
  // empty queue cancels.
  void QueueFile(const CString& path);
  void QueueFileCancel();
  std::vector<FileRequest> FileRequests() const;

  // Wizards: the script navigates; without one the wizard is cancelled.
  void OnWizard(WizardScript script);

  // Wait cursor: the current state and every change, in order.
  bool WaitCursorShown() const;
  std::vector<bool> WaitCursorChanges() const;

  // uimodel::Backend
  int MessageBox(const platform::MessageBoxRequest& request) override;
  void RunModalDialog(CDialog& dialog) override;
  bool RunFileDialog(CFileDialog& dialog, CString& path) override;
  void RunWizard(CPropertySheet& sheet) override;
  void SetWaitCursor(bool on) override;

 private:
  DialogScript TakeScript(UINT templateId);

  mutable std::mutex mutex_;
  std::deque<int> answers_;
  int questionAnswer_ = IDNO;
  std::vector<Box> boxes_;
  std::map<UINT, std::deque<DialogScript>> queuedDialogs_;
  std::map<UINT, DialogScript> dialogScripts_;
  std::deque<DialogScript> anyDialogs_;
  std::vector<ShownDialog> dialogs_;
  std::deque<std::optional<CString>> files_;
  std::vector<FileRequest> fileRequests_;
  WizardScript wizard_;
  bool waitCursor_ = false;
  std::vector<bool> waitChanges_;
};
