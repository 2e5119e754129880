// velmora list and velmora run: the plug-in's operations, the wizard, the run.
#include <cctype>
#include <memory>
#include <vector>

#include "framework/uimodel.h"
#include "host/core/device_choice.h"
#include "host/core/dump_watch.h"
#include "host/core/exit_codes.h"
#include "host/core/give_up.h"
#include "host/core/host_module.h"
#include "host/core/install_settings.h"
#include "host/core/json_events.h"
#include "host/core/ledger.h"
#include "host/core/line_tap.h"
#include "host/core/operation_choice.h"
#include "host/core/output_guard.h"
#include "host/core/plugin_library.h"
#include "host/core/real_device_help.h"
#include "host/core/run_recorder.h"
#include "host/core/run_session.h"
#include "host/core/run_warnings.h"
#include "host/core/service_record.h"
#include "host/core/session.h"
#include "host/core/summary_page.h"
#include "host/core/wire_trace.h"
#include "host/terminal/commands.h"
#include "host/terminal/host_ui.h"
#include "host/terminal/interrupts.h"
#include "host/terminal/json_run_observer.h"
#include "host/terminal/run_view.h"
#include "platform/clock.h"
#include "platform/comm_port.h"

namespace velmora {

namespace {

// Loads the plug-in; on failure says why and gives the exit status to end with.
std::unique_ptr<PluginLibrary> LoadOrComplain(const std::string& path, int& status) {
  std::string error;
  std::unique_ptr<PluginLibrary> plugin = velmora::LoadPlugin(path, error, status);
  if (!plugin) Complain(error);
  return plugin;
}

// Finishes the run's record; a record that could not be kept is said, never fatal.
std::optional<std::int64_t> FinishRecord(RunRecorder& recorder, const RunEnd& end,
                                         JsonEvents* json) {
  std::string problem;
  const std::optional<std::int64_t> id = recorder.Finish(end, problem);
  if (!id) {
    const std::string text = "warning: no service record was kept: " + problem;
    Complain(text);
    if (json) json->Warning(text);
  }
  return id;
}

void SetUpInstallation(Console& console) {
  const InstallReport report = EnsureInstallSettings(DefaultDataDirectory());
  if (!report.problem.empty()) Complain("warning: " + report.problem);
  if (report.wroteInstallDirectory) {
    console.PrintLine("First run: Velmora keeps its files in " + report.installDirectory);
  }
}

}  // namespace

int ListCommand(const std::string& pluginPath, Console& console) {
  int status = kExitFailed;
  std::unique_ptr<PluginLibrary> plugin = LoadOrComplain(pluginPath, status);
  if (!plugin) return status;
  const int count = plugin->OperationCount();
  size_t width = 0;
  for (int i = 0; i < count; ++i) width = std::max(width, plugin->OperationName(i).size());
  for (int i = 0; i < count; ++i) {
    std::string name = plugin->OperationName(i);
    name.resize(width, ' ');
    console.PrintLine(std::to_string(i) + "  " + name + "  " + plugin->OperationDescription(i));
  }
  return kExitSucceeded;
}

int RunCommand(const RunOptions& options, Console& console) {
  const int interruptsAtStart = InterruptCount();

  // What COM<port> is, and the clock the run keeps.
  if (options.device) {
    std::string error;
    if (!UseDevice(options.port, *options.device, error)) {
      Complain(error);
      return kExitUsage;
    }
  }

  // Outputs that would destroy something are refused before anything is shown or run.
  for (const auto& [option, path] :
       {std::pair{"--trace", options.trace}, std::pair{"--log-file", options.logFile}}) {
    if (!path || path->empty()) continue;
    if (const std::optional<std::string> problem = OutputProblem(*path)) {
      Complain(std::string(option) + " " + *path + ": " + *problem);
      return kExitUsage;
    }
  }
  if (!RegistryUsable()) return kExitUsage;

  // The depot's ledger is reached before anything touches the port: a run whose record
  // the depot would not see is refused, not run unrecorded.
  std::unique_ptr<RecordStore> records;
  if (const std::optional<std::string> url = LedgerUrlInUse(options.ledger)) {
    const std::string shown = MaskedLedgerUrl(*url);
    if (!IsLedgerUrl(*url)) {
      Complain("--ledger " + shown + ": not a PostgreSQL URL (postgresql://USER@HOST/DATABASE)");
      return kExitUsage;
    }
    std::string error;
    std::unique_ptr<Ledger> ledger = ConnectLedger(*url, error);
    if (ledger) {
      JsonEvents* json = options.json;
      records = OpenRunRecordStore(
          std::move(ledger), shown,
          [&console, json](const std::string& text) {
            console.PrintLine(text);
            if (json && text.rfind("warning: ", 0) == 0) json->Warning(text.substr(9));
          },
          error);
    }
    if (!records) {
      Complain(error + "; the run is refused");
      return kExitFailed;
    }
  }

  // The plug-in reads the monitor program itself, once per run, and fails the run with
  // its own text when the file cannot be used; only an empty name is ours to refuse.
  if (options.monitorImage) {
    std::string error;
    if (!UseMonitorImage(*options.monitorImage, error)) {
      Complain(error);
      return kExitUsage;
    }
  }

  // The trace is opened (and emptied) before anything else: it must not be the log file
  // or anything the run reads.
  {
    std::vector<RunFile> outputs;
    if (options.trace && !options.trace->empty()) outputs.push_back({"--trace", *options.trace});
    if (options.logFile && !options.logFile->empty())
      outputs.push_back({"--log-file", *options.logFile});
    if (const std::optional<std::string> clash = OutputClash(outputs, RunInputs())) {
      Complain(*clash);
      return kExitUsage;
    }
  }

  TraceFile traceFile;
  if (options.trace) {
    if (const DWORD error = traceFile.Open(*options.trace)) {
      Complain("cannot write the trace file " + *options.trace + ": error " + ErrorText(error));
      return kExitUsage;
    }
  }

  int status = kExitFailed;
  std::unique_ptr<PluginLibrary> plugin = LoadOrComplain(options.plugin, status);
  if (!plugin) return status;

  std::vector<std::string> names;
  for (int i = 0; i < plugin->OperationCount(); ++i) names.push_back(plugin->OperationName(i));
  std::string error;
  const int op = ChooseOperation(options.operation, names, error);
  if (op < 0) {
    Complain(error);
    return kExitUsage;
  }

  if (options.json) {
    options.json->Write(JsonLine("start")
                            .Num("version", kJsonEventsVersion)
                            .Str("operation", names[static_cast<std::size_t>(op)])
                            .Num("port", options.port)
                            .OptStr("device", options.device));
  }
  RegisterHostModule();
  SetUpInstallation(console);

  UiSettings settings;
  settings.interactive = console.InputIsTerminal() && !options.firmware && !options.logFile;
  settings.yes = options.yes;
  settings.listChoice = options.firmware;
  settings.editText = options.logFile;
  // The run's record, begun once the run starts; a failure box's number goes into it.
  // With a ledger the store that also writes to it, reached above; else the local one.
  RunRecorder recorder(
      records ? RecordStoreOpener([&records](std::string&) { return std::move(records); })
              : RecordStoreOpener(OpenRecordStore));
  {
    JsonEvents* json = options.json;
    settings.boxSeen = [json, &recorder](const std::string& text, const std::string& answer) {
      recorder.BoxShown(text);
      if (json) json->Box(text, answer);
    };
  }
  auto ui = std::make_shared<HostUi>(console, settings);
  uimodel::BackendScope backendScope(ui);

  // The wizard: the operation's pages, then ours.
  {
    CPropertySheet sheet("Velmora");
    const int pages = plugin->PageCount(op);
    for (int p = 0; p < pages; ++p) {
      if (CPropertyPage* page = plugin->Page(op, p)) sheet.AddPage(page);
    }
    const PluginLibrary& lib = *plugin;
    const int port = options.port;
    SummaryPage summary([&lib, op, port] { return MakeSummaryTexts(lib, op, port); },
                        sheet.GetPageCount() > 0);
    sheet.AddPage(&summary);
    sheet.SetWizardMode();
    sheet.DoModal();
    switch (ui->LastWizardEnd()) {
      case HostUi::WizardEnd::Finished:
        break;
      case HostUi::WizardEnd::Refused:
      case HostUi::WizardEnd::BadInput:
        Complain(ui->WizardProblem());
        return kExitUsage;
      case HostUi::WizardEnd::Cancelled:
        console.PrintLine("Cancelled before the operation started.");
        return kExitCancelled;
    }
  }
  if (InterruptCount() != interruptsAtStart) {
    console.PrintLine("Cancelled before the operation started.");
    return kExitCancelled;
  }

  if (options.json) {
    if (options.firmware)
      options.json->Write(
          JsonLine("input").Str("field", "firmware").Str("value", *options.firmware));
    if (options.logFile)
      options.json->Write(
          JsonLine("input").Str("field", "log_file").Str("value", *options.logFile));
  }

  // The run. The trace's time starts with it. The line is watched for a dump that stops
  // short, whose log file would otherwise look like a whole one, and decoded as it goes.
  std::unique_ptr<WireTrace> trace;
  if (options.trace) trace = std::make_unique<WireTrace>(traceFile);
  LineTap lineTap(trace.get());
  DumpWatch dumpWatch(&lineTap);
  FirstWriteGate recordGate(&dumpWatch);
  recordGate.onFirstWrite = [&recorder] { recorder.WaitBegun(); };
  recordGate.mayChangeDevice = [&lineTap] { return lineTap.PastBootRom(); };
  WireTapScope tapScope(&recordGate);
  RunView view(console);
  view.SetOutputFile(ui->FieldText());
  JsonRunObserver jsonView(view, options.json);
  if (options.json) {
    jsonView.SerialProbe([&lineTap]() -> std::optional<std::string> {
      const LineSummary line = lineTap.Summary();
      if (line.record && line.record->serial && !line.record->serial->empty())
        return line.record->serial;
      return std::nullopt;
    });
  }
  RunSession session([&plugin](RunRecord& record) { return plugin->DoOperation(record); },
                     jsonView);
  ui->BeginRun();
  std::optional<std::uint32_t> giveUp = options.giveUpSeconds;
  if (!giveUp) giveUp = DefaultGiveUpSeconds(console.InputIsTerminal());
  if (giveUp && *giveUp == 0) giveUp.reset();
  session.GiveUpAfter(giveUp);
  // Written while the port opens: the begun record's disk sync need not hold the run up.
  recorder.Begin(
      RunStart{names[static_cast<std::size_t>(op)], options.port, ComPortTarget(options.port),
               ui->ListText().empty() ? std::nullopt : std::optional<std::string>(ui->ListText()),
               ui->FieldText()});
  const int result = session.Run(RunRequest{op, options.port});
  view.Ended(result, session.GaveUp());
  ui->EndRun();
  DWORD traceError = ERROR_SUCCESS;
  if (trace) {
    traceError = trace->Finish();
    const DWORD closed = traceFile.Close();
    if (traceError == ERROR_SUCCESS) traceError = closed;
  }
  const std::string runEnd =
      session.GaveUp() ? "failed: " + session.GiveUpReason() : std::string(ResultText(result));
  console.PrintLine(plugin->OperationName(op) + " " + runEnd + ".");
  // Said before the connection, where a long run's output buries it.
  if (!view.CompletenessNote().empty()) {
    console.PrintLine("Note: " + view.CompletenessNote());
    if (options.json) options.json->Warning(view.CompletenessNote());
  }
  const LineSummary line = lineTap.Summary();
  if (ProgramMayBeIncomplete(result, line)) {
    console.PrintLine(IncompleteProgramWarning());
    if (options.json) options.json->Warning(IncompleteProgramWarning());
  }
  if (result != OPERATION_SUCCEEDED) {
    if (const std::string partial = PartialDumpText(ui->FieldText(), dumpWatch); !partial.empty()) {
      console.PrintLine(partial);
      if (options.json) options.json->Warning(partial);
    }
  }
  if (result != OPERATION_SUCCEEDED) {
    if (const std::string why = PortOpenProblem(options.port); !why.empty()) {
      console.PrintLine(why);
      if (options.json) options.json->Warning(why);
    }
  }
  const std::optional<std::string> serial =
      line.record ? line.record->serial : std::optional<std::string>();
  if (traceError != ERROR_SUCCESS) {
    // The device side is told apart, so that nobody repeats a run that worked.
    const std::string problem = "the wire trace " + *options.trace +
                                " could not be written: error " + ErrorText(traceError) +
                                "; it is incomplete. The run itself: " + plugin->OperationName(op) +
                                " " + runEnd + ".";
    Complain(problem);
    const std::optional<std::int64_t> id =
        FinishRecord(recorder, RunEnd{"failed", kExitFailed, line}, options.json);
    if (options.json) {
      options.json->Warning(problem);
      options.json->Result(kExitFailed, "failed", serial, id);
    }
    return kExitFailed;
  }
  if (options.trace) console.PrintLine("Wire trace: " + *options.trace);
  // Given up is not cancelled: for a script the run did not succeed and nobody stopped it.
  const int exitStatus = session.GaveUp() ? kExitFailed : ExitStatusForResult(result);
  const std::string resultWord = exitStatus == kExitSucceeded   ? "succeeded"
                                 : exitStatus == kExitCancelled ? "cancelled"
                                                                : "failed";
  const std::optional<std::int64_t> id =
      FinishRecord(recorder, RunEnd{resultWord, exitStatus, line}, options.json);
  if (options.json) options.json->Result(exitStatus, resultWord, serial, id);
  return exitStatus;
}

}  // namespace velmora
