#include "host/desktop/desktop_app.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <cstdio>

#include "host/core/exit_codes.h"
#include "host/core/host_module.h"
#include "host/core/install_settings.h"
#include "host/core/operation_choice.h"
#include "host/core/session.h"
#include "host/core/summary_page.h"
#include "host/desktop/model_view.h"

namespace velmora::desktop {

namespace {

QString ToQt(const std::string& text) {
  return QString::fromLocal8Bit(text.c_str());
}

void Complain(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "velmora-gui: %s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace

StartWindow::StartWindow(const PluginLibrary& plugin, int port)
    : plugin_(plugin),
      operations_(new QListWidget(this)),
      description_(new QLabel(this)),
      port_(new QComboBox(this)),
      start_(new QPushButton("&Start", this)) {
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
  portRow->addWidget(port_, 1);
  layout->addLayout(portRow);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(start_);
  layout->addLayout(buttons);
  RefreshPorts();
  port_->setCurrentIndex(port - 1);
  connect(operations_, &QListWidget::currentRowChanged, this, [this](int row) {
    description_->setText(row >= 0 ? ToQt(plugin_.OperationDescription(row)) : QString());
    start_->setEnabled(row >= 0);
  });
  start_->setDefault(true);
  operations_->setCurrentRow(0);
}

void StartWindow::RefreshPorts() {
  const int current = port_->currentIndex();
  port_->clear();
  for (int n = 1; n <= 6; ++n) {
    const std::string target = ComPortTarget(n);
    QString text = QString("COM%1  (%2)").arg(n).arg(ToQt(target));
    if (target == "sim" || target.rfind("sim:", 0) == 0)
      text = QString("COM%1  (simulated KV70: %2)").arg(n).arg(ToQt(target));
    port_->addItem(text);
  }
  if (current >= 0) port_->setCurrentIndex(current);
}

DesktopApp::DesktopApp(GuiOptions options)
    : options_(std::move(options)),
      screenshots_(options_.screenshots ? ToQt(*options_.screenshots) : QString()) {}

DesktopApp::~DesktopApp() {
  uimodel::SetBackend(nullptr);
}

bool DesktopApp::Begin(int& status) {
  if (options_.device) {
    std::string error;
    if (!UseDevice(options_.port, *options_.device, error)) {
      Complain(error);
      status = kExitUsage;
      return false;
    }
  }
  std::string error;
  status = kExitFailed;
  plugin_ = LoadPlugin(options_.plugin, error, status);
  if (!plugin_) {
    Complain(error);
    return false;
  }
  int chosen = 0;
  if (options_.operation) {
    std::vector<std::string> names;
    for (int i = 0; i < plugin_->OperationCount(); ++i) names.push_back(plugin_->OperationName(i));
    chosen = ChooseOperation(*options_.operation, names, error);
    if (chosen < 0) {
      Complain(error);
      status = kExitUsage;
      return false;
    }
  } else if (options_.unattended) {
    Complain("--auto needs the operation to run");
    status = kExitUsage;
    return false;
  }
  RegisterHostModule();
  const InstallReport report = EnsureInstallSettings(DefaultDataDirectory());
  if (!report.problem.empty()) Complain("warning: " + report.problem);

  InstallDialogFontMetrics();
  GuiSettings settings;
  settings.unattended = options_.unattended;
  settings.yes = options_.yes;
  settings.listChoice = options_.firmware;
  settings.editText = options_.logFile;
  backend_ =
      std::make_shared<GuiBackend>(settings, screenshots_.enabled() ? &screenshots_ : nullptr);
  uimodel::SetBackend(backend_);

  start_ = std::make_unique<StartWindow>(*plugin_, options_.port);
  start_->operations()->setCurrentRow(chosen);
  backend_->SetOwnerWindow(start_.get());
  QObject::connect(start_->start(), &QPushButton::clicked, start_.get(),
                   [this] { StartOperation(start_->chosenOperation(), start_->chosenPort()); });
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
  if (op < 0 || run_) return;
  start_->start()->setEnabled(false);
  // The wizard: the operation's pages, then ours.
  bool finished = false;
  {
    CPropertySheet sheet("Velmora");
    for (int p = 0; p < plugin_->PageCount(op); ++p) {
      if (CPropertyPage* page = plugin_->Page(op, p)) sheet.AddPage(page);
    }
    const PluginLibrary& lib = *plugin_;
    SummaryPage summary([&lib, op, port] { return MakeSummaryTexts(lib, op, port); },
                        sheet.GetPageCount() > 0);
    sheet.AddPage(&summary);
    sheet.SetWizardMode();
    sheet.DoModal();
    finished = sheet.IsFinished();
  }
  if (!backend_->WizardProblem().empty()) {
    Complain(backend_->WizardProblem());
    Finish(kExitUsage);
    return;
  }
  if (!finished) {
    std::printf("Cancelled before the operation started.\n");
    if (options_.unattended) {
      Finish(kExitCancelled);
    } else {
      start_->start()->setEnabled(true);
    }
    return;
  }
  // The run.
  PluginLibrary& lib = *plugin_;
  run_ = std::make_unique<RunWindow>([&lib](RunRecord& record) { return lib.DoOperation(record); },
                                     RunRequest{op, port}, ToQt(plugin_->OperationName(op)));
  backend_->SetOwnerWindow(run_.get());
  run_->onHalfWay = [this] {
    if (screenshots_.enabled()) screenshots_.Take(run_.get(), run_->windowTitle());
  };
  run_->onCloseRequested = [this] { Finish(kExitCancelled); };
  const std::string name = plugin_->OperationName(op);
  run_->onEnded = [this, name](int result) {
    std::printf("%s %s.\n", name.c_str(), ResultText(result));
    std::fflush(stdout);
    if (screenshots_.enabled()) screenshots_.Take(run_.get(), run_->windowTitle() + " done");
    status_ = ExitStatusForResult(result);
    if (options_.unattended) Finish(status_);
  };
  QObject::connect(run_.get(), &QDialog::finished, run_.get(), [this] { Finish(status_); });
  run_->show();
  run_->Begin();
}

void DesktopApp::Finish(int status) {
  if (finished_) return;
  finished_ = true;
  status_ = status;
  if (onFinished) onFinished(status);
}

}  // namespace velmora::desktop
