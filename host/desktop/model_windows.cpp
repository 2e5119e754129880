#include "host/desktop/model_windows.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLayout>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "host/core/firmware_registration.h"
#include "host/core/session.h"
#include "host/core/unattended_pages.h"

namespace velmora::desktop {

void CentreOn(QWidget* window, QWidget* owner) {
  if (!owner || !owner->isVisible()) return;
  // The size that its layout gives it now, not after the next pass of the event loop.
  if (window->layout()) window->layout()->activate();
  const QRect ownerFrame = owner->window()->frameGeometry();
  QRect frame = window->frameGeometry();
  frame.moveCenter(ownerFrame.center());
  // Not off the screen the owner is on.
  if (const QScreen* screen = owner->screen()) {
    const QRect room = screen->availableGeometry();
    frame.moveLeft(std::max(room.left(), std::min(frame.left(), room.right() - frame.width())));
    frame.moveTop(std::max(room.top(), std::min(frame.top(), room.bottom() - frame.height())));
  }
  window->move(frame.topLeft());
}

DialogWindow::DialogWindow(QWidget* parent) : QDialog(parent), view_(new ModelView(this)) {
  setWindowFlags(kFixedSizeWindow);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(view_);
}

void DialogWindow::reject() {
  if (view_->onAction) view_->onAction([](CWnd& w) { uimodel::PressEscape(w); });
}

WizardWindow::WizardWindow(CPropertySheet& sheet, QWidget* parent)
    : QDialog(parent),
      sheet_(sheet),
      view_(new ModelView(this)),
      back_(new QPushButton("< &Back", this)),
      next_(new QPushButton("&Next >", this)),
      finish_(new QPushButton("Finish", this)),
      cancel_(new QPushButton("Cancel", this)) {
  setFont(DialogFont());
  setWindowFlags(kFixedSizeWindow);
  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->setContentsMargins(7, 7, 7, 7);
  layout->addWidget(view_);
  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {back_, next_, finish_, cancel_}) {
    // Enter presses the focused button (Cancel focused is Cancel, never Finish); from
    // the page's controls it presses the default one.
    b->setAutoDefault(true);
    b->setMinimumWidth(75);
    buttons->addWidget(b);
  }
  buttons->insertSpacing(4, 8);
  layout->addLayout(buttons);
  connect(back_, &QPushButton::clicked, this, [this] { Press(PSBTN_BACK); });
  connect(next_, &QPushButton::clicked, this, [this] { Press(PSBTN_NEXT); });
  connect(finish_, &QPushButton::clicked, this, [this] { Press(PSBTN_FINISH); });
  connect(cancel_, &QPushButton::clicked, this, [this] { Press(PSBTN_CANCEL); });
  view_->onAction = [this](ModelAction action) {
    if (CPropertyPage* page = sheet_.GetActivePage()) action(*page);
    Refresh();
  };
}

void WizardWindow::Press(int button) {
  if (button == PSBTN_NEXT || button == PSBTN_FINISH) {
    if (CPropertyPage* page = sheet_.GetActivePage()) {
      for (const uimodel::ControlInfo& control : uimodel::Snapshot(*page)) {
        if (control.kind == uimodel::Kind::Edit) {
          fieldText_ = control.text.str();
          break;
        }
      }
      if (std::string item = SelectedListItem(*page); !item.empty()) listText_ = item;
    }
  }
  sheet_.PressButton(button);
  Refresh();
}

void WizardWindow::reject() {
  Press(PSBTN_CANCEL);
}

bool WizardWindow::Refresh() {
  PumpPending();
  CPropertyPage* page = sheet_.GetActivePage();
  if (sheet_.IsEnded() || !page) {
    if (!sheet_.IsEnded()) sheet_.PressButton(PSBTN_CANCEL);
    QDialog::done(0);
    return false;
  }
  view_->Show(TakeState(*page));
  setWindowTitle(QString::fromLocal8Bit(page->GetCaption().GetString()));
  const DWORD flags = WizardButtons(sheet_);
  const bool finish = OffersFinish(flags);
  back_->setEnabled((flags & PSWIZB_BACK) && sheet_.GetActiveIndex() > 0);
  next_->setVisible(!finish);
  next_->setEnabled(flags & PSWIZB_NEXT);
  finish_->setVisible(finish);
  next_->setDefault(!finish);
  finish_->setDefault(finish);
  const bool newPage = page->GetSafeHwnd() != shownPage_;
  shownPage_ = page->GetSafeHwnd();
  if (newPage) {
    // A new page starts at its first control, or, on a page with none, at the default
    // button: the focus never lands on Cancel by itself, where Enter would cancel.
    QWidget* first = view_->FirstFocusable();
    (first ? first : finish ? finish_ : next_)->setFocus(Qt::TabFocusReason);
  }
  if (newPage && onNewPage) onNewPage();
  return newPage;
}

}  // namespace velmora::desktop
