#include "host/desktop/model_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QTreeWidget>
#include <algorithm>
#include <array>
#include <climits>
#include <memory>

namespace velmora::desktop {

namespace {

QString ToQt(const CString& text) {
  return QString::fromLocal8Bit(text.GetString());
}

bool IsDefaultButton(const uimodel::ControlInfo& c) {
  return (c.style & 0x000F) == BS_DEFPUSHBUTTON;
}

bool IsFrame(const uimodel::ControlInfo& c) {
  return c.kind == uimodel::Kind::Static && (c.style & 0x001F) == SS_BLACKFRAME;
}

// Widths of the 8-bit characters and the dialog base units, measured once.
class DialogFontMetrics : public uimodel::FontMetrics {
 public:
  DialogFontMetrics() {
    const QFontMetrics metrics(DialogFont());
    for (int c = 0; c < 256; ++c) widths_[c] = metrics.horizontalAdvance(QChar(c == 0 ? ' ' : c));
    // As Windows takes them: the average width of the 52 letters, and the font's height.
    const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    base_ = CSize((metrics.horizontalAdvance(letters) / 26 + 1) / 2, metrics.height());
  }
  CSize GetDialogBaseUnits(LPCTSTR, int) const override { return base_; }
  int GetTextWidth(LPCTSTR, int, LPCTSTR text) const override {
    int width = 0;
    for (const char* p = text; p && *p; ++p) width += widths_[static_cast<unsigned char>(*p)];
    return width;
  }

 private:
  std::array<int, 256> widths_{};
  CSize base_;
};

// Windows virtual-key codes of the keys a list box hands its dialog.
UINT VirtualKey(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Insert:
      return VK_INSERT;
    case Qt::Key_Delete:
      return VK_DELETE;
    default:
      return 0;
  }
}

// A group box as a dialog draws it: the caption on the frame's top line, and its
// mnemonic moving the focus to the control it frames (the controls are its siblings
// here, so the toolkit's own group box would find nothing to focus).
class GroupFrame : public QGroupBox {
 public:
  explicit GroupFrame(QWidget* parent) : QGroupBox(parent) {}
  void SetBuddy(QWidget* buddy) { buddy_ = buddy; }

 protected:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::Shortcut && buddy_ && buddy_->isEnabled()) {
      buddy_->setFocus(Qt::ShortcutFocusReason);
      return true;
    }
    return QGroupBox::event(event);
  }
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.height() / 2;
    const QRect frame = rect().adjusted(0, line, -1, -1);
    // An etched line: dark, with a light one inside it.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.adjusted(1, 1, 0, 0));
    if (title().isEmpty()) return;
    const QString shown = WithoutMnemonic(title());
    const QRect caption(8, 0, metrics.horizontalAdvance(shown) + 6, metrics.height());
    painter.fillRect(caption, palette().window());
    style()->drawItemText(&painter, caption.adjusted(3, 0, -3, 0),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, palette(),
                          isEnabled(), title(), QPalette::WindowText);
  }

 private:
  QWidget* buddy_ = nullptr;
};

bool IsBuddyKind(uimodel::Kind kind) {
  return kind == uimodel::Kind::Edit || kind == uimodel::Kind::ListBox ||
         kind == uimodel::Kind::ListView;
}

}  // namespace

const char kInsertDeleteHint[] =
    "Insert or right-click, Add...: add an entry. Delete: remove the selected one.";
const char kNoSelectionPointer[] =
    "To add an entry, press Insert in the list, or right-click the list and choose Add...";

bool TakesInsertAndDelete(const uimodel::ControlInfo& control) {
  return control.kind == uimodel::Kind::ListBox && (control.style & LBS_WANTKEYBOARDINPUT) != 0;
}

QRect ShownRect(const std::vector<uimodel::ControlInfo>& controls, size_t index,
                const QFontMetrics& metrics) {
  const uimodel::ControlInfo& c = controls[index];
  QRect rect(c.rect.left, c.rect.top, c.rect.Width(), c.rect.Height());
  if (c.kind == uimodel::Kind::Static && !IsFrame(c) && rect.height() > metrics.height() + 2) {
    const QString text = WithoutMnemonic(ToQt(c.text));
    const int needed =
        metrics.boundingRect(QRect(0, 0, rect.width(), 100000), Qt::TextWordWrap, text).height();
    if (needed <= rect.height()) return rect;
    // Down to the first control under it that shares some of its width.
    int room = INT_MAX;
    for (size_t i = 1; i < controls.size(); ++i) {
      const CRect& o = controls[i].rect;
      if (i == index || !controls[i].visible || o.top < c.rect.bottom) continue;
      if (o.left < c.rect.right && c.rect.left < o.right) room = std::min(room, o.top - 2);
    }
    if (room != INT_MAX)
      rect.setBottom(std::max(rect.bottom(), std::min(rect.top() + needed, room)));
    return rect;
  }
  if (c.kind != uimodel::Kind::Button || index < 2) return rect;
  const uimodel::ControlInfo& before = controls[index - 1];
  if (before.kind != uimodel::Kind::Edit || !before.visible) return rect;
  // Beside the field: starts after it and overlaps its line.
  const bool beside = c.rect.left >= before.rect.right && c.rect.left - before.rect.right < 16 &&
                      c.rect.top < before.rect.bottom && before.rect.top < c.rect.bottom;
  if (!beside) return rect;
  rect.setTop(before.rect.top);
  rect.setHeight(before.rect.Height());
  return rect;
}

QString WithoutMnemonic(const QString& text) {
  QString out;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

QFont DialogFont() {
  return QApplication::font();
}

void InstallDialogFontMetrics() {
  uimodel::SetFontMetrics(std::make_shared<DialogFontMetrics>());
}

ModelState TakeState(const CWnd& root) {
  ModelState state;
  state.hwnd = root.GetSafeHwnd();
  state.caption = ToQt(root.GetWindowText());
  CRect client;
  root.GetClientRect(client);
  state.size = QSize(client.Width(), client.Height());
  if (const uimodel::PixelSurface* surface = uimodel::SurfaceOf(root);
      surface && surface->width > 0 && surface->height > 0) {
    QImage image(surface->width, surface->height, QImage::Format_RGB32);
    for (int y = 0; y < surface->height; ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < surface->width; ++x) line[x] = 0xFF000000u | surface->At(x, y);
    }
    state.surface = image;
  }
  state.controls = uimodel::Snapshot(root);
  return state;
}

ModelView::ModelView(QWidget* parent) : QWidget(parent) {
  setFont(DialogFont());
}

QWidget* ModelView::WidgetAt(size_t index) const {
  return index >= 1 && index <= widgets_.size() ? widgets_[index - 1] : nullptr;
}

QWidget* ModelView::FirstFocusable() const {
  for (QWidget* w : widgets_) {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(this) && w->isEnabled()) return w;
  }
  return nullptr;
}

bool ModelView::HasUnselectedEntryList() const {
  for (size_t i = 1; i < state_.controls.size(); ++i) {
    const uimodel::ControlInfo& c = state_.controls[i];
    if (TakesInsertAndDelete(c) && c.visible && c.selection < 0) return true;
  }
  return false;
}

QWidget* ModelView::WidgetForId(int id) const {
  for (size_t i = 1; i < state_.controls.size(); ++i) {
    if (state_.controls[i].id == id) return widgets_[i - 1];
  }
  return nullptr;
}

void ModelView::Act(ModelAction action) {
  if (!updating_ && onAction) onAction(std::move(action));
}

void ModelView::Show(const ModelState& state) {
  bool same = state.hwnd == state_.hwnd && state.controls.size() == state_.controls.size();
  for (size_t i = 0; same && i < state.controls.size(); ++i) {
    same = state.controls[i].id == state_.controls[i].id &&
           state.controls[i].kind == state_.controls[i].kind;
  }
  state_ = state;
  setFixedSize(state.size);
  if (!same) Build();
  Update();
  update();
}

void ModelView::Build() {
  // Later: the widget whose signal brought a new window may still be on the stack.
  for (QWidget* w : widgets_) {
    w->hide();
    w->deleteLater();
  }
  widgets_.clear();
  if (hint_) {
    hint_->hide();
    hint_->deleteLater();
    hint_ = nullptr;
  }
  const auto& controls = state_.controls;
  for (size_t i = 1; i < controls.size(); ++i) {
    const uimodel::ControlInfo& c = controls[i];
    const int id = c.id;
    QWidget* widget = nullptr;
    switch (c.kind) {
      case uimodel::Kind::Button: {
        auto* button = new QPushButton(this);
        // Enter presses the button that has the focus, as in any dialog; the default
        // button takes Enter from the other controls.
        button->setAutoDefault(true);
        connect(button, &QPushButton::clicked, this,
                [this, id] { Act([id](CWnd& w) { uimodel::ClickButton(w, id); }); });
        widget = button;
        break;
      }
      case uimodel::Kind::GroupBox:
        widget = new GroupFrame(this);
        break;
      case uimodel::Kind::Edit: {
        auto* edit = new QLineEdit(this);
        connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& text) {
          const std::string typed = text.toLocal8Bit().toStdString();
          Act([id, typed](CWnd& w) { uimodel::TypeText(w, id, typed.c_str()); });
        });
        widget = edit;
        break;
      }
      case uimodel::Kind::ListBox: {
        auto* list = new QListWidget(this);
        list->installEventFilter(this);
        connect(list, &QListWidget::currentRowChanged, this, [this, id](int row) {
          if (row >= 0) Act([id, row](CWnd& w) { uimodel::SelectItem(w, id, row); });
        });
        connect(list, &QListWidget::itemDoubleClicked, this,
                [this, id, list](QListWidgetItem* item) {
                  const int row = list->row(item);
                  Act([id, row](CWnd& w) { uimodel::DoubleClickItem(w, id, row); });
                });
        if (TakesInsertAndDelete(c)) {
          // The keys it takes, where a mouse user looks for them.
          list->setContextMenuPolicy(Qt::CustomContextMenu);
          connect(list, &QWidget::customContextMenuRequested, this,
                  [this, id, list](const QPoint& at) {
                    if (QListWidgetItem* item = list->itemAt(at)) list->setCurrentItem(item);
                    QMenu menu(list);
                    QAction* add = menu.addAction("&Add...");
                    QAction* remove = menu.addAction("&Delete");
                    remove->setEnabled(list->currentRow() >= 0);
                    QAction* chosen = menu.exec(list->viewport()->mapToGlobal(at));
                    if (!chosen) return;
                    const UINT vk = chosen == add ? VK_INSERT : VK_DELETE;
                    Act([id, vk](CWnd& w) { uimodel::KeyDown(w, id, vk); });
                  });
          hint_ = new QLabel(WithoutMnemonic(kInsertDeleteHint), this);
          hint_->setObjectName("listHint");
          hint_->setProperty("listIndex", static_cast<int>(i));
          hint_->setWordWrap(true);
        }
        // The focus shows on the list itself, not only on its current item.
        list->setStyleSheet("QListWidget:focus { border: 1px solid palette(highlight); }");
        widget = list;
        break;
      }
      case uimodel::Kind::ListView: {
        auto* tree = new QTreeWidget(this);
        tree->setRootIsDecorated(false);
        tree->setSelectionMode(QAbstractItemView::SingleSelection);
        tree->header()->setStretchLastSection(false);
        widget = tree;
        break;
      }
      case uimodel::Kind::Static:
      default:
        if (IsFrame(c)) {
          // The picture under it is the page's own painting (the model's surface).
          auto* frame = new QFrame(this);
          frame->setAttribute(Qt::WA_TransparentForMouseEvents);
          widget = frame;
        } else {
          auto* label = new QLabel(this);
          label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
          label->setTextFormat(Qt::PlainText);
          widget = label;
        }
        break;
    }
    widget->setProperty("modelId", id);
    widgets_.push_back(widget);
  }
  // A label's or a group's mnemonic moves to the control after it, as in a dialog.
  for (size_t i = 0; i < widgets_.size(); ++i) {
    if (i + 1 >= widgets_.size() || !IsBuddyKind(controls[i + 2].kind)) continue;
    if (auto* label = qobject_cast<QLabel*>(widgets_[i])) {
      label->setBuddy(widgets_[i + 1]);
    } else if (auto* group = dynamic_cast<GroupFrame*>(widgets_[i])) {
      group->SetBuddy(widgets_[i + 1]);
    }
  }
}

void ModelView::Update() {
  updating_ = true;
  const auto& controls = state_.controls;
  for (size_t i = 1; i < controls.size(); ++i) {
    const uimodel::ControlInfo& c = controls[i];
    QWidget* widget = widgets_[i - 1];
    const QRect rect = ShownRect(controls, i, fontMetrics());
    if (widget->geometry() != rect) widget->setGeometry(rect);
    const QString text = ToQt(c.text);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      button->setText(text);
      button->setDefault(IsDefaultButton(c));
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      group->setTitle(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      if (edit->text() != text) {
        edit->setText(text);
        // A path set from outside (Browse) is read from its start; what is typed keeps
        // its cursor.
        if (!edit->hasFocus()) edit->setCursorPosition(0);
      }
      edit->setReadOnly((c.style & ES_READONLY) != 0);
    } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
      QStringList items;
      for (const CString& item : c.items) items << ToQt(item);
      QStringList shown;
      for (int r = 0; r < list->count(); ++r) shown << list->item(r)->text();
      if (shown != items) {
        list->clear();
        list->addItems(items);
      }
      if (list->currentRow() != c.selection) list->setCurrentRow(c.selection);
      if (c.selection < 0) list->clearSelection();
    } else if (auto* tree = qobject_cast<QTreeWidget*>(widget)) {
      QStringList headings;
      for (const CString& heading : c.columns) headings << ToQt(heading);
      tree->setColumnCount(static_cast<int>(headings.size()));
      tree->setHeaderLabels(headings);
      for (size_t col = 0; col < c.columnWidths.size(); ++col) {
        tree->setColumnWidth(static_cast<int>(col), c.columnWidths[col]);
      }
      // The columns fill the list: the last one takes what the others leave.
      tree->header()->setStretchLastSection(true);
      tree->clear();
      for (const CString& row : c.items) {
        tree->addTopLevelItem(new QTreeWidgetItem(ToQt(row).split('\t')));
      }
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      label->setText(label->buddy() ? text : WithoutMnemonic(text));
      if (label->buddy()) label->setTextFormat(Qt::AutoText);
      label->setWordWrap(rect.height() > fontMetrics().height() + 2);
    }
    widget->setEnabled(c.enabled);
    widget->setVisible(c.visible);
  }
  if (hint_) {
    // Under the list's group, or under the list when no group frames it.
    const size_t index = static_cast<size_t>(hint_->property("listIndex").toInt());
    QRect under = ShownRect(controls, index, fontMetrics());
    for (size_t g = 1; g < controls.size(); ++g) {
      const QRect frame = ShownRect(controls, g, fontMetrics());
      if (controls[g].kind == uimodel::Kind::GroupBox && frame.contains(under)) under = frame;
    }
    const int lineHeight = fontMetrics().height();
    const int room = height() - under.bottom() - 4;
    hint_->setGeometry(under.left(), under.bottom() + 4, under.width(),
                       std::max(lineHeight, std::min(room, 2 * lineHeight + 2)));
    hint_->setVisible(controls[index].visible);
  }
  updating_ = false;
}

void ModelView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // The window in the host's colours; of the page's own painting only the picture its
  // frame marks is shown.
  painter.fillRect(rect(), palette().window());
  if (state_.surface.isNull()) return;
  for (size_t i = 1; i < state_.controls.size(); ++i) {
    const uimodel::ControlInfo& c = state_.controls[i];
    if (!IsFrame(c) || !c.visible) continue;
    const QRect frame(c.rect.left, c.rect.top, c.rect.Width(), c.rect.Height());
    painter.drawImage(frame.topLeft(), state_.surface, frame);
  }
}

bool ModelView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const UINT vk = VirtualKey(key->key());
    const int id = watched->property("modelId").toInt();
    if (vk != 0) {
      Act([id, vk](CWnd& w) { uimodel::KeyDown(w, id, vk); });
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace velmora::desktop
