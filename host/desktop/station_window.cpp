#include "host/desktop/station_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <filesystem>

#include "host/core/exit_codes.h"
#include "host/core/operation_choice.h"
#include "host/core/plugin_library.h"
#include "host/core/session.h"
#include "host/core/text.h"
#include "host/desktop/desktop_app.h"
#include "host/desktop/stop_signals.h"

namespace velmora::desktop {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QString ResultText(const SlotState& slot) {
  switch (slot.phase) {
    case SlotPhase::Succeeded:
      return "succeeded";
    case SlotPhase::Cancelled:
      return "cancelled";
    case SlotPhase::Failed:
      return Q("failed: " + slot.failure);
    default:
      return "";
  }
}

}  // namespace

StationWindow::StationWindow(StationSettings settings, QWidget* parent) : QWidget(parent) {
  setWindowTitle("Velmora - Station");
  clock_.start();
  runner_ = std::make_unique<StationRunner>(model_, std::move(settings));

  auto* layout = new QVBoxLayout(this);
  table_ = new QTableWidget(0, kColumns, this);
  table_->setHorizontalHeaderLabels(
      {"Port", "Serial", "Status", "Progress", "Time left", "Result"});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->setVisible(false);
  table_->setWordWrap(false);
  table_->setTextElideMode(Qt::ElideMiddle);
  QHeaderView* header = table_->horizontalHeader();
  header->setSectionResizeMode(kPort, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(kSerial, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(kStatus, QHeaderView::Stretch);
  header->setSectionResizeMode(kProgress, QHeaderView::Fixed);
  header->resizeSection(kProgress, 140);
  header->setSectionResizeMode(kTimeLeft, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(kResult, QHeaderView::Stretch);
  layout->addWidget(table_);

  auto* addRow = new QHBoxLayout;
  addRow->addWidget(new QLabel("Port:", this));
  portEdit_ = new QLineEdit(this);
  portEdit_->setPlaceholderText("/dev/serial/by-path/..., rfc2217://HOST:PORT or sim");
  addRow->addWidget(portEdit_, 1);
  add_ = new QPushButton("&Add slot", this);
  remove_ = new QPushButton("&Remove slot", this);
  addRow->addWidget(add_);
  addRow->addWidget(remove_);
  layout->addLayout(addRow);

  auto* runRow = new QHBoxLayout;
  start_ = new QPushButton("&Start", this);
  stop_ = new QPushButton("S&top", this);
  startAll_ = new QPushButton("Start a&ll", this);
  stopAll_ = new QPushButton("Stop all", this);
  for (QPushButton* button : {start_, stop_, startAll_, stopAll_}) runRow->addWidget(button);
  runRow->addStretch(1);
  layout->addLayout(runRow);

  connect(add_, &QPushButton::clicked, this, [this] {
    const QString port = portEdit_->text().trimmed();
    if (port.isEmpty()) return;
    AddSlot(port);
    portEdit_->clear();
  });
  connect(portEdit_, &QLineEdit::returnPressed, add_, &QPushButton::click);
  connect(remove_, &QPushButton::clicked, this, [this] { RemoveSlot(SelectedSlot()); });
  connect(start_, &QPushButton::clicked, this, [this] { StartSlot(SelectedSlot()); });
  connect(stop_, &QPushButton::clicked, this, [this] { StopSlot(SelectedSlot()); });
  connect(startAll_, &QPushButton::clicked, this, [this] { StartAll(); });
  connect(stopAll_, &QPushButton::clicked, this, [this] { StopAll(); });
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
  connect(&timer_, &QTimer::timeout, this, [this] { PollNow(0); });
  timer_.start(100);
  resize(1180, 380);
  UpdateButtons();
}

StationWindow::~StationWindow() {
  timer_.stop();
  // The runner cancels and waits for the children it leaves.
  runner_.reset();
}

double StationWindow::Now() const {
  return static_cast<double>(clock_.elapsed()) / 1000.0;
}

int StationWindow::AddSlot(const QString& port) {
  const int slot = runner_->AddSlot(port.toStdString());
  table_->insertRow(slot);
  for (int c = 0; c < kColumns; ++c) {
    if (c == kProgress) {
      auto* bar = new QProgressBar(table_);
      bar->setRange(0, 100);
      bar->setValue(0);
      table_->setCellWidget(slot, c, bar);
    } else {
      table_->setItem(slot, c, new QTableWidgetItem);
    }
  }
  Refresh();
  return slot;
}

bool StationWindow::RemoveSlot(int slot) {
  if (slot < 0 || !runner_->RemoveSlot(slot)) return false;
  table_->removeRow(slot);
  Refresh();
  return true;
}

void StationWindow::StartSlot(int slot) {
  if (slot < 0 || slot >= model_.Count()) return;
  std::string error;
  if (!runner_->Start(slot, Now(), error))
    QMessageBox::warning(this, "Velmora - Station", Q(error));
  Refresh();
}

void StationWindow::StopSlot(int slot) {
  if (slot < 0 || slot >= model_.Count()) return;
  runner_->Stop(slot);
  Refresh();
}

void StationWindow::StartAll() {
  for (int i = 0; i < model_.Count(); ++i)
    if (!runner_->Running(i)) StartSlot(i);
}

void StationWindow::StopAll() {
  runner_->StopAll();
  Refresh();
}

void StationWindow::PollNow(int timeoutMs) {
  if (runner_->AnyRunning()) runner_->Poll(timeoutMs, -1, [this] { return Now(); });
  Refresh();
}

int StationWindow::SelectedSlot() const {
  const QList<QTableWidgetSelectionRange> ranges = table_->selectedRanges();
  return ranges.isEmpty() ? -1 : ranges.front().topRow();
}

void StationWindow::Refresh() {
  for (int i = 0; i < model_.Count() && i < table_->rowCount(); ++i) {
    const SlotState& slot = model_.Slot(i);
    const bool running = runner_->Running(i);
    const auto set = [&](int column, const QString& text) {
      if (QTableWidgetItem* item = table_->item(i, column); item && item->text() != text)
        item->setText(text);
    };
    set(kPort, Q(slot.port));
    set(kSerial, Q(slot.serial));
    set(kStatus, running ? Q(model_.StatusText(i)) : QString());
    set(kTimeLeft,
        running && slot.phase == SlotPhase::Running ? Q(ClockText(slot.secondsLeft)) : QString());
    set(kResult, running ? QString() : ResultText(slot));
    if (auto* bar = qobject_cast<QProgressBar*>(table_->cellWidget(i, kProgress)))
      bar->setValue(running && slot.phase == SlotPhase::Running ? slot.progress
                    : slot.phase == SlotPhase::Succeeded        ? 100
                                                                : 0);
  }
  UpdateButtons();
}

void StationWindow::UpdateButtons() {
  const int slot = SelectedSlot();
  const bool chosen = slot >= 0 && slot < model_.Count();
  const bool running = chosen && runner_->Running(slot);
  remove_->setEnabled(chosen && !running);
  start_->setEnabled(chosen && !running);
  stop_->setEnabled(running);
  startAll_->setEnabled(model_.Count() > 0);
  stopAll_->setEnabled(runner_->AnyRunning());
}

int RunStation(const GuiOptions& options, const QStringList& ports,
               const std::optional<std::string>& logDir) {
  const auto complain = [](const std::string& text) {
    std::fprintf(stderr, "velmora-gui: %s\n", text.c_str());
    return kExitUsage;
  };
  if (!options.operation) return complain("--station needs OPERATION (upgrade, config or dump)");
  std::string error;
  int status = kExitFailed;
  std::unique_ptr<PluginLibrary> plugin = LoadPlugin(options.plugin, error, status);
  if (!plugin) {
    std::fprintf(stderr, "velmora-gui: %s\n", error.c_str());
    return status;
  }
  std::vector<std::string> names;
  for (int i = 0; i < plugin->OperationCount(); ++i) names.push_back(plugin->OperationName(i));
  const int op = ChooseOperation(*options.operation, names, error);
  if (op < 0) return complain(error);
  plugin.reset();

  StationSettings settings;
  // The children are velmora's, beside velmora-gui.
  settings.velmora = (std::filesystem::path(OwnExecutable()).parent_path() / "velmora").string();
  settings.operation = std::to_string(op);
  if (Lower(names[static_cast<std::size_t>(op)]).find("dump") != std::string::npos) {
    std::error_code ec;
    const std::string dir = logDir.value_or(".");
    if (!std::filesystem::is_directory(dir, ec))
      return complain("--log-dir " + dir + ": no such folder");
    settings.logDir = std::filesystem::absolute(dir, ec).lexically_normal().string();
  }
  settings.runOptions = {"--plugin", options.plugin};
  if (options.firmware)
    settings.runOptions.insert(settings.runOptions.end(), {"--firmware", *options.firmware});
  if (options.yes) settings.runOptions.push_back("--yes");
  if (options.giveUpSeconds)
    settings.runOptions.insert(settings.runOptions.end(),
                               {"--give-up-after", std::to_string(*options.giveUpSeconds)});
  StationWindow window(settings);
  window.setWindowTitle(QString("Velmora - Station - %1")
                            .arg(QString::fromStdString(names[static_cast<std::size_t>(op)])));
  for (const QString& port : ports) window.AddSlot(port);
  window.show();
  // SIGTERM or a closed terminal closes the window, which cancels the slots and waits.
  StopSignals stops([&window] { window.close(); });
  QApplication::exec();
  return window.Model().ExitStatus(false);
}

}  // namespace velmora::desktop
