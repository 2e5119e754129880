// The frames around model windows: a modal dialog of the plug-in, and the wizard with
// Back, Next, Finish and Cancel around the active page.
#pragma once
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <functional>
#include <string>

#include "framework/afxwin.h"
#include "host/desktop/model_view.h"

namespace velmora::desktop {

// The frame of a window whose size is fixed: a title and a close button, no maximize.
constexpr Qt::WindowFlags kFixedSizeWindow = Qt::Dialog | Qt::CustomizeWindowHint |
                                             Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                             Qt::WindowCloseButtonHint;

// Moves `window` so that its centre is its owner's (a window shown again, or resized
// after showing, is not placed by the toolkit).
void CentreOn(QWidget* window, QWidget* owner);

// A plug-in dialog. Escape and the window's close button act as Escape in the dialog
// (its Cancel); the dialog is closed by End once the model says it has ended.
class DialogWindow : public QDialog {
 public:
  explicit DialogWindow(QWidget* parent);
  ModelView* view() const { return view_; }
  void End() { QDialog::done(0); }
  void reject() override;

 private:
  ModelView* view_;
};

// The wizard: the sheet's active page and the buttons the page asked for.
class WizardWindow : public QDialog {
 public:
  WizardWindow(CPropertySheet& sheet, QWidget* parent);
  ModelView* view() const { return view_; }
  QPushButton* back() const { return back_; }
  QPushButton* next() const { return next_; }
  QPushButton* finish() const { return finish_; }
  QPushButton* cancel() const { return cancel_; }
  // Shows the sheet as it is now (handling what is queued first); closes the window
  // when the sheet has ended. True when a page not shown before came up.
  bool Refresh();
  void Press(int button);  // PSBTN_BACK, PSBTN_NEXT, PSBTN_FINISH, PSBTN_CANCEL
  void reject() override;

  // Called after each refresh that brought up a new page.
  std::function<void()> onNewPage;
  // What the first field of the page held when the wizard last went on from it (the log
  // file a dump writes); empty when no such page had a field.
  const std::string& fieldText() const { return fieldText_; }
  // The list item selected when the wizard went on from a page with a list.
  const std::string& listText() const { return listText_; }

 private:
  CPropertySheet& sheet_;
  ModelView* view_;
  QPushButton* back_;
  QPushButton* next_;
  QPushButton* finish_;
  QPushButton* cancel_;
  HWND shownPage_ = nullptr;
  std::string fieldText_;
  std::string listText_;
};

}  // namespace velmora::desktop
