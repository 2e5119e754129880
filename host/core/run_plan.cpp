#include "host/core/run_plan.h"

#include "host/core/exit_codes.h"
#include "host/core/give_up.h"
#include "host/core/host_module.h"
#include "host/core/ledger.h"
#include "host/core/operation_choice.h"
#include "host/core/registry_files.h"
#include "host/core/run_warnings.h"
#include "host/core/session.h"
#include "host/core/summary_page.h"

namespace velmora {

std::optional<PlanRefusal> CheckDeviceAndOutputs(int port, const std::optional<std::string>& device,
                                                 const std::vector<RunFile>& outputs) {
  if (device) {
    std::string error;
    if (!UseDevice(port, *device, error)) return PlanRefusal{error, kExitUsage};
  }
  for (const RunFile& output : outputs) {
    if (output.path.empty()) continue;
    if (const std::optional<std::string> problem = OutputProblem(output.path))
      return PlanRefusal{output.what + " " + output.path + ": " + *problem, kExitUsage};
  }
  // A file that is no registry would read as an empty one, and what the run writes there
  // would be lost.
  if (const std::optional<std::string> problem = RegistryProblem())
    return PlanRefusal{*problem, kExitUsage};
  return std::nullopt;
}

std::optional<PlanRefusal> CheckOutputClash(const std::vector<RunFile>& outputs,
                                            const std::optional<std::string>& firmwareFile) {
  std::vector<RunFile> given;
  for (const RunFile& output : outputs) {
    if (!output.path.empty()) given.push_back(output);
  }
  if (given.empty()) return std::nullopt;
  if (const std::optional<std::string> clash = OutputClash(given, RunInputs(firmwareFile)))
    return PlanRefusal{*clash, kExitUsage};
  return std::nullopt;
}

std::unique_ptr<RecordStore> ReachLedger(const std::string& url,
                                         std::function<void(const std::string&)> say,
                                         PlanRefusal& refusal) {
  std::string error;
  std::unique_ptr<RecordStore> records;
  if (std::unique_ptr<Ledger> ledger = ConnectLedger(url, error))
    records = OpenRunRecordStore(std::move(ledger), MaskedLedgerUrl(url), std::move(say), error);
  if (!records) refusal = PlanRefusal{error + "; the run is refused", kExitFailed};
  return records;
}

std::unique_ptr<PluginLibrary> LoadRunPlugin(const std::string& path, PlanRefusal& refusal) {
  refusal.status = kExitFailed;
  std::unique_ptr<PluginLibrary> plugin = LoadPlugin(path, refusal.text, refusal.status);
  return plugin;
}

std::vector<std::string> OperationNames(const PluginLibrary& plugin) {
  std::vector<std::string> names;
  for (int i = 0; i < plugin.OperationCount(); ++i) names.push_back(plugin.OperationName(i));
  return names;
}

int ChooseRunOperation(const PluginLibrary& plugin, const std::string& word, PlanRefusal& refusal) {
  const int op = ChooseOperation(word, OperationNames(plugin), refusal.text);
  if (op < 0) refusal.status = kExitUsage;
  return op;
}

InstallReport SetUpHost() {
  RegisterHostModule();
  return EnsureInstallSettings(DefaultDataDirectory());
}

std::optional<std::uint32_t> GiveUpLimit(std::optional<std::uint32_t> given, bool watched) {
  std::optional<std::uint32_t> limit = given;
  if (!limit) limit = DefaultGiveUpSeconds(watched);
  if (limit && *limit == 0) limit.reset();
  return limit;
}

bool RunOperationWizard(PluginLibrary& plugin, int operation, int port) {
  CPropertySheet sheet("Velmora");
  for (int p = 0; p < plugin.PageCount(operation); ++p) {
    if (CPropertyPage* page = plugin.Page(operation, p)) sheet.AddPage(page);
  }
  const PluginLibrary& lib = plugin;
  SummaryPage summary([&lib, operation, port] { return MakeSummaryTexts(lib, operation, port); },
                      sheet.GetPageCount() > 0);
  sheet.AddPage(&summary);
  sheet.SetWizardMode();
  sheet.DoModal();
  return sheet.IsFinished();
}

RunLine::RunLine(platform::WireTap* next)
    : lineTap_(next), dumpWatch_(&lineTap_), gate_(&dumpWatch_) {
  gate_.mayChangeDevice = [this] { return lineTap_.PastBootRom(); };
}

void RunLine::HoldForRecord(RunRecorder& recorder) {
  RunRecorder* held = &recorder;
  gate_.onFirstWrite = [held] { held->WaitBegun(); };
}

std::optional<std::string> RunLine::SerialSoFar() {
  const LineSummary line = lineTap_.Summary();
  if (line.record && line.record->serial && !line.record->serial->empty())
    return line.record->serial;
  return std::nullopt;
}

RunStart StartOfRun(const std::string& operationName, int port, const std::string& listText,
                    const std::string& fieldText) {
  return RunStart{operationName, port, ComPortTarget(port),
                  listText.empty() ? std::nullopt : std::optional<std::string>(listText),
                  fieldText};
}

const char* ExitWord(int exitStatus) {
  return exitStatus == kExitSucceeded   ? "succeeded"
         : exitStatus == kExitCancelled ? "cancelled"
                                        : "failed";
}

RunOutcome OutcomeOf(const std::string& operationName, int result, bool gaveUp,
                     const std::string& giveUpReason) {
  RunOutcome outcome;
  outcome.exitStatus = gaveUp ? kExitFailed : ExitStatusForResult(result);
  outcome.word = ExitWord(outcome.exitStatus);
  outcome.end = gaveUp ? "failed: " + giveUpReason : std::string(ResultText(result));
  outcome.line = operationName + " " + outcome.end + ".";
  return outcome;
}

RunWarnings WarningsAfterRun(int result, RunLine& line, const std::string& completenessNote,
                             const std::string& logFile, int comPort) {
  RunWarnings warnings;
  if (ProgramMayBeIncomplete(result, line.Summary()))
    warnings.incompleteProgram = IncompleteProgramWarning();
  warnings.completeness = completenessNote;
  if (result != OPERATION_SUCCEEDED) {
    warnings.partialDump = PartialDumpText(logFile, line.Dump());
    warnings.portProblem = PortOpenProblem(comPort);
  }
  return warnings;
}

std::optional<std::int64_t> FinishRunRecord(RunRecorder& recorder, const RunOutcome& outcome,
                                            const LineSummary& line, std::string& warning) {
  std::string problem;
  const std::optional<std::int64_t> id =
      recorder.Finish(RunEnd{outcome.word, outcome.exitStatus, line}, problem);
  warning = id ? std::string() : "warning: no service record was kept: " + problem;
  return id;
}

}  // namespace velmora
