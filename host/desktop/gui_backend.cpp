#include "host/desktop/gui_backend.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>

#include "host/core/firmware_registration.h"
#include "host/core/message_box_text.h"
#include "host/core/session.h"
#include "host/core/unattended_pages.h"
#include "host/desktop/model_view.h"
#include "host/desktop/model_windows.h"
#include "host/desktop/screenshots.h"

namespace velmora::desktop {

namespace {

QString ToQt(const CString& text) {
  return QString::fromLocal8Bit(text.GetString());
}
QString ToQt(const std::string& text) {
  return QString::fromLocal8Bit(text.c_str());
}

// Runs `fn` on the GUI thread and waits for it.
template <typename Fn>
void OnGui(Fn&& fn) {
  if (OnGuiThread()) {
    fn();
  } else {
    QMetaObject::invokeMethod(qApp, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
  }
}

QMessageBox::StandardButton ButtonFor(int result) {
  switch (result) {
    case IDOK:
      return QMessageBox::Ok;
    case IDCANCEL:
      return QMessageBox::Cancel;
    case IDYES:
      return QMessageBox::Yes;
    case IDNO:
      return QMessageBox::No;
    case IDABORT:
      return QMessageBox::Abort;
    case IDRETRY:
      return QMessageBox::Retry;
    case IDIGNORE:
      return QMessageBox::Ignore;
    default:
      return QMessageBox::NoButton;
  }
}

QMessageBox::Icon IconFor(UINT style) {
  switch (style & MB_ICONMASK) {
    case MB_ICONERROR:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    case MB_ICONINFORMATION:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

// "SRecord Files (*.x)" with "*.x" as Qt writes a filter.
QStringList QtFilters(const CFileDialog& dialog) {
  QStringList filters;
  for (const uimodel::FileFilter& f : uimodel::FiltersOf(dialog)) {
    QString pattern = ToQt(f.pattern);
    pattern.replace(';', ' ');
    QString description = ToQt(f.description);
    // Qt reads the patterns from the last parentheses of the entry.
    if (!description.endsWith(")"))
      description += " (" + pattern + ")";
    else if (!description.contains("(" + pattern + ")"))
      description += " (" + pattern + ")";
    filters << description;
  }
  return filters;
}

// While it lives, `window` owns the boxes and dialogs (they centre on it, and the focus
// comes back to it when they close).
class OwnerScope {
 public:
  OwnerScope(QWidget*& owner, QWidget* window) : owner_(owner), before_(owner) { owner = window; }
  ~OwnerScope() { owner_ = before_; }
  OwnerScope(const OwnerScope&) = delete;
  OwnerScope& operator=(const OwnerScope&) = delete;

 private:
  QWidget*& owner_;
  QWidget* before_;
};

// The widget that had the focus before a box or file dialog gets it back after, in the
// window that owned it (the toolkit would leave it to whichever window it activates).
class FocusReturn {
 public:
  FocusReturn() : focus_(QApplication::focusWidget()) {}
  ~FocusReturn() {
    if (!focus_ || !focus_->isVisible()) return;
    focus_->window()->activateWindow();
    focus_->setFocus(Qt::OtherFocusReason);
  }
  FocusReturn(const FocusReturn&) = delete;
  FocusReturn& operator=(const FocusReturn&) = delete;

 private:
  QPointer<QWidget> focus_;
};

}  // namespace

bool OnGuiThread() {
  return QThread::currentThread() == qApp->thread();
}

GuiBackend::GuiBackend(GuiSettings settings, Screenshots* screenshots)
    : settings_(std::move(settings)), screenshots_(screenshots) {}

int GuiBackend::MessageBox(const platform::MessageBoxRequest& request) {
  if (onBox) onBox(request.text);
  int result = IDCANCEL;
  OnGui([&] { result = ShowBox(request); });
  return result;
}

int GuiBackend::ShowBox(const platform::MessageBoxRequest& request) {
  const FocusReturn focusBack;
  QMessageBox box(IconFor(request.style), ToQt(request.caption), ToQt(request.text),
                  QMessageBox::NoButton, owner_);
  box.setWindowFlags(box.windowFlags() & ~Qt::WindowMaximizeButtonHint);
  // A page's refusal for want of a choice in its list of entries: where the entries come
  // from, since nothing on the page says it (the text itself is the plug-in's).
  if (wizard_ && owner_ == wizard_ && (request.style & MB_ICONMASK) == MB_ICONEXCLAMATION &&
      wizard_->view()->HasUnselectedEntryList())
    box.setInformativeText(kNoSelectionPointer);
  for (const BoxChoice& choice : BoxChoices(request.style)) box.addButton(ButtonFor(choice.result));
  box.setDefaultButton(ButtonFor(DefaultBoxResult(request.style)));
  box.setWindowModality(Qt::ApplicationModal);
  if (settings_.unattended) {
    box.show();
    if (screenshots_) screenshots_->Take(&box, box.windowTitle());
    const int result = UnattendedBoxResult(request.style, settings_.yes);
    std::printf("%s: %s -> %s\n", request.caption.c_str(), request.text.c_str(),
                ResultWord(result).c_str());
    std::fflush(stdout);
    box.hide();
    return result;
  }
  box.show();
  if (screenshots_) screenshots_->Take(&box, box.windowTitle());
  if (onWindowShown) onWindowShown(&box);
  box.exec();
  for (const BoxChoice& choice : BoxChoices(request.style)) {
    if (box.clickedButton() == box.button(ButtonFor(choice.result))) return choice.result;
  }
  // Closed without a button: what Escape gives (Cancel or No where there is one).
  return BoxChoices(request.style).size() == 1 ? BoxChoices(request.style).front().result
                                               : UnattendedBoxResult(request.style, false);
}

void GuiBackend::RunModalDialog(CDialog& dialog) {
  if (OnGuiThread()) {
    RunDialogHere(dialog);
  } else {
    RunDialogForWorker(dialog);
  }
}

void GuiBackend::RunDialogHere(CDialog& dialog) {
  DialogWindow window(owner_);
  const OwnerScope owned(owner_, &window);
  auto refresh = [&] {
    PumpPending();
    window.view()->Show(TakeState(dialog));
    window.setWindowTitle(ToQt(dialog.GetCaption()));
    if (dialog.IsEnded()) window.End();
  };
  window.view()->onAction = [&](ModelAction action) {
    action(dialog);
    refresh();
  };
  refresh();
  if (dialog.IsEnded()) return;
  window.show();
  if (screenshots_) screenshots_->Take(&window, window.windowTitle());
  if (settings_.unattended) {
    // The register dialog opened for a --firmware file: the description, then the path.
    if (const FirmwareFile* file = PendingRegistration()) {
      bool filled = false;
      window.view()->onAction([&](CWnd& w) { filled = FillRegisterDialog(w, *file); });
      if (filled && screenshots_) screenshots_->Take(&window, window.windowTitle());
    }
    window.view()->onAction([](CWnd& w) { uimodel::PressEnter(w); });
    if (!dialog.IsEnded()) window.view()->onAction([](CWnd& w) { uimodel::PressEscape(w); });
    return;
  }
  if (onWindowShown) onWindowShown(&window);
  if (!dialog.IsEnded()) window.exec();
}

void GuiBackend::RunDialogForWorker(CDialog& dialog) {
  // What the GUI hands the worker: the user's actions, run here against the model.
  struct Channel {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<ModelAction> actions;
  };
  auto channel = std::make_shared<Channel>();
  QPointer<DialogWindow> window;
  OnGui([&] {
    window = new DialogWindow(owner_);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->view()->onAction = [channel](ModelAction action) {
      {
        std::lock_guard lock(channel->mutex);
        channel->actions.push_back(std::move(action));
      }
      channel->wake.notify_one();
    };
  });
  bool first = true;
  for (;;) {
    PumpPending();
    const ModelState state = TakeState(dialog);
    const bool ended = dialog.IsEnded();
    const QString caption = ToQt(dialog.GetCaption());
    const bool shownNow = first;
    first = false;
    OnGui([&] {
      if (!window) return;
      window->view()->Show(state);
      window->setWindowTitle(caption);
      if (ended) {
        window->End();
        return;
      }
      if (!shownNow) return;
      window->setWindowModality(Qt::ApplicationModal);
      window->show();
      if (screenshots_) screenshots_->Take(window, caption);
      if (settings_.unattended) {
        window->view()->onAction([](CWnd& w) { uimodel::PressEnter(w); });
      } else if (onWindowShown) {
        onWindowShown(window);
      }
    });
    if (ended) break;
    std::deque<ModelAction> actions;
    {
      std::unique_lock lock(channel->mutex);
      // The host's own pace while nobody acts; an action wakes it at once.
      channel->wake.wait_for(lock, std::chrono::milliseconds(50),
                             [&] { return !channel->actions.empty(); });
      actions.swap(channel->actions);
    }
    if (actions.empty()) {
      first = false;
      continue;
    }
    for (ModelAction& action : actions) action(dialog);
  }
  OnGui([&] { delete window.data(); });
}

bool GuiBackend::RunFileDialog(CFileDialog& dialog, CString& path) {
  if (settings_.unattended) return false;
  bool chosen = false;
  OnGui([&] {
    const FocusReturn focusBack;
    QFileDialog files(owner_, ToQt(dialog.GetTitle()));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setAcceptMode(dialog.IsOpenDialog() ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    // The framework asks its own questions (file must exist, overwrite, create).
    files.setOption(QFileDialog::DontConfirmOverwrite);
    files.setFileMode(QFileDialog::AnyFile);
    files.setNameFilters(QtFilters(dialog));
    const QString initial = ToQt(dialog.GetInitialFileName());
    if (!initial.isEmpty()) files.selectFile(initial);
    files.show();
    if (screenshots_) screenshots_->Take(&files, files.windowTitle());
    if (onWindowShown) onWindowShown(&files);
    if (files.result() != QDialog::Accepted && files.isVisible()) files.exec();
    if (files.result() == QDialog::Accepted && !files.selectedFiles().isEmpty()) {
      path = files.selectedFiles().front().toLocal8Bit().toStdString();
      chosen = true;
    }
  });
  return chosen;
}

void GuiBackend::SetWaitCursor(bool on) {
  OnGui([on] {
    if (on) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  });
}

void GuiBackend::RunWizard(CPropertySheet& sheet) {
  wizardProblem_.clear();
  QWidget* const opener = owner_;
  WizardWindow window(sheet, opener);
  const OwnerScope owned(owner_, &window);
  wizard_ = &window;
  struct Forget {
    WizardWindow*& wizard;
    ~Forget() { wizard = nullptr; }
  } forget{wizard_};
  // The first page before the window shows: the window system learns its fixed size
  // from the start (a window that becomes fixed later keeps its maximize button).
  window.Refresh();
  if (window.layout()) window.layout()->activate();
  if (!sheet.IsEnded()) {
    window.show();
    CentreOn(&window, opener);
    window.activateWindow();
    if (screenshots_) screenshots_->Take(&window, window.windowTitle());
  }
  window.onNewPage = [&] {
    if (screenshots_) screenshots_->Take(&window, window.windowTitle());
  };
  fieldText_.clear();
  listText_.clear();
  if (!settings_.unattended) {
    if (onWindowShown) onWindowShown(&window);
    if (!sheet.IsEnded()) window.exec();
    fieldText_ = window.fieldText();
    listText_ = window.listText();
    return;
  }
  // Unattended: the window follows each page as it is filled and left.
  class Followed final : public UnattendedView {
   public:
    explicit Followed(WizardWindow& window) : window_(window) {}
    void Registering(const FirmwareFile& file) override {
      std::printf("%s\n", RegisteringText(file).c_str());
      std::fflush(stdout);
    }
    void Pressing(int /*button*/) override { window_.Refresh(); }
    void Press(CPropertySheet& /*sheet*/, int button) override { window_.Press(button); }

   private:
    WizardWindow& window_;
  } followed(window);
  wizardProblem_ =
      DriveUnattended(sheet, PageInputs{settings_.listChoice, settings_.editText}, followed)
          .problem;
  fieldText_ = window.fieldText();
  listText_ = window.listText();
}

}  // namespace velmora::desktop
