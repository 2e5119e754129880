// A window of the framework's model shown as Qt widgets: every control at its rectangle
// (the model's dialog units already converted through the font's dialog base units),
// of its kind, with its text and state, list items and selection, list-view columns and
// rows, and the window's own pixels (the side panel a page paints) underneath.
//
// The model is touched only on the thread that owns its windows: a ModelState is taken
// there, and what the user does here comes back as a ModelAction that the owner runs.
#pragma once
#include <QFont>
#include <QImage>
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

// The dialog font: a sans serif face at the pixel size that an 8 point font has at
// 96 dots an inch, the dialogs' design size.
QFont DialogFont();

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

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build();
  void Update();
  void Act(ModelAction action);

  ModelState state_;
  std::vector<QWidget*> widgets_;  // index i shows controls[i + 1]
  bool updating_ = false;
};

}  // namespace velmora::desktop
