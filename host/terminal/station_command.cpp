// velmora station: one operation on many devices at once, a `velmora run --json` child
// per slot. On a terminal the slots' lines are redrawn in place; piped, each change is a
// line of its own (or, with --json, the children's events with their slot).
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "host/core/exit_codes.h"
#include "host/core/json_events.h"
#include "host/core/operation_choice.h"
#include "host/core/plugin_library.h"
#include "host/core/session.h"
#include "host/core/station_runner.h"
#include "host/core/text.h"
#include "host/terminal/commands.h"
#include "host/terminal/interrupts.h"
#include "host/terminal/record_commands.h"

namespace velmora {

namespace {

double Now() {
  using namespace std::chrono;
  static const steady_clock::time_point start = steady_clock::now();
  return duration<double>(steady_clock::now() - start).count();
}

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
  return 80;
}

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

// Lines drawn in place: the cursor goes back up over the last drawing.
class StationView {
 public:
  StationView(const StationModel& model, bool inPlace, bool json)
      : model_(model), inPlace_(inPlace), json_(json) {}

  void Line(int slot, const std::string& line) {
    if (json_) {
      // The child's event with its slot in front.
      if (line.size() > 1 && line[0] == '{') {
        std::printf("{\"slot\":%d,\"slot_device\":%s,%s\n", slot + 1,
                    JsonQuoted(model_.Slot(slot).port).c_str(), line.c_str() + 1);
        std::fflush(stdout);
      }
      return;
    }
    if (inPlace_) return;
    // The end is said once, by Ended, with the serial and the log file.
    const SlotPhase phase = model_.Slot(slot).phase;
    if (phase != SlotPhase::Running && phase != SlotPhase::Waiting) return;
    const std::string text = model_.StatusText(slot);
    std::string& last = lastText_[slot];
    if (text == last || text.empty()) return;
    last = text;
    Plain(slot, text);
  }

  void Ended(int slot) {
    const SlotState& state = model_.Slot(slot);
    if (json_) {
      std::printf(
          "%s\n",
          JsonLine("slot_end")
              .Num("slot", slot + 1)
              .Str("port", state.port)
              .OptStr("serial", state.serial.empty() ? std::optional<std::string>() : state.serial)
              .Str("result", PhaseText(state.phase))
              .OptStr("failure",
                      state.failure.empty() ? std::optional<std::string>() : state.failure)
              .Num("seconds", std::llround(state.endSeconds - state.startSeconds))
              .OptStr("log_file",
                      state.logFile.empty() ? std::optional<std::string>() : state.logFile)
              .Text()
              .c_str());
      std::fflush(stdout);
    } else if (!inPlace_) {
      lastText_[slot].clear();
      std::string text = model_.StatusText(slot);
      if (!state.serial.empty()) text += " (serial " + state.serial + ")";
      if (!state.logFile.empty()) text += ", log file " + state.logFile;
      Plain(slot, text);
    }
  }

  void Draw(bool force) {
    if (!inPlace_ || json_) return;
    const double now = Now();
    if (!force && now - lastDraw_ < 0.2) return;
    lastDraw_ = now;
    const int width = TerminalWidth() - 1;
    std::size_t portWidth = 4;
    for (int i = 0; i < model_.Count(); ++i)
      portWidth = std::max(portWidth, std::min<std::size_t>(model_.Slot(i).port.size(), 28));
    std::string out;
    if (drawn_ > 0) out += "\x1b[" + std::to_string(drawn_) + "F";
    for (int i = 0; i < model_.Count(); ++i) {
      const SlotState& slot = model_.Slot(i);
      std::string port = slot.port;
      if (port.size() > portWidth) port = "..." + port.substr(port.size() - portWidth + 3);
      const bool running = slot.phase == SlotPhase::Running;
      char percent[8];
      std::snprintf(percent, sizeof percent, "%3d%%", slot.progress);
      std::string line =
          Padded(std::to_string(i + 1), 3) + Padded(port, portWidth + 1) + Padded(slot.serial, 11) +
          (running ? ProgressBar(slot.progress, 20) + " " + percent : std::string(27, ' ')) + " " +
          Padded(running ? ClockText(slot.secondsLeft) : "", 8) + model_.StatusText(i);
      if (static_cast<int>(line.size()) > width) line.resize(static_cast<std::size_t>(width));
      out += "\x1b[2K" + line + "\n";
    }
    drawn_ = model_.Count();
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
  }

 private:
  void Plain(int slot, const std::string& text) {
    std::printf("slot %d %s: %s\n", slot + 1, model_.Slot(slot).port.c_str(), text.c_str());
    std::fflush(stdout);
  }

  const StationModel& model_;
  bool inPlace_;
  bool json_;
  int drawn_ = 0;
  double lastDraw_ = -1;
  std::map<int, std::string> lastText_;
};

void PrintTable(const StationModel& model) {
  const std::vector<std::string> head = {"slot",    "port", "serial",  "result",
                                         "failure", "time", "log file"};
  std::vector<std::vector<std::string>> rows;
  for (const StationModel::FinishedRun& run : model.finished) {
    const SlotState& s = run.state;
    std::string failure = s.failure;
    for (char& c : failure)
      if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    if (failure.size() > 70) failure = failure.substr(0, 67) + "...";
    rows.push_back({std::to_string(run.slot + 1), s.port, s.serial, PhaseText(s.phase), failure,
                    ClockText(static_cast<int>(std::lround(s.endSeconds - s.startSeconds))),
                    s.logFile});
  }
  std::vector<std::size_t> widths(head.size());
  for (std::size_t c = 0; c < head.size(); ++c) {
    widths[c] = head[c].size();
    for (const auto& row : rows) widths[c] = std::max(widths[c], row[c].size());
  }
  const auto print = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c)
      line += (c + 1 < row.size() ? Padded(row[c], widths[c] + 2) : row[c]);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  };
  print(head);
  for (const auto& row : rows) print(row);
  std::fflush(stdout);
}

}  // namespace

int StationCommand(const StationOptions& options, Console& console) {
  (void)console;
  if (options.slots.empty()) {
    Complain("station: no slot; give one --slot PORT for each device (or a --config file)");
    return kExitUsage;
  }
  std::set<std::string> seen;
  for (const std::string& slot : options.slots) {
    if (slot.empty()) {
      Complain("station: a --slot needs a port");
      return kExitUsage;
    }
    // Two runs on one port would garble each other's lines.
    if (!seen.insert(slot).second && slot.rfind("sim", 0) != 0) {
      Complain("station: the port " + slot + " is given for two slots");
      return kExitUsage;
    }
  }
  if (options.count && !options.repeat) {
    Complain("station: --count counts the devices of --repeat");
    return kExitUsage;
  }

  // The operation is chosen here once, so that every slot runs the same one and a dump
  // gets its log file.
  int status = kExitFailed;
  std::string error;
  std::unique_ptr<PluginLibrary> plugin = LoadPlugin(options.plugin, error, status);
  if (!plugin) {
    Complain(error);
    return status;
  }
  std::vector<std::string> names;
  for (int i = 0; i < plugin->OperationCount(); ++i) names.push_back(plugin->OperationName(i));
  const int op = ChooseOperation(options.operation, names, error);
  if (op < 0) {
    Complain(error);
    return kExitUsage;
  }
  const bool writesLog =
      Lower(names[static_cast<std::size_t>(op)]).find("dump") != std::string::npos;
  plugin.reset();

  StationSettings settings;
  settings.velmora = OwnExecutable();
  if (settings.velmora.empty()) {
    Complain("station: cannot find velmora's own executable");
    return kExitFailed;
  }
  settings.operation = std::to_string(op);
  settings.repeat = options.repeat;
  settings.count = options.count.value_or(0);
  if (options.logDir && !writesLog) {
    Complain("station: --log-dir: the operation " + names[static_cast<std::size_t>(op)] +
             " writes no log file");
    return kExitUsage;
  }
  if (writesLog) {
    std::error_code ec;
    const std::string dir = options.logDir.value_or(".");
    if (!std::filesystem::is_directory(dir, ec)) {
      Complain("station: --log-dir " + dir + ": no such folder");
      return kExitUsage;
    }
    if (::access(dir.c_str(), W_OK) != 0) {
      Complain("station: --log-dir " + dir + ": cannot write there");
      return kExitUsage;
    }
    settings.logDir = std::filesystem::absolute(dir, ec).lexically_normal().string();
    while (settings.logDir->size() > 1 && settings.logDir->back() == '/')
      settings.logDir->pop_back();
  }
  if (options.traceDir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(*options.traceDir, ec)) {
      Complain("station: --trace-dir " + *options.traceDir + ": no such folder");
      return kExitUsage;
    }
    settings.traceDir =
        std::filesystem::absolute(*options.traceDir, ec).lexically_normal().string();
  }
  std::vector<std::string>& run = settings.runOptions;
  run.insert(run.end(), {"--plugin", options.plugin});
  if (options.firmware) run.insert(run.end(), {"--firmware", *options.firmware});
  if (options.yes) run.push_back("--yes");
  if (options.giveUpAfter)
    run.insert(run.end(), {"--give-up-after", std::to_string(*options.giveUpAfter)});
  if (options.monitorImage) run.insert(run.end(), {"--monitor-image", *options.monitorImage});
  if (options.ledger) run.insert(run.end(), {"--ledger", *options.ledger});

  StationModel model;
  for (const std::string& slot : options.slots) model.Add(slot);
  StationRunner runner(model, settings);
  const bool inPlace = !options.json && ::isatty(STDOUT_FILENO);
  StationView view(model, inPlace, options.json);
  runner.onLine = [&view](int slot, const std::string& line) { view.Line(slot, line); };
  runner.onEnded = [&view](int slot) { view.Ended(slot); };

  InstallInterruptHandler();
  const int interruptsAtStart = InterruptCount();
  int interruptsSeen = interruptsAtStart;
  bool cancelled = false;
  for (int i = 0; i < model.Count(); ++i) {
    if (!runner.Start(i, Now(), error)) {
      Complain("station: slot " + std::to_string(i + 1) + ": " + error);
      SlotState& slot = model.MutableSlot(i);
      slot.phase = SlotPhase::Failed;
      slot.failure = error;
      model.finished.push_back({i, slot});
    }
  }
  view.Draw(true);
  while (runner.AnyRunning()) {
    runner.Poll(200, InterruptWakeFd(), Now);
    if (InterruptCount() != interruptsSeen) {
      DrainInterruptPipe();
      // Each Ctrl-C goes on to every child: the first cancels, the second ends at once.
      for (; interruptsSeen < InterruptCount(); ++interruptsSeen) runner.StopAll();
      cancelled = true;
    }
    view.Draw(false);
  }
  view.Draw(true);
  const int exitStatus = model.ExitStatus(cancelled);
  if (options.json) {
    std::printf("%s\n", JsonLine("station_end")
                            .Num("version", kJsonEventsVersion)
                            .Num("exit", exitStatus)
                            .Num("runs", static_cast<long long>(model.finished.size()))
                            .Text()
                            .c_str());
  } else {
    std::printf("\n");
    PrintTable(model);
  }
  std::fflush(stdout);
  return exitStatus;
}

}  // namespace velmora
