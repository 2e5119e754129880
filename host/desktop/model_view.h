// A window of the framework's model shown as Qt widgets: every control at its rectangle
// (the model's dialog units already converted through the font's dialog base units),
// of its kind, with its text and state, list items and selection, list-view columns and
// rows, and the window's own pixels (the side panel a page paints) underneath.
//
// The model is touched only on the thread that owns its windows: a ModelState is taken
// there, and what the user does here comes back as a ModelAction that the owner runs.
#pragma once
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "framework/afxwin.h"
#include "framework/uimodel.h"

namespace velmora::desktop {

// What a model window shows at one moment.
struct ModelState {
  HWND hwnd = nullptr;
  QString caption;
  QSize size;
  QImage surface;                              // the window's pixels
  std::vector<uimodel::ControlInfo> controls;  // the window first, then its descendants
};

// On the thread that owns `root`.
ModelState TakeState(const CWnd& root);

// Something the user did, run against the model window on its owner's thread.
using ModelAction = std::function<void(CWnd&)>;

// "&Browse..." as Qt shows it: the same mnemonic rule, so the text is kept as is.
// Labels without a buddy would show the '&': this gives the text a label shows.
QString WithoutMnemonic(const QString& text);

// The dialog font: the host's own, so that pages and dialogs read as the start window
// does; the model's dialog units follow its size.
QFont DialogFont();

// Where a control shows: its rectangle, except that a button beside an edit field on the
// same line takes the field's top and height, so that the two line up, and a text of
// several lines that the font needs more room for grows down into the free space under
// it (the host's font wraps a text differently from the one the layout was made for).
QRect ShownRect(const std::vector<uimodel::ControlInfo>& controls, size_t index,
                const QFontMetrics& metrics);

// A list that hands Insert and Delete to its window (a list of entries to add to and
// remove from): it gets a context menu and a hint line for them.
bool TakesInsertAndDelete(const uimodel::ControlInfo& control);
// The hint line under such a list, and what a refusal for want of a selection adds.
extern const char kInsertDeleteHint[];
extern const char kNoSelectionPointer[];

// Font metrics of DialogFont for the model, measured once on the GUI thread and usable
// from any thread afterwards (a run's dialogs are built on its worker thread).
void InstallDialogFontMetrics();

class ModelView : public QWidget {
 public:
  explicit ModelView(QWidget* parent = nullptr);

  // Shows the state: builds the widgets for a window not shown before, else updates
  // them in place (a text being typed keeps its cursor).
  void Show(const ModelState& state);
  const ModelState& State() const { return state_; }

  // Receives what the user does.
  std::function<void(ModelAction)> onAction;

  // The widget that shows the control of that snapshot index (1 onwards), or null.
  QWidget* WidgetAt(size_t index) const;
  // The widget of the first control with that id.
  QWidget* WidgetForId(int id) const;
  // The first control in the template's order that takes the focus (null when none).
  QWidget* FirstFocusable() const;
  // The hint line under a list that takes Insert and Delete (null when there is none).
  QLabel* hint() const { return hint_; }
  // A list that takes Insert and Delete and has no selection (null when none).
  bool HasUnselectedEntryList() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build();
  void Update();
  void Act(ModelAction action);

  ModelState state_;
  std::vector<QWidget*> widgets_;  // index i shows controls[i + 1]
  QLabel* hint_ = nullptr;
  bool updating_ = false;
};

}  // namespace velmora::desktop
