#include "host/desktop/run_window.h"

#include <QFileInfo>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QStyle>
#include <QVBoxLayout>

#include "host/core/run_warnings.h"
#include "host/core/session.h"
#include "host/core/text.h"
#include "platform/clock.h"
#include "platform/comm_port.h"

namespace velmora::desktop {

namespace {

// How often the event loop serves the host window during a run. A send from the run
// waits at most this long; the loop is never blocked by it.
constexpr int kServeIntervalMs = 5;

QString ToQt(const std::string& text) {
  return QString::fromLocal8Bit(text.c_str());
}

}  // namespace

RunWindow::RunWindow(RunFunction run, const RunRequest& request, const QString& operationName,
                     QWidget* parent)
    : QDialog(parent),
      session_(std::move(run), *this),
      request_(request),
      operationName_(operationName),
      caption_(new QLabel(this)),
      log_(new QListWidget(this)),
      progress_(new QProgressBar(this)),
      detail_(new QLabel(this)),
      elapsed_(new QLabel("0:00", this)),
      cancel_(new QPushButton("Cancel", this)),
      result_(new QLabel(this)),
      warning_(new QLabel(this)) {
  setWindowTitle("Velmora - " + operationName);
  session_.SetProgramName("velmora-gui");
  QFont bold = caption_->font();
  bold.setBold(true);
  caption_->setFont(bold);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setFormat("%p%");
  log_->setMinimumSize(460, 160);
  // A long status line (a retry and its count) is read whole, not scrolled to.
  log_->setWordWrap(true);
  log_->setResizeMode(QListView::Adjust);
  log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  result_->setWordWrap(true);
  // The warning about the program flash stands out from the log, where it could scroll
  // by unread.
  auto* warningBox = new QFrame(this);
  warningBox->setObjectName("programWarning");
  warningBox->setStyleSheet(
      "#programWarning { background: #fff4ce; border: 1px solid #c99700; border-radius: 3px; }");
  auto* warningIcon = new QLabel(warningBox);
  warningIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
  warningIcon->setAlignment(Qt::AlignTop);
  QFont strong = warning_->font();
  strong.setBold(true);
  warning_->setFont(strong);
  warning_->setWordWrap(true);
  warning_->setParent(warningBox);
  auto* warningRow = new QHBoxLayout(warningBox);
  warningRow->addWidget(warningIcon);
  warningRow->addWidget(warning_, 1);
  warningBox->hide();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption_);
  layout->addWidget(log_, 1);
  auto* bar = new QHBoxLayout;
  bar->addWidget(progress_, 1);
  // Room for the longest detail from the start, so that the bar keeps its length.
  detail_->setMinimumWidth(
      detail_->fontMetrics().horizontalAdvance("00:00 left  1,024 of 1,024 KiB"));
  detail_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  bar->addWidget(detail_);
  bar->addSpacing(8);
  bar->addWidget(elapsed_);
  layout->addLayout(bar);
  layout->addWidget(result_);
  layout->addWidget(warningBox);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, [this] { OnCancel(); });
  pump_.setInterval(kServeIntervalMs);
  connect(&pump_, &QTimer::timeout, this, [this] { Serve(); });
}

RunWindow::~RunWindow() = default;

void RunWindow::Begin() {
  running_ = true;
  // Installed for the run: the port the run opens reports what crosses the line.
  platform::SetWireTap(&line_.Tap());
  session_.Begin(request_);
  pump_.start();
}

void RunWindow::Serve() {
  if (session_.Pump(0)) return;
  pump_.stop();
  running_ = false;
  // A question about the run in progress has no subject any more.
  if (question_) question_->done(QMessageBox::No);
  int result = OPERATION_FAILED;
  try {
    result = session_.End();
  } catch (const std::exception& e) {
    log_->addItem(QString("The run failed: ") + e.what());
  }
  platform::SetWireTap(nullptr);
  outcome_ = OutcomeOf(operationName_.toLocal8Bit().toStdString(), result, session_.GaveUp(),
                       session_.GiveUpReason());
  result_->setText(ToQt(outcome_.line));
  const RunWarnings warnings =
      WarningsAfterRun(result, line_, completenessNote_, logFile_, request_.comPort);
  // The whole of the port's problem now (a missing path gets the ports present), or what
  // was shown during the run.
  const std::string portProblem = warnings.portProblem.empty() && result != OPERATION_SUCCEEDED
                                      ? portProblem_
                                      : warnings.portProblem;
  warningText_.clear();
  // The completeness note was said at the start of the run, where the log scrolls it away.
  for (const std::string* text :
       {&warnings.incompleteProgram, &warnings.completeness, &portProblem, &warnings.partialDump}) {
    if (!text->empty()) warningText_ += (warningText_.empty() ? "" : "\n") + *text;
  }
  ShowWarning();
  if (const std::string word = EndedBarWord(result, session_.GaveUp()); !word.empty()) {
    // The bar stays where the run stopped and says why it stopped there.
    progress_->setFormat("%p% " + ToQt(word));
    QPalette ended = progress_->palette();
    ended.setColor(QPalette::Highlight, result == OPERATION_CANCELED && !session_.GaveUp()
                                            ? QColor(0x9a, 0x8a, 0x40)
                                            : QColor(0xb0, 0x30, 0x30));
    progress_->setPalette(ended);
  }
  ShowDetail();
  cancel_->setText("Close");
  cancel_->setEnabled(true);
  if (onEnded) onEnded(result);
}

void RunWindow::Start() {
  startMs_ = platform::GetClock().NowMs();
  estimate_.Start(startMs_);
  log_->clear();
  progress_->setValue(0);
  progress_->setFormat("%p%");
  progress_->setPalette(QPalette());
  detail_->clear();
  lastStatus_.clear();
  repeatItem_ = nullptr;
  repeats_ = 0;
  completenessNote_.clear();
  outcome_ = RunOutcome{};
  warningText_.clear();
  portProblem_.clear();
  warning_->parentWidget()->hide();
}

void RunWindow::PortProblem(const std::string& line) {
  portProblem_ = line;
  warningText_ = line;
  ShowWarning();
}

void RunWindow::ShowWarning() {
  // A run that succeeded after all has nothing to warn of.
  if (warningText_.empty()) {
    warning_->parentWidget()->hide();
    return;
  }
  warning_->setText(ToQt(warningText_));
  warning_->parentWidget()->show();
}

void RunWindow::Caption(const std::string& caption) {
  caption_->setText(ToQt(caption));
  setWindowTitle(ToQt(caption));
}

void RunWindow::Status(const std::string& text) {
  if (MarksUncheckedCompleteness(text)) completenessNote_ = text;
  if (ToQt(text).trimmed().isEmpty()) return;
  if (!lastStatus_.empty() && text == lastStatus_) {
    const QString line = ToQt(RepeatLine(text, ++repeats_));
    if (repeatItem_) {
      repeatItem_->setText(line);
      return;
    }
    repeatItem_ = new QListWidgetItem(line);
    log_->addItem(repeatItem_);
    log_->scrollToBottom();
    return;
  }
  lastStatus_ = text;
  repeatItem_ = nullptr;
  repeats_ = 0;
  for (const QString& line : ToQt(text).split('\n')) {
    if (!line.trimmed().isEmpty()) log_->addItem(line);
  }
  log_->scrollToBottom();
}

void RunWindow::Progress(long position) {
  std::optional<std::uint64_t> bytes;
  if (!outputFile_.isEmpty()) {
    // The run waits while its position is handled: the file holds what the position
    // counts.
    const QFileInfo file(outputFile_);
    if (file.exists() && file.isFile()) bytes = static_cast<std::uint64_t>(file.size());
  }
  estimate_.Position(position, platform::GetClock().NowMs(), bytes);
  ShowDetail();
  progress_->setValue(ClampPercent(position));
  if (!halfWay_ && ClampPercent(position) >= 50) {
    halfWay_ = true;
    Tick();
    if (onHalfWay) onHalfWay();
  }
}

void RunWindow::Tick() {
  const std::uint64_t now = platform::GetClock().NowMs();
  elapsed_->setText(ToQt(FormatElapsed(now > startMs_ ? now - startMs_ : 0)));
  ShowDetail();
}

void RunWindow::ShowDetail() {
  const QString text =
      ToQt(running_                  ? estimate_.Detail(platform::GetClock().NowMs())
           : estimate_.OutputBytes() ? FormatKiB(*estimate_.OutputBytes(), estimate_.OutputTotal())
                                     : std::string());
  if (detail_->text() != text) detail_->setText(text);
}

void RunWindow::Notice(const std::string& text) {
  // Whatever comes next is new, even the status text shown before.
  lastStatus_.clear();
  repeatItem_ = nullptr;
  repeats_ = 0;
  log_->addItem(ToQt(text));
  log_->scrollToBottom();
  if (onNotice) onNotice(text);
}

QString RunWindow::StopQuestion() {
  if (line_.EraseReachedSoFar()) {
    return "Stop the " + operationName_.toLower() +
           " now?\n\nThe KV70's program flash is being erased and written. Stopped now, "
           "the KV70 will be left without a working application until an upgrade "
           "completes.";
  }
  if (!outputFile_.isEmpty()) {
    return "Stop the " + operationName_.toLower() + " now?\n\nThe log file " + outputFile_ +
           " will be incomplete: it holds only what was read so far.";
  }
  return {};
}

bool RunWindow::Ask(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Question, "Velmora", text,
                              QMessageBox::Yes | QMessageBox::No, this);
  box->setDefaultButton(QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose, false);
  question_ = box;
  const int answer = box->exec();
  question_ = nullptr;
  delete box;
  // The run may have ended while the box was open: then there is nothing to stop.
  return answer == QMessageBox::Yes && running_;
}

void RunWindow::OnCancel() {
  if (!running_) {
    QDialog::accept();
    return;
  }
  if (question_) return;
  if (!session_.CancelRequested()) {
    if (const QString question = StopQuestion(); !question.isEmpty() && !Ask(question)) return;
    if (running_) session_.Cancel();
    return;
  }
  if (Ask("The operation is stopping at its next safe point.\n\nClose Velmora now?") &&
      onCloseRequested)
    onCloseRequested();
}

void RunWindow::RequestCancel() {
  if (running_ && !session_.CancelRequested()) session_.Cancel();
}

void RunWindow::reject() {
  OnCancel();
}

}  // namespace velmora::desktop
