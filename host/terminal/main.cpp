// velmora: the host application. It loads a device plug-in, shows the chosen
// operation's wizard pages on the terminal (or fills them from the command line), runs
// the operation with its status texts and progress, and answers its questions.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "host/core/exit_codes.h"
#include "host/core/plugin_library.h"
#include "host/core/real_device_help.h"
#include "host/core/session.h"
#include "host/terminal/commands.h"
#include "host/terminal/interrupts.h"
#include "sim/sim_port.h"

namespace {

constexpr const char* kRunFooter = R"(
OPERATION is the index shown by "velmora list" or a word of the operation's name
(for example upgrade, config, dump).

--device says what the COM port is: a device path such as /dev/ttyUSB0, or
sim[:key=value,...] for the built-in simulated device (see "kv70sim --help" for its
settings; with realtime=1 it keeps wall-clock time, else device minutes pass in
milliseconds).

With a terminal on standard input and no page inputs, velmora asks: the wizard pages,
the summary and every message box. Otherwise nothing is asked: pages are filled from
--firmware and --log-file and Next is pressed, OK boxes are taken, and questions are
answered No unless --yes. Ctrl-C cancels a run; a second Ctrl-C while a question waits
ends velmora.

Exit status: 0 succeeded, 1 failed, 2 cancelled, 64 wrong usage (including a page that
did not accept the page inputs).)";

void AddRegistryOption(CLI::App& command, std::string& registry) {
  command.add_option("--registry", registry,
                     "registry database to use (default: $VELMORA_REGISTRY, else "
                     "~/.config/velmora/registry.db)");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velmora;
  CLI::App app{"velmora: maintains a device through its plug-in, over a serial line."};
  app.require_subcommand(1);

  std::string plugin = DefaultPluginPath();
  std::string registry;

  CLI::App* list = app.add_subcommand("list", "list the plug-in's operations");
  list->add_option("--plugin", plugin, "the device plug-in (default: DevKV70.so beside velmora)");

  RunOptions run;
  std::string firmware;
  std::string logFile;
  std::string device;
  std::string trace;
  std::string monitorImage;
  CLI::App* runCommand = app.add_subcommand("run", "run one operation of the plug-in");
  runCommand->add_option("OPERATION", run.operation, "index or name word of the operation")->required();
  runCommand->add_option("--port", run.port, "COM port number, 1 to 6")
      ->check(CLI::Range(1, 6))
      ->default_val(1);
  runCommand->add_option("--device", device, "what the COM port is: a device path or sim[:key=value,...]");
  runCommand->add_option("--plugin", plugin, "the device plug-in (default: DevKV70.so beside velmora)");
  AddRegistryOption(*runCommand, registry);
  runCommand->add_flag("--yes", run.yes, "answer Yes to the operation's questions");
  runCommand->add_option("--trace", trace, "write every byte on the line to FILE");
  runCommand->add_option(
      "--monitor-image", monitorImage,
      "the KV70's own 8554-byte flash monitor program (sets VELMORA_KV70_MONITOR)");
  runCommand->add_option("--firmware", firmware,
                         "page input: select the list item with this text (the firmware's description)");
  runCommand->add_option("--log-file", logFile, "page input: the file name for the page's field");
  runCommand->footer(std::string(kRunFooter) + "\n\n" + RealDeviceHelp());

  CLI::App* registryCommand = app.add_subcommand("registry", "import or export registry files (REGEDIT4)");
  registryCommand->require_subcommand(1);
  std::string importFile;
  CLI::App* import = registryCommand->add_subcommand("import", "merge a .reg file into the registry");
  import->add_option("FILE", importFile, "the .reg file")->required()->check(CLI::ExistingFile);
  AddRegistryOption(*import, registry);
  std::string exportFile;
  std::string exportKey;
  CLI::App* exportCommand = registryCommand->add_subcommand("export", "write the registry, or one key, to a .reg file");
  exportCommand->add_option("FILE", exportFile, "the .reg file to write")->required();
  exportCommand->add_option("KEY", exportKey, "full key name, e.g. HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell");
  AddRegistryOption(*exportCommand, registry);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitSucceeded : kExitUsage;
  }

  if (!registry.empty()) {
    std::string error;
    if (!UseRegistry(registry, error)) {
      Complain(error);
      return kExitUsage;
    }
  }

  Console console(STDIN_FILENO, stdout);
  int status = kExitFailed;
  if (*list) {
    status = ListCommand(plugin, console);
  } else if (*runCommand) {
    InstallInterruptHandler();
    kv70sim::RegisterInProcessBackend();
    run.plugin = plugin;
    if (runCommand->count("--device")) run.device = device;
    if (runCommand->count("--trace")) run.trace = trace;
    if (runCommand->count("--monitor-image")) run.monitorImage = monitorImage;
    if (runCommand->count("--firmware")) run.firmware = firmware;
    if (runCommand->count("--log-file")) run.logFile = logFile;
    status = RunCommand(run, console);
  } else if (*import) {
    status = RegistryImportCommand(importFile, console);
  } else if (*exportCommand) {
    status = RegistryExportCommand(exportFile, exportKey, console);
  }
  std::fflush(nullptr);
  return status;
}
