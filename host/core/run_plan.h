// The plan of one run, the same in every front end: what is checked before anything is
// shown or run, the plug-in and the chosen operation, the wizard (the operation's pages,
// then the summary), the line watched during the run with the service record held at
// its first byte, and what is said after it (how it ended, the warnings, the record).
// The front ends decide only how each of these is shown: velmora as lines of text (and
// JSON events for a station), velmora-gui in windows.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/core/dump_watch.h"
#include "host/core/install_settings.h"
#include "host/core/line_tap.h"
#include "host/core/output_guard.h"
#include "host/core/plugin_library.h"
#include "host/core/run_recorder.h"
#include "host/core/run_session.h"
#include "host/core/service_record.h"

namespace velmora {

// Why a run is refused before it starts, and the exit status to end with.
struct PlanRefusal {
  std::string text;
  int status = 0;
};

// The device behind the COM port (--device), outputs that would destroy something or
// never end (each of `outputs`, as "--log-file PATH: why"), and a registry file that is
// none, in that order; each a usage error.
std::optional<PlanRefusal> CheckDeviceAndOutputs(int port, const std::optional<std::string>& device,
                                                 const std::vector<RunFile>& outputs);

// An output naming another or a file the run reads (the catalogue's files, the monitor
// program, `firmwareFile`): a usage error.
std::optional<PlanRefusal> CheckOutputClash(
    const std::vector<RunFile>& outputs,
    const std::optional<std::string>& firmwareFile = std::nullopt);

// The depot's ledger at `url` (a PostgreSQL URL), reached before anything touches the
// port: the store the run's record goes to, local and ledger both. Unreachable: null,
// with the refusal ("...; the run is refused", a failed run). `say` is told what the
// store has to say on the way (the records sent that waited for the ledger).
std::unique_ptr<RecordStore> ReachLedger(const std::string& url,
                                         std::function<void(const std::string&)> say,
                                         PlanRefusal& refusal);

// The plug-in at `path` (null with the refusal when it cannot be loaded).
std::unique_ptr<PluginLibrary> LoadRunPlugin(const std::string& path, PlanRefusal& refusal);
// The plug-in's operations by name.
std::vector<std::string> OperationNames(const PluginLibrary& plugin);
// The operation `word` names (an index or a word of its name); -1 with the refusal.
int ChooseRunOperation(const PluginLibrary& plugin, const std::string& word, PlanRefusal& refusal);

// The host's own resources for the pages, and the installation's settings on the first
// run; what the report says is the front end's to show.
InstallReport SetUpHost();

// How long a run may stand still before it is given up: `given` (0: never), else the
// default for a run somebody watches or not (give_up.h).
std::optional<std::uint32_t> GiveUpLimit(std::optional<std::uint32_t> given, bool watched);

// The wizard of `operation`: its pages, then the summary page with what will be done on
// COM `port`. Shown through the window model's backend; true when it was finished.
bool RunOperationWizard(PluginLibrary& plugin, int operation, int port);

// What a run cancelled in its wizard (or by a stop signal before it began) ends with.
constexpr char kCancelledBeforeRun[] = "Cancelled before the operation started.";

// The line during a run: decoded as it goes (the device's record, the erase), watched
// for a dump that stops short, and held, once it has left the boot ROM (where nothing
// the device keeps can change), until the run's record is stored. `next` (a wire trace,
// or null) hears everything after them; it must outlive the line. Install Tap() for the
// run.
class RunLine {
 public:
  explicit RunLine(platform::WireTap* next = nullptr);
  RunLine(const RunLine&) = delete;
  RunLine& operator=(const RunLine&) = delete;

  platform::WireTap& Tap() { return gate_; }
  // The line waits, once it has left the boot ROM, until `recorder`'s begun record is
  // stored.
  void HoldForRecord(RunRecorder& recorder);
  LineSummary Summary() { return lineTap_.Summary(); }
  bool EraseReachedSoFar() { return lineTap_.EraseReachedSoFar(); }
  // The device's serial number once its record crossed the line.
  std::optional<std::string> SerialSoFar();
  const DumpWatch& Dump() const { return dumpWatch_; }

 private:
  LineTap lineTap_;
  DumpWatch dumpWatch_;
  FirstWriteGate gate_;
};

// What the record is begun with: the operation, the port, and what the wizard's pages
// held when it went on (the firmware entry chosen, the log file; empty for none).
RunStart StartOfRun(const std::string& operationName, int port, const std::string& listText,
                    const std::string& fieldText);

// How a run ended, as every front end says it.
struct RunOutcome {
  int exitStatus = 0;  // given up is failed, not cancelled: nobody stopped it
  std::string word;    // succeeded, cancelled, failed (the record's and the JSON result's)
  std::string line;    // "File system dump failed: no progress for 300 s: gave up."
  std::string end;     // the line without the operation's name and the full stop
};
RunOutcome OutcomeOf(const std::string& operationName, int result, bool gaveUp,
                     const std::string& giveUpReason);
// The outcome's word for an exit status.
const char* ExitWord(int exitStatus);

// What is said after a run besides how it ended; each empty when there is nothing to say.
struct RunWarnings {
  std::string incompleteProgram;  // the erase went out and the run did not succeed
  std::string completeness;       // the plug-in's status that the file's completeness is unknown
  std::string partialDump;        // the log file holds less than the file-system flash
  std::string portProblem;        // what the port knows of its failure
};
RunWarnings WarningsAfterRun(int result, RunLine& line, const std::string& completenessNote,
                             const std::string& logFile, int comPort);

// Finishes the run's record with its outcome; nullopt with `warning` ("warning: no
// service record was kept: ...") when none could be kept, which never fails the run.
std::optional<std::int64_t> FinishRunRecord(RunRecorder& recorder, const RunOutcome& outcome,
                                            const LineSummary& line, std::string& warning);

}  // namespace velmora
