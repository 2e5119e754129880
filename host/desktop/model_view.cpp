#include "host/desktop/model_view.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <array>
#include <memory>

namespace velmora::desktop {

namespace {

constexpr int kDialogFontPixels = 11;  // 8 points at 96 dots an inch

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

}  // namespace

QString WithoutMnemonic(const QString& text) {
  QString out;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

QFont DialogFont() {
  QFont font("Sans Serif");
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kDialogFontPixels);
  return font;
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
  const auto& controls = state_.controls;
  for (size_t i = 1; i < controls.size(); ++i) {
    const uimodel::ControlInfo& c = controls[i];
    const int id = c.id;
    QWidget* widget = nullptr;
    switch (c.kind) {
      case uimodel::Kind::Button: {
        auto* button = new QPushButton(this);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this,
                [this, id] { Act([id](CWnd& w) { uimodel::ClickButton(w, id); }); });
        widget = button;
        break;
      }
      case uimodel::Kind::GroupBox:
        widget = new QGroupBox(this);
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
  // A label's mnemonic moves to the control after it, as in a dialog.
  for (size_t i = 0; i < widgets_.size(); ++i) {
    auto* label = qobject_cast<QLabel*>(widgets_[i]);
    if (!label || i + 1 >= widgets_.size()) continue;
    const auto kind = controls[i + 2].kind;
    if (kind == uimodel::Kind::Edit || kind == uimodel::Kind::ListBox)
      label->setBuddy(widgets_[i + 1]);
  }
}

void ModelView::Update() {
  updating_ = true;
  const auto& controls = state_.controls;
  for (size_t i = 1; i < controls.size(); ++i) {
    const uimodel::ControlInfo& c = controls[i];
    QWidget* widget = widgets_[i - 1];
    const QRect rect(c.rect.left, c.rect.top, c.rect.Width(), c.rect.Height());
    if (widget->geometry() != rect) widget->setGeometry(rect);
    const QString text = ToQt(c.text);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      button->setText(text);
      button->setDefault(IsDefaultButton(c));
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      group->setTitle(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      if (edit->text() != text) edit->setText(text);
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
  updating_ = false;
}

void ModelView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!state_.surface.isNull()) {
    painter.drawImage(0, 0, state_.surface);
  } else {
    painter.fillRect(rect(), palette().window());
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
