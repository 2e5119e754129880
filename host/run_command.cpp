// velmora list and velmora run: the plug-in's operations, the wizard, the run.
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "host/commands.h"
#include "host/device_choice.h"
#include "host/exit_codes.h"
#include "host/host_module.h"
#include "host/host_ui.h"
#include "host/install_settings.h"
#include "host/interrupts.h"
#include "host/operation_choice.h"
#include "host/plugin_library.h"
#include "host/real_device_help.h"
#include "host/run_session.h"
#include "host/summary_page.h"
#include "host/wire_trace.h"
#include "platform/clock.h"
#include "platform/comm_port.h"
#include "framework/uimodel.h"

namespace velmora {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Loads the plug-in; on failure says why and gives the exit status to end with.
std::unique_ptr<PluginLibrary> LoadPlugin(const std::string& path, int& status) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    Complain("no plug-in at " + path + " (give its path with --plugin)");
    status = kExitUsage;
    return nullptr;
  }
  try {
    return std::make_unique<PluginLibrary>(path);
  } catch (const PluginError& e) {
    Complain(e.what());
    status = kExitFailed;
    return nullptr;
  }
}

void SetUpInstallation(Console& console) {
  const InstallReport report = EnsureInstallSettings(DefaultDataDirectory());
  if (!report.problem.empty()) Complain("warning: " + report.problem);
  if (report.wroteInstallDirectory) {
    console.PrintLine("First run: Velmora keeps its files in " + report.installDirectory);
  }
}

// Installs and removes process-wide things for the length of a run command.
class WireTapScope {
 public:
  explicit WireTapScope(platform::WireTap* tap) { platform::SetWireTap(tap); }
  ~WireTapScope() { platform::SetWireTap(nullptr); }
  WireTapScope(const WireTapScope&) = delete;
  WireTapScope& operator=(const WireTapScope&) = delete;
};

const char* ResultText(int result) {
  switch (result) {
    case OPERATION_SUCCEEDED: return "succeeded";
    case OPERATION_CANCELED: return "was cancelled";
    default: return "failed";
  }
}

}  // namespace

int ListCommand(const std::string& pluginPath, Console& console) {
  int status = kExitFailed;
  std::unique_ptr<PluginLibrary> plugin = LoadPlugin(pluginPath, status);
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
  static platform::VirtualClock virtualClock;
  if (options.device) {
    std::string error;
    const std::optional<DeviceChoice> device = ParseDeviceChoice(*options.device, error);
    if (!device) {
      Complain(error);
      return kExitUsage;
    }
    ::setenv(ComVariable(options.port).c_str(), device->name.c_str(), 1);
    // The simulated device's minutes pass in milliseconds unless asked otherwise.
    if (device->simulator && !device->realtime) platform::SetClock(&virtualClock);
  }

  // The plug-in reads the monitor program itself, once per run, and fails the run with
  // its own text when the file cannot be used; only an empty name is ours to refuse.
  if (options.monitorImage) {
    if (options.monitorImage->empty()) {
      Complain("--monitor-image needs the path of a file");
      return kExitUsage;
    }
    // Made absolute, so that the failure box and the wire trace name the file whole.
    std::error_code ignored;
    std::filesystem::path path = std::filesystem::absolute(*options.monitorImage, ignored);
    if (path.empty()) path = *options.monitorImage;
    ::setenv(kMonitorImageVariable, path.c_str(), 1);
  }

  std::ofstream traceFile;
  if (options.trace) {
    traceFile.open(*options.trace, std::ios::out | std::ios::trunc);
    if (!traceFile) {
      Complain("cannot write the trace file " + *options.trace);
      return kExitUsage;
    }
  }

  int status = kExitFailed;
  std::unique_ptr<PluginLibrary> plugin = LoadPlugin(options.plugin, status);
  if (!plugin) return status;

  std::vector<std::string> names;
  for (int i = 0; i < plugin->OperationCount(); ++i) names.push_back(plugin->OperationName(i));
  std::string error;
  const int op = ChooseOperation(options.operation, names, error);
  if (op < 0) {
    Complain(error);
    return kExitUsage;
  }

  RegisterHostModule();
  SetUpInstallation(console);

  UiSettings settings;
  settings.interactive = console.InputIsTerminal() && !options.firmware && !options.logFile;
  settings.yes = options.yes;
  settings.listChoice = options.firmware;
  settings.editText = options.logFile;
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
    SummaryPage summary(
        [&lib, op, port] {
          SummaryTexts texts;
          std::string lower = lib.Text(op, 2).value_or(std::string());
          if (lower.empty()) lower = Lower(lib.OperationName(op));
          texts.intro = "Velmora is ready to start the " + lower + ".";
          texts.summary = lib.Text(op, 0).value_or(std::string());
          texts.connect = FillComPort(lib.Text(op, 1).value_or(std::string()), port);
          const std::string done = lib.Text(op, 3).value_or(std::string());
          if (!done.empty()) texts.completion = "When it is done: " + done;
          return texts;
        },
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

  // The run. The trace's time starts with it.
  std::unique_ptr<WireTrace> trace;
  if (options.trace) trace = std::make_unique<WireTrace>(traceFile);
  WireTapScope tapScope(trace.get());
  RunView view(console);
  RunSession session([&plugin](RunRecord& record) { return plugin->DoOperation(record); }, view);
  ui->BeginRun();
  const int result = session.Run(RunRequest{op, options.port});
  ui->EndRun();
  if (trace) trace->Flush();
  console.PrintLine(plugin->OperationName(op) + " " + ResultText(result) + ".");
  if (options.trace) console.PrintLine("Wire trace: " + *options.trace);
  return ExitStatusForResult(result);
}

}  // namespace velmora
