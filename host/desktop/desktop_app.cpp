#include "host/desktop/desktop_app.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProxyStyle>
#include <QSignalBlocker>
#include <QStyleOption>
#include <QVBoxLayout>
#include <cstdio>

#include "host/core/exit_codes.h"
#include "host/core/ledger.h"
#include "host/core/port_list.h"
#include "host/core/run_plan.h"
#include "host/core/session.h"
#include "host/desktop/model_view.h"
#include "host/desktop/model_windows.h"

namespace velmora::desktop {

namespace {

// Each run's record goes to the ledger too when one was reached at the start. Reached no
// more, the record stays in the local database and goes at the next run that reaches it.
RecordStoreOpener RecordStoreFor(const std::optional<std::string>& ledger) {
  if (!ledger) return OpenRecordStore;
  const std::string url = *ledger;
  return [url](std::string& error) {
    const auto say = [](const std::string& text) {
      std::fprintf(stderr, "velmora-gui: %s\n", text.c_str());
    };
    std::string lost;
    std::unique_ptr<Ledger> connected = ConnectLedger(url, lost);
    if (!connected)
      say("warning: " + lost +
          "; the record is kept in the local database and goes to the ledger at the next run "
          "that reaches it");
    return OpenRunRecordStore(std::move(connected), MaskedLedgerUrl(url), say, error);
  };
}

}  // namespace

namespace {

QString ToQt(const std::string& text) {
  return QString::fromLocal8Bit(text.c_str());
}

void Complain(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "velmora-gui: %s\n", text.c_str());
  std::fflush(stderr);
}

// What an entry of "Connected to" stands for: the value --device would take, the port's
// by-id link, and whether it is a pattern to complete rather than a value.
constexpr int kValueRole = Qt::UserRole;
constexpr int kLinkRole = Qt::UserRole + 1;
constexpr int kPatternRole = Qt::UserRole + 2;
constexpr char kNetworkPattern[] = "rfc2217://";

bool IsSimulator(const std::string& target) {
  return target == "sim" || target.rfind("sim:", 0) == 0;
}

class FocusStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element != CE_PushButton || !(option->state & State_HasFocus)) return;
    painter->save();
    QPen dots(option->palette.color(QPalette::ButtonText), 1, Qt::DotLine);
    painter->setPen(dots);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option->rect.adjusted(4, 4, -5, -5));
    painter->restore();
  }
};

}  // namespace

void InstallFocusStyle() {
  if (dynamic_cast<FocusStyle*>(QApplication::style())) return;
  QApplication::setStyle(new FocusStyle(QApplication::style()->name()));
}

std::optional<std::uint32_t> GiveUpLimit(const GuiOptions& options) {
  return velmora::GiveUpLimit(options.giveUpSeconds, !options.unattended);
}

StartWindow::StartWindow(const PluginLibrary& plugin, int port, PortLister listPorts)
    : plugin_(plugin),
      listPorts_(std::move(listPorts)),
      operations_(new QListWidget(this)),
      description_(new QLabel(this)),
      port_(new QComboBox(this)),
      connection_(new QComboBox(this)),
      connectionProblem_(new QLabel(this)),
      start_(new QPushButton("&Start", this)),
      history_(new QPushButton("&History...", this)) {
  setWindowTitle("Velmora");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Choose what to do with the device:", this));
  for (int i = 0; i < plugin.OperationCount(); ++i)
    operations_->addItem(ToQt(plugin.OperationName(i)));
  operations_->setMinimumSize(420, 90);
  layout->addWidget(operations_);
  description_->setWordWrap(true);
  description_->setMinimumHeight(48);
  description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  layout->addWidget(description_);

  auto* portRow = new QHBoxLayout;
  auto* portLabel = new QLabel("COM &port:", this);
  portLabel->setBuddy(port_);
  portRow->addWidget(portLabel);
  // Its entries change with the connection: the field keeps one width, so that the
  // window does not change its width with them, and the list that drops down shows
  // each entry whole.
  port_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  port_->setMinimumContentsLength(22);
  port_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  portRow->addWidget(port_);
  portRow->addSpacing(12);
  auto* connectionLabel = new QLabel("Connected &to:", this);
  connectionLabel->setBuddy(connection_);
  portRow->addWidget(connectionLabel);
  portRow->addWidget(connection_, 1);
  layout->addLayout(portRow);
  connection_->setEditable(true);
  // What is typed is a value to use, not an entry to add to the list.
  connection_->setInsertPolicy(QComboBox::NoInsert);
  // A port's description is long; the list that drops down shows it whole.
  connection_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  connection_->setMinimumContentsLength(26);
  connection_->lineEdit()->setPlaceholderText("device path, rfc2217://HOST:PORT or sim");
  connection_->setToolTip(
      "What the COM port is: a serial port of this machine, the simulated KV70 (sim), a "
      "serial port on the network (rfc2217://HOST:PORT) or any device path");
  connectionProblem_->setWordWrap(true);
  QPalette problemColours = connectionProblem_->palette();
  problemColours.setColor(QPalette::WindowText, QColor(0xb0, 0x00, 0x20));
  connectionProblem_->setPalette(problemColours);
  connectionProblem_->hide();
  layout->addWidget(connectionProblem_);

  auto* buttons = new QHBoxLayout;
  history_->setToolTip("The service records of the runs on this machine");
  buttons->addWidget(history_);
  buttons->addStretch(1);
  buttons->addWidget(start_);
  layout->addLayout(buttons);
  RefreshPorts();
  port_->setCurrentIndex(port - 1);
  ShowConnection();
  connect(port_, &QComboBox::currentIndexChanged, this, [this] {
    connectionProblem_->hide();
    ShowConnection();
  });
  connect(connection_, &QComboBox::activated, this, [this](int index) {
    if (connection_->itemData(index, kPatternRole).toBool()) {
      // The address is the user's to complete.
      showing_ = true;
      connection_->setEditText(kNetworkPattern);
      showing_ = false;
      connection_->lineEdit()->setFocus();
      return;
    }
    ApplyConnection();
  });
  connect(connection_->lineEdit(), &QLineEdit::editingFinished, this,
          [this] { ApplyConnection(); });
  connect(operations_, &QListWidget::currentRowChanged, this, [this](int row) {
    description_->setText(row >= 0 ? ToQt(plugin_.OperationDescription(row)) : QString());
    start_->setEnabled(row >= 0);
  });
  start_->setDefault(true);
  // Enter on an operation, or a double click, starts it as Start does.
  connect(operations_, &QListWidget::itemActivated, this, [this] {
    if (start_->isEnabled()) start_->click();
  });
  operations_->setCurrentRow(0);
}

void StartWindow::closeEvent(QCloseEvent* event) {
  if (onClose && !onClose()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void StartWindow::RefreshPorts() {
  RefreshComPorts();
  {
    const QSignalBlocker quiet(connection_);
    connection_->clear();
    for (const platform::SerialPortInfo& info : listPorts_()) {
      connection_->addItem(ToQt(DescribeSerialPort(info)), ToQt(info.path));
      const int at = connection_->count() - 1;
      connection_->setItemData(at, ToQt(info.byId), kLinkRole);
      if (!info.byId.empty()) connection_->setItemData(at, ToQt(info.byId), Qt::ToolTipRole);
    }
    connection_->addItem("sim  (simulated KV70)", "sim");
    connection_->addItem("rfc2217://HOST:PORT  (a serial port on the network)");
    connection_->setItemData(connection_->count() - 1, true, kPatternRole);
  }
  // The field may be narrower than a description; the list that drops down is not.
  for (QComboBox* box : {connection_, port_}) {
    QAbstractItemView* list = box->view();
    list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() + 24);
  }
  ShowConnection();
}

void StartWindow::RefreshComPorts() {
  const QSignalBlocker quiet(port_);
  const int current = port_->currentIndex();
  port_->clear();
  for (int n = 1; n <= 6; ++n) {
    const std::string target = ComPortTarget(n);
    QString text = QString("COM%1  (%2)").arg(n).arg(ToQt(target));
    if (IsSimulator(target)) text = QString("COM%1  (simulated KV70: %2)").arg(n).arg(ToQt(target));
    port_->addItem(text);
  }
  if (current >= 0) port_->setCurrentIndex(current);
}

void StartWindow::ShowConnection() {
  const QString target = ToQt(ComPortTarget(chosenPort()));
  int index = -1;
  for (int i = 0; i < connection_->count() && index < 0; ++i) {
    const QString link = connection_->itemData(i, kLinkRole).toString();
    if (connection_->itemData(i, kValueRole).toString() == target ||
        (!link.isEmpty() && link == target))
      index = i;
  }
  showing_ = true;
  connection_->setCurrentIndex(index);
  connection_->setEditText(index >= 0 ? connection_->itemText(index) : target);
  // A description begins with the path: that part is the one to see.
  connection_->lineEdit()->setCursorPosition(0);
  showing_ = false;
}

std::string StartWindow::ConnectionValue() const {
  const QString text = connection_->currentText().trimmed();
  for (int i = 0; i < connection_->count(); ++i) {
    if (connection_->itemText(i) == text && !connection_->itemData(i, kPatternRole).toBool())
      return connection_->itemData(i, kValueRole).toString().toLocal8Bit().toStdString();
  }
  return text.toLocal8Bit().toStdString();
}

bool StartWindow::ApplyConnection() {
  if (showing_) return true;
  const int port = chosenPort();
  const std::string value = ConnectionValue();
  if (value == ComPortTarget(port)) {
    connectionProblem_->hide();
    return true;
  }
  std::string error = value.empty() ? "Give a device path, rfc2217://HOST:PORT or sim." : "";
  if (error.empty() && !UseDevice(port, value, error)) {
    // Said as for the command line's --device; here the value stands on its own.
    const std::string option = "--device ";
    if (error.rfind(option, 0) == 0) error.erase(0, option.size());
  }
  if (!error.empty()) {
    // The text stays as typed, to be corrected; the COM port keeps what it was.
    connectionProblem_->setText(ToQt(error));
    connectionProblem_->show();
    return false;
  }
  connectionProblem_->hide();
  RefreshComPorts();
  ShowConnection();
  return true;
}

DesktopApp::DesktopApp(GuiOptions options)
    : options_(std::move(options)),
      screenshots_(options_.screenshots ? ToQt(*options_.screenshots) : QString()) {}

DesktopApp::~DesktopApp() {
  uimodel::SetBackend(nullptr);
}

void DesktopApp::Refuse(const std::string& text) {
  Complain(text);
  if (!options_.unattended) QMessageBox::critical(nullptr, "Velmora", ToQt(text));
}

bool DesktopApp::Begin(int& status) {
  const auto refused = [this, &status](const PlanRefusal& refusal) {
    Refuse(refusal.text);
    status = refusal.status;
    return false;
  };
  // What would destroy something or never end is refused before anything is shown.
  const std::vector<RunFile> outputs = {{"--log-file", options_.logFile.value_or("")}};
  if (const std::optional<PlanRefusal> refusal =
          CheckDeviceAndOutputs(options_.port, options_.device, outputs))
    return refused(*refusal);
  // Nor may the log file be anything the run reads.
  std::optional<std::string> firmwareFile;
  if (options_.firmware && QFileInfo(ToQt(*options_.firmware)).isFile())
    firmwareFile = options_.firmware;
  if (const std::optional<PlanRefusal> refusal = CheckOutputClash(outputs, firmwareFile))
    return refused(*refusal);
  PlanRefusal refusal;
  plugin_ = LoadRunPlugin(options_.plugin, refusal);
  if (!plugin_) return refused(refusal);
  int chosen = 0;
  if (options_.operation) {
    chosen = ChooseRunOperation(*plugin_, *options_.operation, refusal);
    if (chosen < 0) return refused(refusal);
  } else if (options_.unattended) {
    return refused(PlanRefusal{"--auto needs the operation to run", kExitUsage});
  }
  const InstallReport report = SetUpHost();
  if (!report.problem.empty()) Complain("warning: " + report.problem);

  InstallFocusStyle();
  InstallDialogFontMetrics();
  GuiSettings settings;
  settings.unattended = options_.unattended;
  settings.yes = options_.yes;
  settings.listChoice = options_.firmware;
  settings.editText = options_.logFile;
  backend_ =
      std::make_shared<GuiBackend>(settings, screenshots_.enabled() ? &screenshots_ : nullptr);
  backend_->onBox = [this](const std::string& text) {
    if (recorder_) recorder_->BoxShown(text);
  };
  uimodel::SetBackend(backend_);

  start_ = std::make_unique<StartWindow>(*plugin_, options_.port);
  start_->operations()->setCurrentRow(chosen);
  backend_->SetOwnerWindow(start_.get());
  start_->onClose = [this] {
    // A run is stopped in its own window, where its questions are asked.
    if (inOperation_ && (!run_ || run_->running())) return false;
    Finish(status_);
    return true;
  };
  QObject::connect(start_->start(), &QPushButton::clicked, start_.get(), [this] {
    // A connection typed and not yet taken counts; one that is no device stops here.
    if (!start_->ApplyConnection()) return;
    StartOperation(start_->chosenOperation(), start_->chosenPort());
  });
  QObject::connect(start_->history(), &QPushButton::clicked, start_.get(),
                   [this] { ShowHistory(); });
  start_->show();
  if (screenshots_.enabled()) screenshots_.Take(start_.get(), "Velmora");
  if (options_.unattended) {
    QMetaObject::invokeMethod(
        start_.get(), [this, chosen] { StartOperation(chosen, options_.port); },
        Qt::QueuedConnection);
  }
  return true;
}

void DesktopApp::StartOperation(int op, int port) {
  if (op < 0 || run_ || inOperation_) return;
  inOperation_ = true;
  start_->start()->setEnabled(false);
  // The wizard: the operation's pages, then ours.
  inWizard_ = true;
  const bool finished = RunOperationWizard(*plugin_, op, port) && !stopRequested_;
  inWizard_ = false;
  if (!backend_->WizardProblem().empty()) {
    Complain(backend_->WizardProblem());
    Finish(kExitUsage);
    return;
  }
  if (!finished) {
    std::printf("%s\n", kCancelledBeforeRun);
    std::fflush(stdout);
    // Until something else is done, closing velmora-gui says the last thing was cancelled.
    status_ = kExitCancelled;
    inOperation_ = false;
    if (options_.unattended) {
      Finish(kExitCancelled);
    } else {
      start_->start()->setEnabled(true);
      start_->activateWindow();
    }
    return;
  }
  // The run.
  PluginLibrary& lib = *plugin_;
  run_ = std::make_unique<RunWindow>([&lib](RunRecord& record) { return lib.DoOperation(record); },
                                     RunRequest{op, port}, ToQt(plugin_->OperationName(op)));
  backend_->SetOwnerWindow(run_.get());
  run_->SetOutputFile(QString::fromLocal8Bit(backend_->FieldText().c_str()));
  run_->GiveUpAfter(GiveUpLimit(options_));
  run_->onNotice = [](const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  };
  run_->onHalfWay = [this] {
    if (screenshots_.enabled()) screenshots_.Take(run_.get(), run_->windowTitle());
  };
  run_->onCloseRequested = [this] { Finish(kExitCancelled); };
  run_->onEnded = [this](int result) {
    std::printf("%s\n", run_->outcome().c_str());
    if (!run_->warning().empty()) std::printf("%s\n", run_->warning().c_str());
    if (screenshots_.enabled()) screenshots_.Take(run_.get(), run_->windowTitle() + " done");
    status_ = run_->exitStatus();
    if (recorder_) {
      std::string warning;
      recordId_ = FinishRunRecord(*recorder_, run_->runOutcome(), run_->line(), warning);
      if (recordId_) {
        std::printf("Service record %lld.\n", static_cast<long long>(*recordId_));
      } else {
        Complain(warning);
      }
    }
    std::fflush(stdout);
    // Whoever sent the stop signal waits for velmora-gui to end, not for a Close.
    if (options_.unattended || stopRequested_) Finish(status_);
  };
  QObject::connect(run_.get(), &QDialog::finished, run_.get(), [this] { RunClosed(); });
  run_->SetLogFile(backend_->FieldText());
  run_->show();
  CentreOn(run_.get(), start_.get());
  // Written while the port opens: the begun record's disk sync need not hold the run up.
  recorder_ = std::make_unique<RunRecorder>(RecordStoreFor(options_.ledger));
  recordId_.reset();
  recorder_->Begin(
      StartOfRun(plugin_->OperationName(op), port, backend_->ListText(), backend_->FieldText()));
  run_->HoldForRecord(*recorder_);
  run_->Begin();
}

void DesktopApp::ShowHistory() {
  if (!history_) {
    history_ = std::make_unique<HistoryWindow>(LocalRecords(), start_.get());
  } else {
    history_->Reload();
  }
  history_->show();
  history_->raise();
  history_->activateWindow();
  if (screenshots_.enabled()) screenshots_.Take(history_.get(), history_->windowTitle());
}

void DesktopApp::StopRequested() {
  if (stopRequested_ || finished_) return;
  stopRequested_ = true;
  if (run_ && run_->running()) {
    run_->RequestCancel();
    return;
  }
  if (run_) {
    Finish(status_);
    return;
  }
  // Nothing has started: leave as a Cancel in the wizard does. A wizard in progress
  // returns from its window and says so itself.
  if (!inWizard_) std::printf("%s\n", kCancelledBeforeRun);
  std::fflush(stdout);
  Finish(kExitCancelled);
}

void DesktopApp::RunClosed() {
  if (options_.unattended || finished_) {
    Finish(status_);
    return;
  }
  // The window goes once the signal that closed it has returned.
  RunWindow* closed = run_.release();
  closed->hide();
  closed->deleteLater();
  backend_->SetOwnerWindow(start_.get());
  inOperation_ = false;
  start_->start()->setEnabled(start_->chosenOperation() >= 0);
  start_->activateWindow();
  start_->operations()->setFocus();
}

void DesktopApp::Finish(int status) {
  if (finished_) return;
  finished_ = true;
  status_ = status;
  if (onFinished) onFinished(status);
}

}  // namespace velmora::desktop
