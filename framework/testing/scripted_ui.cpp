// The scripted UI backend: recording and answering. Scripts run without the lock held,
// since they show further boxes and dialogs.
#include "framework/testing/scripted_ui.h"
#include "framework/uimodel.h"

#include <algorithm>

const uimodel::ControlInfo* ScriptedUi::ShownDialog::Find(int id) const {
  const int wanted = id & 0xFFFF;
  for (const auto& control : controls) {
    if (control.id == wanted && control.kind != uimodel::Kind::Dialog) return &control;
  }
  return nullptr;
}

std::vector<int> ScriptedUi::ShownDialog::VisibleButtons() const {
  std::vector<int> ids;
  for (const auto& control : controls) {
    if (control.kind == uimodel::Kind::Button && control.visible) ids.push_back(control.id);
  }
  return ids;
}

void ScriptedUi::QueueAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

void ScriptedUi::SetQuestionAnswer(int answer) {
  std::lock_guard lock(mutex_);
  questionAnswer_ = answer;
}

std::vector<ScriptedUi::Box> ScriptedUi::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::size_t ScriptedUi::BoxCount() const {
  std::lock_guard lock(mutex_);
  return boxes_.size();
}

ScriptedUi::Box ScriptedUi::LastBox() const {
  std::lock_guard lock(mutex_);
  return boxes_.empty() ? Box{nullptr, {}, {}, 0, 0, {}} : boxes_.back();
}

void ScriptedUi::ClearBoxes() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
}

int ScriptedUi::MessageBox(const platform::MessageBoxRequest& request) {
  std::lock_guard lock(mutex_);
  int answer = IDCANCEL;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else {
    switch (request.style & MB_TYPEMASK) {
      case MB_OK:
      case MB_OKCANCEL: answer = IDOK; break;
      case MB_YESNO:
      case MB_YESNOCANCEL: answer = questionAnswer_; break;
      default: answer = IDCANCEL; break;
    }
  }
  boxes_.push_back({request.owner, request.text, request.caption, request.style, answer,
                    std::this_thread::get_id()});
  return answer;
}

void ScriptedUi::OnDialog(UINT templateId, DialogScript script) {
  std::lock_guard lock(mutex_);
  dialogScripts_[templateId] = std::move(script);
}

void ScriptedUi::QueueDialog(UINT templateId, DialogScript script) {
  std::lock_guard lock(mutex_);
  queuedDialogs_[templateId].push_back(std::move(script));
}

void ScriptedUi::QueueAnyDialog(DialogScript script) {
  std::lock_guard lock(mutex_);
  anyDialogs_.push_back(std::move(script));
}

std::vector<ScriptedUi::ShownDialog> ScriptedUi::Dialogs() const {
  std::lock_guard lock(mutex_);
  return dialogs_;
}

std::size_t ScriptedUi::DialogCount() const {
  std::lock_guard lock(mutex_);
  return dialogs_.size();
}

ScriptedUi::DialogScript ScriptedUi::TakeScript(UINT templateId) {
  auto queued = queuedDialogs_.find(templateId);
  if (queued != queuedDialogs_.end() && !queued->second.empty()) {
    DialogScript script = std::move(queued->second.front());
    queued->second.pop_front();
    return script;
  }
  auto persistent = dialogScripts_.find(templateId);
  if (persistent != dialogScripts_.end()) return persistent->second;
  if (!anyDialogs_.empty()) {
    DialogScript script = std::move(anyDialogs_.front());
    anyDialogs_.pop_front();
    return script;
  }
  return nullptr;
}

void ScriptedUi::RunModalDialog(CDialog& dialog) {
  ShownDialog shown;
  shown.templateId = dialog.GetTemplateId();
  shown.caption = dialog.GetCaption();
  shown.controls = uimodel::Snapshot(dialog);
  shown.thread = std::this_thread::get_id();
  DialogScript script;
  size_t index = 0;
  {
    std::lock_guard lock(mutex_);
    index = dialogs_.size();
    dialogs_.push_back(shown);
    script = TakeScript(shown.templateId);
  }
  if (script) {
    script(dialog);
  } else {
    uimodel::PressEscape(dialog);
  }
  std::lock_guard lock(mutex_);
  dialogs_[index].result = dialog.IsEnded() ? dialog.GetResult() : IDCANCEL;
}

void ScriptedUi::QueueFile(const CString& path) {
  std::lock_guard lock(mutex_);
  files_.push_back(path);
}

void ScriptedUi::QueueFileCancel() {
  std::lock_guard lock(mutex_);
  files_.push_back(std::nullopt);
}

std::vector<ScriptedUi::FileRequest> ScriptedUi::FileRequests() const {
  std::lock_guard lock(mutex_);
  return fileRequests_;
}

bool ScriptedUi::RunFileDialog(CFileDialog& dialog, CString& path) {
  std::lock_guard lock(mutex_);
  fileRequests_.push_back({dialog.IsOpenDialog(), dialog.GetDefExt(), dialog.GetInitialFileName(),
                           dialog.m_ofn.Flags, uimodel::FiltersOf(dialog), dialog.m_ofn.hwndOwner,
                           dialog.GetTitle()});
  if (files_.empty()) return false;
  std::optional<CString> answer = std::move(files_.front());
  files_.pop_front();
  if (!answer) return false;
  path = *answer;
  return true;
}

void ScriptedUi::OnWizard(WizardScript script) {
  std::lock_guard lock(mutex_);
  wizard_ = std::move(script);
}

void ScriptedUi::RunWizard(CPropertySheet& sheet) {
  WizardScript script;
  {
    std::lock_guard lock(mutex_);
    script = wizard_;
  }
  // What the start page posted (its wizard buttons) arrives before the user acts.
  platform::PumpMessages();
  if (script) {
    script(sheet);
  } else {
    sheet.PressButton(PSBTN_CANCEL);
  }
}

void ScriptedUi::SetWaitCursor(bool on) {
  std::lock_guard lock(mutex_);
  waitCursor_ = on;
  waitChanges_.push_back(on);
}

bool ScriptedUi::WaitCursorShown() const {
  std::lock_guard lock(mutex_);
  return waitCursor_;
}

std::vector<bool> ScriptedUi::WaitCursorChanges() const {
  std::lock_guard lock(mutex_);
  return waitChanges_;
}
