// velmora-gui: the desktop host. The same plug-in, device, registry and page inputs as
// velmora, in windows: the start window, the wizard, the plug-in's dialogs and the run.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "host/core/exit_codes.h"
#include "host/core/give_up.h"
#include "host/core/ledger.h"
#include "host/core/plugin_library.h"
#include "host/core/real_device_help.h"
#include "host/core/run_plan.h"
#include "host/core/session.h"
#include "host/core/version.h"
#include "host/desktop/desktop_app.h"
#include "host/desktop/stall_meter.h"
#ifndef _WIN32
#include "host/desktop/station_window.h"
#endif
#include "host/desktop/stop_signals.h"
#include "sim/sim_port.h"

namespace {

// As velmora's: a year.

bool WantsHelpOrVersion(const QCommandLineParser& parser) {
  return parser.isSet("help") || parser.isSet("version");
}

int PrintHelpOrVersion(const QCommandLineParser& parser) {
  if (parser.isSet("version")) {
    std::printf("%s\n", velmora::VersionLine("velmora-gui").c_str());
  } else {
    std::printf("%s\n%s", parser.helpText().toLocal8Bit().constData(),
                velmora::RealDeviceHelp(velmora::HelpFor::Desktop).c_str());
  }
  return velmora::kExitSucceeded;
}

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer sinceStart;
  sinceStart.start();
  QCoreApplication::setApplicationName("velmora-gui");
  QCoreApplication::setApplicationVersion(velmora::ProjectVersion());
  using velmora::desktop::GuiOptions;

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "velmora-gui: maintains a device through its plug-in, in windows.");
  // Not addHelpOption: its --help-all lists the toolkit's options, which are not ours.
  const QCommandLineOption help(QStringList{"h", "?", "help"}, "show this help and end");
  parser.addOption(help);
  parser.addVersionOption();
  parser.addPositionalArgument("OPERATION",
                               "with --auto: the index or a name word of the operation to run");
  const QCommandLineOption device(
      "device",
      "what the COM port is: a device path, a serial port on the network as "
      "rfc2217://HOST:PORT, or sim[:key=value,...] for the simulated KV70",
      "DEVICE");
  const QCommandLineOption port("port", "COM port number, 1 to 6 (default 1)", "N", "1");
  const QCommandLineOption registry(
      "registry",
      "registry database to use (default: $VELMORA_REGISTRY, else ~/.config/velmora/registry.db)",
      "FILE");
  const QCommandLineOption plugin(
      "plugin",
      "the device plug-in (default: DevKV70.so beside velmora-gui, else the installed one)",
      "FILE");
  const QCommandLineOption monitor(
      "monitor-image", "the KV70's own 8554-byte flash monitor program (sets VELMORA_KV70_MONITOR)",
      "FILE");
  const QCommandLineOption shots("screenshots", "write every window shown to DIR as PNG", "DIR");
  const QCommandLineOption unattended(
      "auto",
      "run with nobody asked: pages filled from the page inputs (a page with a list needs "
      "--firmware), boxes answered OK, questions No unless --yes");
  const QCommandLineOption firmware(
      "firmware", "page input: the list item with this text, or an S-record file, registered first",
      "TEXT");
  const QCommandLineOption logFile("log-file", "page input: the file name for the page's field",
                                   "FILE");
  const QCommandLineOption yes("yes", "answer Yes to the operation's questions");
  const QCommandLineOption giveUp(
      "give-up-after",
      "SECONDS without a change of progress after which the run is cancelled and counts as "
      "failed (default: 300 with --auto, never otherwise; 0: never; else at least 30)",
      "SECONDS");
  const QCommandLineOption ledger(
      "ledger",
      "also write the runs' service records to the depot's PostgreSQL ledger, "
      "postgresql://USER@HOST/DATABASE (default: $VELMORA_LEDGER); refused when it cannot be "
      "reached",
      "URL");
  const QCommandLineOption station("station",
                                   "open the Station window: OPERATION on many devices at once, "
                                   "each slot in a process of its own");
  const QCommandLineOption slot("slot", "with --station: a slot's port, as --device takes it",
                                "PORT");
  const QCommandLineOption logDir("log-dir", "with --station: the dumps' folder", "DIR");
  // For the benchmark: print the milliseconds from main to the start window shown, and end.
  QCommandLineOption firstWindow("first-window-ms", "print the time to the first window and end");
  firstWindow.setFlags(QCommandLineOption::HiddenFromHelp);
  // For the benchmark: measure the event loop's stalls during SECONDS of the run, then
  // Cancel, and print what was measured.
  QCommandLineOption measure("measure-stalls", "measure the event loop during a run", "SECONDS");
  measure.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOptions({device, port, registry, plugin, monitor, shots, unattended, firmware, logFile,
                     yes, giveUp, ledger, firstWindow, measure});
#ifndef _WIN32
  parser.addOptions({station, slot, logDir});
#endif
  // --help and --version need no display (the manual page is made from them at build
  // time): answered before the window system is opened. The arguments are read again once
  // it is, since Qt takes its own (-platform, ...) out of them.
  {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (parser.parse(arguments) && WantsHelpOrVersion(parser)) {
      QCoreApplication core(argc, argv);  // the help's usage line names the program from it
      return PrintHelpOrVersion(parser);
    }
  }
  QApplication app(argc, argv);
  if (!parser.parse(QApplication::arguments())) {
    std::fprintf(stderr, "velmora-gui: %s\n", parser.errorText().toLocal8Bit().constData());
    return velmora::kExitUsage;
  }
  if (WantsHelpOrVersion(parser)) return PrintHelpOrVersion(parser);

  GuiOptions options;
  options.plugin =
      parser.isSet(plugin) ? parser.value(plugin).toStdString() : velmora::DefaultPluginPath();
  bool portOk = false;
  options.port = parser.value(port).toInt(&portOk);
  if (!portOk || options.port < 1 || options.port > 6) {
    std::fprintf(stderr, "velmora-gui: --port must be 1 to 6\n");
    return velmora::kExitUsage;
  }
  if (parser.isSet(device)) options.device = parser.value(device).toStdString();
  if (parser.isSet(shots)) options.screenshots = parser.value(shots).toStdString();
  options.unattended = parser.isSet(unattended);
  if (!parser.positionalArguments().isEmpty())
    options.operation = parser.positionalArguments().front().toStdString();
  if (parser.isSet(firmware)) options.firmware = parser.value(firmware).toStdString();
  if (parser.isSet(logFile)) options.logFile = parser.value(logFile).toStdString();
  options.yes = parser.isSet(yes);
  if (parser.isSet(giveUp)) {
    bool ok = false;
    const qulonglong seconds = parser.value(giveUp).toULongLong(&ok);
    const std::string problem =
        ok ? velmora::GiveUpSecondsProblem(seconds)
           : "takes whole seconds, not \"" + parser.value(giveUp).toStdString() + "\"";
    if (!problem.empty()) {
      std::fprintf(stderr, "velmora-gui: --give-up-after %s\n", problem.c_str());
      return velmora::kExitUsage;
    }
    options.giveUpSeconds = static_cast<std::uint32_t>(seconds);
  }
  if (parser.isSet(registry)) {
    std::string error;
    if (!velmora::UseRegistry(parser.value(registry).toStdString(), error)) {
      std::fprintf(stderr, "velmora-gui: %s\n", error.c_str());
      return velmora::kExitUsage;
    }
  }
  // The plug-in reads the monitor program itself and judges the file.
  if (parser.isSet(monitor)) {
    std::string error;
    if (!velmora::UseMonitorImage(parser.value(monitor).toLocal8Bit().toStdString(), error)) {
      std::fprintf(stderr, "velmora-gui: %s\n", error.c_str());
      return velmora::kExitUsage;
    }
  }

  // The depot's ledger is reached before any window or port: unreachable, nothing runs.
  std::unique_ptr<velmora::RecordStore> records;
  if (const std::optional<std::string> url = velmora::LedgerUrlInUse(
          parser.isSet(ledger) ? std::optional<std::string>(parser.value(ledger).toStdString())
                               : std::nullopt)) {
    if (!velmora::IsLedgerUrl(*url)) {
      std::fprintf(stderr, "velmora-gui: --ledger %s: not a PostgreSQL URL\n",
                   velmora::MaskedLedgerUrl(*url).c_str());
      return velmora::kExitUsage;
    }
    velmora::PlanRefusal refusal;
    records = velmora::ReachLedger(
        *url,
        [](const std::string& text) { std::fprintf(stderr, "velmora-gui: %s\n", text.c_str()); },
        refusal);
    if (!records) {
      std::fprintf(stderr, "velmora-gui: %s\n", refusal.text.c_str());
      if (!options.unattended)
        QMessageBox::critical(nullptr, "Velmora", QString::fromStdString(refusal.text));
      return refusal.status;
    }
    options.ledger = *url;
  }

#ifndef _WIN32
  if (parser.isSet(station)) {
    return velmora::desktop::RunStation(
        options, parser.values(slot),
        parser.isSet(logDir) ? std::optional<std::string>(parser.value(logDir).toStdString())
                             : std::nullopt);
  }
#endif
  kv70sim::RegisterInProcessBackend();
  velmora::desktop::DesktopApp desktop(options);
  int status = velmora::kExitFailed;
  desktop.onFinished = [](int code) { QApplication::exit(code); };
  if (!desktop.Begin(status)) return status;
  velmora::desktop::StopSignals stops([&desktop] { desktop.StopRequested(); });
  if (parser.isSet(firstWindow)) {
    QApplication::processEvents();
    std::printf("%lld\n", static_cast<long long>(sinceStart.elapsed()));
    return velmora::kExitSucceeded;
  }
  std::unique_ptr<velmora::desktop::StallMeter> meter;
  if (parser.isSet(measure))
    meter = std::make_unique<velmora::desktop::StallMeter>(desktop, parser.value(measure).toInt());
  if (!options.unattended) {
    // Closing the start window ends velmora-gui (unless a run still goes on).
    QObject::connect(qApp, &QApplication::lastWindowClosed, [&desktop] {
      if (!desktop.runWindow() || !desktop.runWindow()->running())
        QApplication::exit(desktop.status());
    });
  }
  const int code = QApplication::exec();
  if (meter) {
    std::printf("stalls: longest %.1f ms, ending %lld ms into the run, %ld beats, progress %d%%\n",
                meter->longestMs(), meter->longestAtMs(), meter->ticks(), meter->progress());
  }
  return code;
}
