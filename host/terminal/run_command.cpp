// velmora list and velmora run: the plug-in's operations, the wizard, the run.
#include <cctype>
#include <memory>
#include <vector>

#include "framework/uimodel.h"
#include "host/core/exit_codes.h"
#include "host/core/json_events.h"
#include "host/core/ledger.h"
#include "host/core/output_guard.h"
#include "host/core/run_plan.h"
#include "host/core/run_recorder.h"
#include "host/core/run_session.h"
#include "host/core/service_record.h"
#include "host/core/session.h"
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

// Finishes the run's record; a record that could not be kept is said, never fatal.
std::optional<std::int64_t> FinishRecord(RunRecorder& recorder, const RunOutcome& outcome,
                                         const LineSummary& line, JsonEvents* json) {
  std::string warning;
  const std::optional<std::int64_t> id = FinishRunRecord(recorder, outcome, line, warning);
  if (!id) {
    Complain(warning);
    if (json) json->Warning(warning);
  }
  return id;
}

}  // namespace

int ListCommand(const std::string& pluginPath, Console& console) {
  PlanRefusal refusal;
  std::unique_ptr<PluginLibrary> plugin = LoadRunPlugin(pluginPath, refusal);
  if (!plugin) {
    Complain(refusal.text);
    return refusal.status;
  }
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
  const auto refused = [](const PlanRefusal& refusal) {
    Complain(refusal.text);
    return refusal.status;
  };

  // What COM<port> is, and outputs that would destroy something, refused before anything
  // is shown or run.
  const std::vector<RunFile> outputs = {{"--trace", options.trace.value_or("")},
                                        {"--log-file", options.logFile.value_or("")}};
  if (const std::optional<PlanRefusal> refusal =
          CheckDeviceAndOutputs(options.port, options.device, outputs))
    return refused(*refusal);

  // The depot's ledger is reached before anything touches the port: a run whose record
  // the depot would not see is refused, not run unrecorded.
  std::unique_ptr<RecordStore> records;
  if (const std::optional<std::string> url = LedgerUrlInUse(options.ledger)) {
    if (!IsLedgerUrl(*url)) {
      Complain("--ledger " + MaskedLedgerUrl(*url) +
               ": not a PostgreSQL URL (postgresql://USER@HOST/DATABASE)");
      return kExitUsage;
    }
    JsonEvents* json = options.json;
    PlanRefusal refusal;
    records = ReachLedger(
        *url,
        [&console, json](const std::string& text) {
          console.PrintLine(text);
          if (json && text.rfind("warning: ", 0) == 0) json->Warning(text.substr(9));
        },
        refusal);
    if (!records) return refused(refusal);
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
  if (const std::optional<PlanRefusal> refusal = CheckOutputClash(outputs))
    return refused(*refusal);

  TraceFile traceFile;
  if (options.trace) {
    if (const DWORD error = traceFile.Open(*options.trace)) {
      Complain("cannot write the trace file " + *options.trace + ": error " + ErrorText(error));
      return kExitUsage;
    }
  }

  PlanRefusal refusal;
  std::unique_ptr<PluginLibrary> plugin = LoadRunPlugin(options.plugin, refusal);
  if (!plugin) return refused(refusal);
  const int op = ChooseRunOperation(*plugin, options.operation, refusal);
  if (op < 0) return refused(refusal);
  const std::string operationName = plugin->OperationName(op);

  if (options.json) {
    options.json->Write(JsonLine("start")
                            .Num("version", kJsonEventsVersion)
                            .Str("operation", operationName)
                            .Num("port", options.port)
                            .OptStr("device", options.device));
  }
  const InstallReport report = SetUpHost();
  if (!report.problem.empty()) Complain("warning: " + report.problem);
  if (report.wroteInstallDirectory)
    console.PrintLine("First run: Velmora keeps its files in " + report.installDirectory);

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

  RunOperationWizard(*plugin, op, options.port);
  switch (ui->LastWizardEnd()) {
    case HostUi::WizardEnd::Finished:
      break;
    case HostUi::WizardEnd::Refused:
    case HostUi::WizardEnd::BadInput:
      Complain(ui->WizardProblem());
      return kExitUsage;
    case HostUi::WizardEnd::Cancelled:
      console.PrintLine(kCancelledBeforeRun);
      return kExitCancelled;
  }
  if (InterruptCount() != interruptsAtStart) {
    console.PrintLine(kCancelledBeforeRun);
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

  // The run. The trace's time starts with it.
  std::unique_ptr<WireTrace> trace;
  if (options.trace) trace = std::make_unique<WireTrace>(traceFile);
  RunLine line(trace.get());
  line.HoldForRecord(recorder);
  WireTapScope tapScope(&line.Tap());
  RunView view(console);
  view.SetOutputFile(ui->FieldText());
  JsonRunObserver jsonView(view, options.json);
  if (options.json) jsonView.SerialProbe([&line] { return line.SerialSoFar(); });
  RunSession session([&plugin](RunRecord& record) { return plugin->DoOperation(record); },
                     jsonView);
  ui->BeginRun();
  session.GiveUpAfter(GiveUpLimit(options.giveUpSeconds, console.InputIsTerminal()));
  // Written while the port opens: the begun record's disk sync need not hold the run up.
  recorder.Begin(StartOfRun(operationName, options.port, ui->ListText(), ui->FieldText()));
  const int result = session.Run(RunRequest{op, options.port});
  view.Ended(result, session.GaveUp());
  ui->EndRun();
  DWORD traceError = ERROR_SUCCESS;
  if (trace) {
    traceError = trace->Finish();
    const DWORD closed = traceFile.Close();
    if (traceError == ERROR_SUCCESS) traceError = closed;
  }
  const RunOutcome outcome =
      OutcomeOf(operationName, result, session.GaveUp(), session.GiveUpReason());
  console.PrintLine(outcome.line);
  const auto warn = [&console, &options](const std::string& text) {
    if (text.empty()) return;
    console.PrintLine(text);
    if (options.json) options.json->Warning(text);
  };
  // Said before the connection, where a long run's output buries it.
  const RunWarnings warnings =
      WarningsAfterRun(result, line, view.CompletenessNote(), ui->FieldText(), options.port);
  if (!warnings.completeness.empty()) {
    console.PrintLine("Note: " + warnings.completeness);
    if (options.json) options.json->Warning(warnings.completeness);
  }
  warn(warnings.incompleteProgram);
  warn(warnings.partialDump);
  warn(warnings.portProblem);
  const LineSummary summary = line.Summary();
  const std::optional<std::string> serial =
      summary.record ? summary.record->serial : std::optional<std::string>();
  if (traceError != ERROR_SUCCESS) {
    // The device side is told apart, so that nobody repeats a run that worked.
    const std::string problem = "the wire trace " + *options.trace +
                                " could not be written: error " + ErrorText(traceError) +
                                "; it is incomplete. The run itself: " + outcome.line;
    Complain(problem);
    const RunOutcome failed{kExitFailed, "failed", outcome.line, outcome.end};
    const std::optional<std::int64_t> id = FinishRecord(recorder, failed, summary, options.json);
    if (options.json) {
      options.json->Warning(problem);
      options.json->Result(kExitFailed, "failed", serial, id);
    }
    return kExitFailed;
  }
  if (options.trace) console.PrintLine("Wire trace: " + *options.trace);
  const std::optional<std::int64_t> id = FinishRecord(recorder, outcome, summary, options.json);
  if (options.json) options.json->Result(outcome.exitStatus, outcome.word, serial, id);
  return outcome.exitStatus;
}

}  // namespace velmora
